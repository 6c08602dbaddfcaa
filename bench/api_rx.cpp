// Receive path throughput: a serial-sized chunked stream of mixed responses and events through rx_data.
//   bench_api_rx --benchmark_filter=Deframe   deframe, lookup and decode, nothing connected
//   bench_api_rx --benchmark_filter=Connected typed and QML signals and the log entry all received
#include "cls_wifi.h"
#include "messagetable.h"
#include "wifisink.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

// Every response and event in turn, each with its fixed part and a short array where it has one.
QByteArray mixedStream(int packets)
{
    QByteArray stream;
    for (int i = 0; i < packets; ++i) {
        const MessageDescriptor &d = message_table[message_command_count + i % (message_count - message_command_count)];
        QByteArray payload(d.header[1], '\0');
        for (int k = 0; k < payload.size(); ++k)
            payload[k] = char(i + k);
        // an array's length prefix announces 8 bytes, which follow the fixed part
        int offset = 0;
        int array = 0;
        for (uint32_t sig = d.signature; sig; sig >>= 4) {
            const unsigned code = sig & 0xf;
            const int size = code == 10 ? 6 : (code == 6 || code == 7) ? 4 : (code == 4 || code == 5 || code == 11) ? 2 : 1;
            if (code == 8 || code == 9 || code == 11) {
                payload[offset] = 8;
                if (code == 11)
                    payload[offset + 1] = 0;
                array = 8;
            }
            offset += size;
        }
        payload.append(QByteArray(array, 'a'));
        QByteArray header(reinterpret_cast<const char *>(d.header), 4);
        header[0] = char(d.header[0] | (payload.size() >> 8));
        header[1] = char(payload.size());
        stream += header + payload;
    }
    return stream;
}

void feed(benchmark::State &state, cls_wifi &wifi)
{
    const int packets = 20000;
    const QByteArray stream = mixedStream(packets);
    for (auto _ : state) {
        for (int pos = 0; pos < stream.size(); pos += 4096)
            wifi.rx_data(stream.mid(pos, 4096));
    }
    state.counters["packets/s"] = benchmark::Counter(double(packets) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(double(stream.size()) * state.iterations() / 1e6,
                                                benchmark::Counter::kIsRate);
}

void Deframe(benchmark::State &state)
{
    cls_wifi wifi;
    feed(state, wifi);
}
BENCHMARK(Deframe)->Unit(benchmark::kMillisecond);

void Connected(benchmark::State &state)
{
    cls_wifi wifi;
    WifiSink sink(wifi);
    feed(state, wifi);
    benchmark::DoNotOptimize(sink.hits);
}
BENCHMARK(Connected)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
