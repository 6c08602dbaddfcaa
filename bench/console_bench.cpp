// nwctl's costs: the command-to-response round trip through its session (parser packet, link, decoding,
// matching) against the simulated module in a thread of its own; the time from starting the program to
// its first byte on the line; and a script of 10 000 commands run whole, with the program's peak memory
// next to that of a 1 000-command script.
// Usage: bench_console [round trips]
#include "pty.h"
#include "session.h"
#include "simdevice.h"
#include "simline.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

const QString nwctl = QStringLiteral(NW_SDK_DIR "/bin/nwctl");

class SimThread : public QThread
{
public:
    QString path;
    QSemaphore ready;

protected:
    void run() override
    {
        SimOptions options;
        SimDevice device(options);
        SimLine line(&device, options);
        if (line.openPty()) path = line.path();
        ready.release();
        exec();
    }
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// Each command's time from going out to its response coming back, through a Session.
std::vector<double> roundTrips(const QString &port, int count)
{
    CommandParser parser;
    parser.loadDefault(QStringLiteral(NW_SDK_DIR "/bin"));
    CommandHelp help(parser);
    Script script(help);
    QString error;
    for (int i = 0; i < count; ++i)
        script.addCommand(QStringLiteral("system_hello"), &error);
    SessionOptions options;
    options.port = port;
    options.json = true; // every packet passes the printer: the moments to time
    Session session(help, options);
    std::vector<double> times;
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    session.printOut = [&](const QByteArray &line) {
        if (line.contains("\"direction\":\"tx\""))
            sent = clock.nsecsElapsed();
        else
            times.push_back((clock.nsecsElapsed() - sent) / 1e6);
    };
    if (!session.open()) return {};
    QEventLoop loop;
    QObject::connect(&session, &Session::finished, &loop, &QEventLoop::quit);
    session.run(script.steps);
    loop.exec();
    return times;
}

// Milliseconds from starting nwctl to its first byte on the line.
double firstByte(const QStringList &extra)
{
    Pty module;
    QElapsedTimer clock;
    QProcess p;
    clock.start();
    p.start(nwctl, QStringList{"-t", "1", module.path} + extra);
    const QByteArray got = module.read(1, 10000);
    const double ms = clock.nsecsElapsed() / 1e6;
    module.write(QByteArray::fromHex("080201000000")); // sync answered
    p.waitForFinished(10000);
    return got.isEmpty() ? -1 : ms;
}

// Wall seconds and peak resident kilobytes of nwctl running a script of `lines` commands.
std::pair<double, long> script(const QString &port, const QString &file, int lines)
{
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    for (int i = 0; i < lines; ++i)
        f.write(i % 2 ? "system_hello\n" : "config_get_mac 0\n");
    f.close();
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        const QByteArray prog = QFile::encodeName(nwctl), p = port.toLocal8Bit(), s = QFile::encodeName(file);
        execl(prog.constData(), "nwctl", p.constData(), "-f", s.constData(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {-1, 0};
    return {seconds, usage.ru_maxrss};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    wifi_register_metatypes();
    const int count = argc > 1 ? std::max(10, atoi(argv[1])) : 5000;

    SimThread sim;
    sim.start();
    sim.ready.acquire();
    if (sim.path.isEmpty()) {
        std::fprintf(stderr, "bench_console: no pseudo-terminal for the module\n");
        return 1;
    }

    const std::vector<double> rt = roundTrips(sim.path, count);
    std::printf("round trip, system_hello x %zu: median %.3f ms, p99 %.3f ms, max %.3f ms\n", rt.size(),
                percentile(rt, 0.5), percentile(rt, 0.99), percentile(rt, 1.0));

    std::vector<double> starts;
    for (int i = 0; i < 21; ++i)
        starts.push_back(firstByte({"system_sync"}));
    std::printf("start-up to the first byte sent (command line): median %.1f ms, max %.1f ms over %zu runs\n",
                percentile(starts, 0.5), percentile(starts, 1.0), starts.size());

    QTemporaryDir dir;
    for (int lines : {1000, 10000}) {
        const auto [seconds, kb] = script(sim.path, dir.filePath("script.txt"), lines);
        std::printf("script of %5d commands: %.2f s (%.3f ms a command), peak resident %ld KiB\n", lines,
                    seconds, seconds * 1000 / lines, kb);
    }
    sim.quit();
    sim.wait();
    return 0;
}
