// kirrup on the SDK's example project next to objcopy writing the Intel HEX of a 512000-byte image,
// as processes started the same way and interleaved round by round, so that a change in the machine's
// load touches all of them alike. Each figure is the median over the rounds: elapsed time, CPU time
// (user + system, as the kernel accounts it to the child) and page faults.
//
//   build-dir/bench/bench_builder [rounds] [kirrup]
//   build-dir/bench/bench_builder --instructions [kirrup]
//
// The second form counts each process's instructions under valgrind's callgrind instead (kirrup's
// own, not the compiler's it starts): a figure that the other load on a shared machine does not move.
//
// Rows: kirrup without the script compiler (the example without its scripting section), the same
// without certificates too (no TLS library start-up), the same in a tmpfs folder (the commits' disk
// flushes cost nothing there), the full example with tollan when it is built, objcopy, and the floor:
// a bare QCoreApplication program, and this benchmark itself started the same way (Qt with kirrup's
// libraries). The last line times the HEX text of a full image in process.
#include "projectbuilder.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace
{

struct Sample {
    double elapsedMs = 0;
    double cpuMs = 0;
    long faults = 0;
};

struct Case {
    const char *name;
    std::string directory;
    std::vector<std::string> argv;
    std::vector<Sample> samples;
};

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ms(const timeval &t)
{
    return t.tv_sec * 1e3 + t.tv_usec / 1e3;
}

// Runs a program in a folder with its output discarded; false unless it ends with status 0.
bool run(const std::string &directory, const std::vector<std::string> &argv, Sample &sample)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string previous = QDir::currentPath().toStdString();
    if (chdir(directory.c_str()) != 0) return false;
    pid_t pid;
    int status = -1;
    rusage usage{};
    const double start = now();
    const bool spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0;
    if (spawned) wait4(pid, &status, 0, &usage);
    sample.elapsedMs = now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (chdir(previous.c_str()) != 0) return false;
    sample.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    sample.faults = usage.ru_minflt + usage.ru_majflt;
    return spawned && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The instructions the program executes, as callgrind counts them; -1 when it cannot be run.
long long instructions(const std::string &directory, const std::vector<std::string> &argv)
{
    QTemporaryDir logs;
    const std::string log = logs.filePath(QStringLiteral("callgrind.log")).toStdString();
    std::vector<std::string> command{"valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                                     "--log-file=" + log};
    command.insert(command.end(), argv.begin(), argv.end());
    Sample ignored;
    if (!run(directory, command, ignored)) return -1;
    QFile file(QString::fromStdString(log));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray text = file.readAll();
    const int at = text.indexOf("Collected : ");
    return at < 0 ? -1 : text.mid(at + 12, text.indexOf('\n', at) - at - 12).trimmed().toLongLong();
}

template <typename T> T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool copyTree(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    const QDir source(from);
    for (const QFileInfo &e : source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = QDir(to).filePath(e.fileName());
        if (e.isDir() ? !copyTree(e.filePath(), target) : !QFile::copy(e.filePath(), target)) return false;
    }
    return true;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray withoutSection(QByteArray xml, const QByteArray &name)
{
    const int from = xml.indexOf("<" + name + ">");
    const int to = xml.indexOf("</" + name + ">");
    if (from >= 0 && to > from) xml.remove(from, to + name.size() + 3 - from);
    return xml;
}

// The example and its variants in a folder.
bool prepare(const QString &dir)
{
    if (!copyTree(QStringLiteral(NW_SDK_DIR "/example"), dir)) return false;
    QFile project(dir + QStringLiteral("/project.xml"));
    if (!project.open(QIODevice::ReadOnly)) return false;
    const QByteArray noScript = withoutSection(project.readAll(), "scripting");
    return writeFile(dir + QStringLiteral("/project-noscript.xml"), noScript) &&
           writeFile(dir + QStringLiteral("/project-nocerts.xml"), withoutSection(noScript, "certificates"));
}

std::string selfPath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string("bench_builder");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--floor") == 0) {
        QCoreApplication app(argc, argv);
        return 0;
    }
    const bool countInstructions = argc > 1 && std::strcmp(argv[1], "--instructions") == 0;
    const int rounds = argc > 1 && !countInstructions ? std::max(1, std::atoi(argv[1])) : 25;
    const std::string kirrup = argc > 2 ? argv[2] : KIRRUP_PATH;
    const std::string sdk = NW_SDK_DIR;
    const std::string none = "/nonexistent/tollan";

    QTemporaryDir disk;
    QTemporaryDir memory(QStringLiteral("/dev/shm/bench_builder-XXXXXX"));
    if (!disk.isValid() || !prepare(disk.path())) {
        std::fprintf(stderr, "bench_builder: cannot prepare the example project\n");
        return 1;
    }
    const std::string onDisk = disk.path().toStdString();
    const bool haveTmpfs = memory.isValid() && prepare(memory.path());

    std::vector<Case> cases;
    cases.push_back(
        {"kirrup, example without scripting", onDisk, {kirrup, "project-noscript.xml", sdk, none}, {}});
    cases.push_back(
        {"kirrup, also without certificates", onDisk, {kirrup, "project-nocerts.xml", sdk, none}, {}});
    if (haveTmpfs)
        cases.push_back({"kirrup, without scripting, tmpfs",
                         memory.path().toStdString(),
                         {kirrup, "project-noscript.xml", sdk, none},
                         {}});
    if (access(NW_SDK_DIR "/bin/tollan", X_OK) == 0)
        cases.push_back(
            {"kirrup, example with tollan", onDisk, {kirrup, "project.xml", sdk, sdk + "/bin/tollan"}, {}});
    // A real image for objcopy: the one kirrup builds from the example.
    Sample ignored;
    if (!run(onDisk, cases[0].argv, ignored) ||
        !QFile::copy(disk.filePath(QStringLiteral("wifi.dfu")), disk.filePath(QStringLiteral("image.bin")))) {
        std::fprintf(stderr, "bench_builder: kirrup cannot build the example\n");
        return 1;
    }
    cases.push_back({"objcopy -I binary -O ihex, 512000 B",
                     onDisk,
                     {"objcopy", "-I", "binary", "-O", "ihex", "image.bin", "objcopy.hex"},
                     {}});
    const size_t objcopy = cases.size() - 1;
    cases.push_back({"floor: QCoreApplication, QtCore only", onDisk, {FLOOR_PATH}, {}});
    cases.push_back({"floor: QCoreApplication, kirrup's libs", onDisk, {selfPath(), "--floor"}, {}});

    if (countInstructions) {
        std::printf("%-40s %14s %12s\n", "", "instructions", "vs objcopy");
        std::vector<long long> counts;
        for (const Case &c : cases)
            counts.push_back(instructions(c.directory, c.argv));
        for (size_t k = 0; k < cases.size(); ++k) {
            if (counts[k] < 0) {
                std::fprintf(stderr, "bench_builder: %s failed under valgrind\n", cases[k].name);
                return 1;
            }
            std::printf("%-40s %14lld %11.2fx\n", cases[k].name, counts[k],
                        double(counts[k]) / counts[objcopy]);
        }
        return 0;
    }

    // One round unmeasured to fill the caches, then the rounds, each in a rotated order.
    for (int round = -1; round < rounds; ++round) {
        for (size_t k = 0; k < cases.size(); ++k) {
            Case &c = cases[(k + size_t(round + 1)) % cases.size()];
            Sample s;
            if (!run(c.directory, c.argv, s)) {
                std::fprintf(stderr, "bench_builder: %s failed\n", c.name);
                return 1;
            }
            if (round >= 0) c.samples.push_back(s);
        }
    }

    double loads[3] = {0, 0, 0};
    getloadavg(loads, 3);
    std::printf("medians of %d interleaved runs each; load average %.2f %.2f %.2f, %ld CPUs\n", rounds,
                loads[0], loads[1], loads[2], sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%-40s %12s %9s %7s %12s\n", "", "elapsed ms", "CPU ms", "faults", "vs objcopy");
    const double reference = [&] {
        std::vector<double> e;
        for (const Sample &s : cases[objcopy].samples)
            e.push_back(s.elapsedMs);
        return median(e);
    }();
    for (const Case &c : cases) {
        std::vector<double> elapsed, cpu;
        std::vector<long> faults;
        for (const Sample &s : c.samples) {
            elapsed.push_back(s.elapsedMs);
            cpu.push_back(s.cpuMs);
            faults.push_back(s.faults);
        }
        const double e = median(elapsed);
        std::printf("%-40s %12.2f %9.2f %7ld %11.2fx\n", c.name, e, median(cpu), median(faults),
                    e / reference);
    }

    // The HEX text alone, in process.
    QFile image(disk.filePath(QStringLiteral("image.bin")));
    image.open(QIODevice::ReadOnly);
    const QByteArray flash = image.readAll();
    const QByteArray boot(12288, char(0xFF));
    std::vector<double> hex;
    for (int i = 0; i < std::max(rounds, 20); ++i) {
        QElapsedTimer t;
        t.start();
        const IntelHexWriter writer = ProjectBuilder::intelHex(boot, flash);
        hex.push_back(t.nsecsElapsed() / 1e6);
        if (writer.text().size() < flash.size() * 2) return 1;
    }
    std::printf("%-40s %12.2f\n", "HEX text of the image, in process", median(hex));
    return 0;
}
