// Recording on the link's reader side: the cost of one packet handed to the capture, as the serial
// worker hands it (its own lock, then the file's queue), with the file's thread writing to disk
// meanwhile. The target is at most 0.5 us a packet.
//   bench_capture --benchmark_filter=Record/19     a 19-byte event, the flood's size
//   bench_capture --benchmark_filter=Record/2051   the largest packet
#include "capturefile.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <mutex>

namespace
{

void Record(benchmark::State &state)
{
    QTemporaryDir dir;
    CaptureFile file;
    if (!file.open(dir.filePath("bench.pcapng"))) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    const int port = file.addInterface(QStringLiteral("/dev/ttyUSB0"), 921600);
    QByteArray packet(int(state.range(0)), '\x5a');
    packet[0] = char(0x88);
    std::mutex hookLock;
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(hookLock);
        file.record(port, capture::Direction::Inbound, packet.constData(), packet.size());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * packet.size());
    file.close();
    if (!file.errorString().isEmpty()) state.SkipWithError(file.errorString().toLocal8Bit().constData());
}
// The largest packet in a bounded run: unbounded, the loop outruns any disk and the capture rightly
// stops at its queue limit.
BENCHMARK(Record)->Arg(19);
BENCHMARK(Record)->Arg(2051)->Iterations(10000);

} // namespace

BENCHMARK_MAIN();
