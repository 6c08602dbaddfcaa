// The window's costs on the GUI thread.
//   bench_app --benchmark_filter=Flush    addLine + flush of 1000 lines into a pane holding 10000 rows;
//                                        the counter "paneMB" is the memory of a full pane
//   bench_app --benchmark_filter=Stamp   a log line's timestamp: the cached clock against local time
//                                        looked up for every line
//   bench_app --benchmark_filter=Packet  one received 19-byte event through the window with the shipped
//                                        interface and logging on: decode, signals, log entry, "RX:" line
#include "logclock.h"
#include "logview.h"
#include "mainwindow.h"
#include "simdevice.h"

#include <QApplication>
#include <QDateTime>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <unistd.h>

namespace
{

const QString stamp = QStringLiteral("<b>2026.03.02 09:03:07.0005</b> ");

double residentMB()
{
    // /proc files report no size, so read them with stdio rather than QFile::readAll.
    long pages = 0, resident = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / 1e6;
}

void Flush(benchmark::State &state)
{
    const double before = residentMB();
    LogView view;
    for (int i = 0; i < 10000; ++i)
        view.addLine(stamp, QStringLiteral("RX: 800f0a0100000000%1").arg(i, 8, 16, QLatin1Char('0')));
    view.flush();
    // The benchmark runs this function several times; only the first run finds the memory untouched.
    static const double full = residentMB() - before;

    int n = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            view.addLine(stamp, QStringLiteral("RX: 800f0a0100000000%1").arg(n++, 8, 16, QLatin1Char('0')));
        view.flush();
    }
    state.counters["paneMB"] = full;
}
BENCHMARK(Flush)->Unit(benchmark::kMillisecond);

void StampCached(benchmark::State &state)
{
    LogClock clock;
    for (auto _ : state)
        benchmark::DoNotOptimize(clock.prefix());
}
BENCHMARK(StampCached);

void StampLocalTime(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(MainWindow::timestampPrefix(QDateTime::currentDateTime()));
}
BENCHMARK(StampLocalTime);


// The window's flush timer runs every 100 ms; at 100 000 packets a second that is one flush per 10000
// packets, which the loop below does itself.
void Packet(benchmark::State &state)
{
    MainWindow window(std::make_unique<FixedPortEnumerator>());
    auto *log = window.findChild<LogView *>(QStringLiteral("textDebug"));
    SimDevice device;
    std::vector<QByteArray> packets;
    for (int i = 0; i < 10000; ++i)
        packets.push_back(device.floodPacket());
    UartHVConnection &comm = window.connection();
    for (auto _ : state) {
        for (const QByteArray &p : packets)
            emit comm.RxData(p);
        log->flush();
    }
    // Per packet, in microseconds of the benchmark's CPU time.
    state.counters["us/packet"] =
        benchmark::Counter(double(state.iterations()) * double(packets.size()) / 1e6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(Packet)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
