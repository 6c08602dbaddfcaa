// Start-up cost of the command line's model: loading the shipped API definition file.
//   bench_api_model
#include "commandparser.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace
{

void LoadDefinitionFile(benchmark::State &state)
{
    const QString path = QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml");
    for (auto _ : state) {
        CommandParser parser;
        if (parser.load(path) != 0) state.SkipWithError("cannot load the definition file");
        benchmark::DoNotOptimize(parser.classes().size());
    }
}
BENCHMARK(LoadDefinitionFile)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
