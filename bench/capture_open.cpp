// bench_capture_open [packets] [--scan] [--no-tshark]
// Writes a capture of the flood's 19-byte events (--scan: scan results) with a command every tenth packet
// (1 000 000 packets by default),
// opens it in velmo's window with the shipped interface, and reports packets decoded into the log per
// second, the peak resident memory and the longest stall of the event loop (the lateness of a 10 ms
// timer); then tshark with the generated dissector on the same file, for comparison.
#include "capturefile.h"
#include "mainwindow.h"
#include "simdevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace
{

double cpuSeconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double peakResidentMB()
{
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    std::fclose(status);
    return kb / 1024.0;
}

void writeCapture(const QString &path, int packets, bool scan)
{
    CaptureFile file;
    if (!file.open(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(file.errorString()));
        std::exit(1);
    }
    const int port = file.addInterface(QStringLiteral("/dev/ttyUSB0"), 921600);
    // scan_result: bssid, channel, rssi, snr, secure, ssid "Workshop"; start_scan on every channel.
    SimDevice device;
    const QByteArray event =
        scan ? QByteArray::fromHex("8814030202005e10000101d7ff0a0108576f726b73686f70") : device.floodPacket();
    const QByteArray command = QByteArray::fromHex("080203030000");
    qint64 t = 1700000000000000000ll;
    for (int i = 0; i < packets; ++i) {
        const QByteArray &p = i % 10 == 0 ? command : event;
        file.recordAt(port, t += 100000,
                      i % 10 == 0 ? capture::Direction::Outbound : capture::Direction::Inbound, p.constData(),
                      p.size());
        // The writer's queue is bounded; give its thread the time a real line would.
        if (i % 100000 == 99999) file.flush();
    }
    file.close();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int packets = args.size() > 1 && args[1].toInt() > 0 ? args[1].toInt() : 1000000;
    const bool tshark = !args.contains(QStringLiteral("--no-tshark"));

    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString path = dir.filePath(QStringLiteral("bench.pcapng"));
    writeCapture(path, packets, args.contains(QStringLiteral("--scan")));

    MainWindow window(std::make_unique<FixedPortEnumerator>());
    window.show();
    QElapsedTimer ticks;
    qint64 lastTick = 0, worstLate = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = ticks.elapsed();
        worstLate = std::max(worstLate, now - lastTick - 10);
        lastTick = now;
    });
    const double before = peakResidentMB();
    QElapsedTimer clock;
    qint64 played = 0;
    QObject::connect(&window, &MainWindow::replayFinished, [&](bool ok, qint64 n) {
        played = ok ? n : -1;
        app.quit();
    });
    ticks.start();
    timer.start();
    const double cpuBefore = cpuSeconds();
    clock.start();
    window.openCapture(path);
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    // On a shared machine the wall-clock rate understates what the program does; both are given.
    std::printf("velmo: %lld packets in %.2f s: %.0f packets/s (%.0f per CPU second); peak resident %.0f MB "
                "(%.0f MB before opening); longest event-loop stall %lld ms\n",
                played, seconds, played / seconds, played / cpu, peakResidentMB(), before, worstLate);

    if (tshark && !QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty()) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        clock.restart();
        p.start(QStringLiteral("tshark"), {QStringLiteral("-X"), QStringLiteral("lua_script:" NW_DISSECTOR),
                                           QStringLiteral("-r"), path});
        p.waitForFinished(-1);
        const double s = clock.elapsed() / 1000.0;
        std::printf("tshark with the dissector: %d packets in %.2f s: %.0f packets/s (exit %d)\n", packets, s,
                    packets / s, p.exitCode());
    }
    return played == packets ? 0 : 1;
}
