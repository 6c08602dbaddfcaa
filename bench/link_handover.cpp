// Hand-over from the serial reader to the GUI thread under a flood: a pseudo-terminal fed with one
// valid event as fast as it takes it, into a connection whose receiver only counts.
//   bench_link_handover [seconds=10] [payload bytes=15] [receiver work in us per packet=0]
// Prints packets/s delivered in the GUI thread, the GUI thread's CPU per packet, the peak of the
// reader's backlog, the worst lateness of a 10 ms timer and the resident memory over time.
#include "uartdev.h"
#include "uarthvconnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace
{


long residentKb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double threadCpuMs()
{
    rusage u;
    getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int payload = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, 2047) : 15;
    const int workUs = argc > 3 ? std::atoi(argv[3]) : 0;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    const QString path = QString::fromLocal8Bit(ptsname(master));
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    // An event of the sme class with the requested payload, repeated into one large write.
    QByteArray event = QByteArray::fromHex("88000316");
    event[0] = char(0x88 | (payload >> 8));
    event[1] = char(payload & 0xff);
    event.append(QByteArray(payload, 'e'));
    const QByteArray chunk = event.repeated(std::max(1, 65536 / event.size()));

    UartHVConnection comm(std::make_unique<FixedPortEnumerator>());
    qint64 delivered = 0;
    QObject::connect(&comm, &HVConnection::RxData, [&](const QByteArray &p) {
        delivered += p.size() == event.size();
        if (workUs > 0) {
            QElapsedTimer busy;
            busy.start();
            while (busy.nsecsElapsed() < workUs * 1000LL) {
            }
        }
    });
    if (!comm.OpenDevice(path, 921600)) return 1;

    std::atomic<bool> stop{false};
    std::thread producer([&] {
        while (!stop.load()) {
            const char *p = chunk.constData();
            qint64 left = chunk.size();
            while (left > 0 && !stop.load()) {
                // Never blocked for long, so the end of the run is seen.
                pollfd out = {master, POLLOUT, 0};
                if (::poll(&out, 1, 100) <= 0) continue;
                const ssize_t n = ::write(master, p, size_t(left));
                if (n < 0 && errno == EAGAIN) continue;
                if (n <= 0) return;
                p += n;
                left -= n;
            }
        }
    });

    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 worstLate = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worstLate = std::max(worstLate, sinceTick.elapsed() - 10);
        sinceTick.restart();
    });
    tick.start(10);

    const long rssStart = residentKb();
    const double cpuStart = threadCpuMs();
    std::printf("packet %d bytes, receiver work %d us, backlog bound %d bytes\n", int(event.size()), workUs,
                UartDev::rxBacklogLimit);
    QTimer report;
    int second = 0;
    qint64 lastDelivered = 0;
    QObject::connect(&report, &QTimer::timeout, [&] {
        ++second;
        std::printf("%3d s: %8lld packets/s, resident %ld kB\n", second, delivered - lastDelivered,
                    residentKb());
        std::fflush(stdout);
        lastDelivered = delivered;
        if (second >= seconds) app.quit();
    });
    report.start(1000);
    app.exec();
    const double cpuMs = threadCpuMs() - cpuStart;
    const double elapsed = clock.elapsed() / 1000.0;

    stop = true;
    producer.join();
    comm.CloseDevice();
    ::close(master);

    std::printf("delivered %lld packets in %.1f s: %.0f packets/s\n", delivered, elapsed,
                delivered / elapsed);
    std::printf("GUI thread CPU %.0f ms: %.2f us per packet\n", cpuMs,
                delivered ? cpuMs * 1e3 / delivered : 0.0);
    std::printf("backlog peak %lld bytes (bound %d)\n", comm.device()->rxBacklogPeak(),
                UartDev::rxBacklogLimit);
    std::printf("worst timer lateness %lld ms\n", worstLate);
    std::printf("resident %ld kB at start, %ld kB at end\n", rssStart, residentKb());
    return 0;
}
