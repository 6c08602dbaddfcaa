// nwinspect's figures: the program on the example's wifi.hex as a process (start-up included, output
// to /dev/null), the same inspection in process, and the disassembly of a script whose byte code is
// close to the 64 KiB the compiler allows. Each figure is the median over the rounds, as elapsed time and
// as CPU time (the child's user + system time; this thread's CPU time in process), which the other load
// on a shared machine moves far less.
//
//   build-dir/bench/bench_inspect [rounds]
#include "disassembler.h"
#include "imagefile.h"
#include "inspection.h"
#include "scriptapi.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <vector>

extern char **environ;

namespace
{

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double threadCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// One run of a program with its output on /dev/null, in milliseconds; its CPU time into `cpu`.
double spawnMs(const QByteArray &program, const QByteArray &argument, double &cpu)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char *argv[] = {const_cast<char *>(program.constData()), const_cast<char *>(argument.constData()),
                    nullptr};
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
          (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    const double ms = t.nsecsElapsed() / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    return ms;
}

bool runIn(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A script of `lines` statement groups spread over handlers and procedures.
QByteArray bigScript(int groups)
{
    QByteArray s = "dim x, y, b(16)\nconst greeting() = \"hello, module\"\n";
    for (int i = 0; i < groups; ++i) {
        if (i % 40 == 0)
            s += (i ? "end\n" : "") + QByteArray("procedure p") + QByteArray::number(i) + "(a)\n";
        s += "if a > " + QByteArray::number(i) + " then\nx = x * 300 + y\nelse\ny = b(2) - a\nend if\n";
        s += "call endpoint_send(0, 4, b(0:4))\n";
    }
    return s + "end\nevent system_boot(major, minor, patch, build, bootloader_version, tcpip_version, hw)\n"
               "call p0(1)\nend\n";
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    QTemporaryDir scratch;
    const QString example = scratch.filePath("example");
    QDir().mkpath(example + "/files");
    QDir().mkpath(example + "/certs");
    for (const char *f :
         {"project.xml", "hardware.xml", "usb.xml", "example.script", "files/index.html", "certs/server.pem"})
        QFile::copy(QStringLiteral(NW_SOURCE_DIR "/sdk/example/") + f, example + '/' + f);
    if (!runIn(example, KIRRUP_PATH, {"project.xml", NW_SDK_DIR, TOLLAN_PATH})) {
        std::fprintf(stderr, "the example did not build\n");
        return 1;
    }
    const QByteArray hex = (example + "/wifi.hex").toLocal8Bit();
    const QByteArray dfu = (example + "/wifi.dfu").toLocal8Bit();
    std::vector<double> process, inProcess, processCpu, inProcessCpu, raw, rawCpu;
    ScriptApi api;
    api.load(NW_SDK_DIR "/api/wifiapi.xml");
    for (int i = 0; i < rounds; ++i) {
        double cpu = 0;
        raw.push_back(spawnMs(INSPECT_PATH, dfu, cpu));
        rawCpu.push_back(cpu);
        process.push_back(spawnMs(INSPECT_PATH, hex, cpu));
        processCpu.push_back(cpu);
        QElapsedTimer t;
        t.start();
        const double c0 = threadCpuMs();
        const Inspection r = Inspection::of(ImageFile::fromFile(QString::fromLocal8Bit(hex)), &api, false);
        inProcess.push_back(t.nsecsElapsed() / 1e6);
        inProcessCpu.push_back(threadCpuMs() - c0);
        if (r.text.isEmpty()) return 1;
    }
    std::printf("%-40s %8s %8s\n", "", "elapsed", "CPU");
    std::printf("%-40s %8.2f %8.2f ms\n", "nwinspect wifi.dfu, a process", median(raw), median(rawCpu));
    std::printf("%-40s %8.2f %8.2f ms\n", "nwinspect wifi.hex, a process", median(process),
                median(processCpu));
    std::printf("%-40s %8.2f %8.2f ms\n", "inspection of wifi.hex, in process", median(inProcess),
                median(inProcessCpu));

    // Grow the script until its byte code is just under the compiler's 64 KiB.
    QByteArray code;
    for (int groups = 1300; groups > 0; groups -= 10) {
        QFile::remove(scratch.filePath("big.bin"));
        QFile s(scratch.filePath("big.s"));
        s.open(QIODevice::WriteOnly | QIODevice::Truncate);
        s.write(bigScript(groups));
        s.close();
        if (runIn(scratch.path(), TOLLAN_PATH, {"big.s", "big.bin", NW_SDK_DIR "/api/wifiapi.xml"})) {
            QFile b(scratch.filePath("big.bin"));
            b.open(QIODevice::ReadOnly);
            code = b.readAll();
            break;
        }
    }
    if (code.isEmpty()) {
        std::fprintf(stderr, "the large script did not compile\n");
        return 1;
    }
    std::vector<double> dis, text, disCpu, textCpu;
    int lines = 0;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        double c0 = threadCpuMs();
        const Disassembly d = disassemble(code, &api);
        dis.push_back(t.nsecsElapsed() / 1e6);
        disCpu.push_back(threadCpuMs() - c0);
        lines = d.lines.size();
        t.restart();
        c0 = threadCpuMs();
        const QStringList listing = d.text();
        text.push_back(t.nsecsElapsed() / 1e6);
        textCpu.push_back(threadCpuMs() - c0);
        if (listing.isEmpty()) return 1;
    }
    const QByteArray what =
        QStringLiteral("disassembly of %1 bytes (%2 lines)").arg(code.size()).arg(lines).toLatin1();
    std::printf("%-40s %8.2f %8.2f ms\n", what.constData(), median(dis), median(disCpu));
    std::printf("%-40s %8.2f %8.2f ms\n", "  and its text", median(text), median(textCpu));
    return 0;
}
