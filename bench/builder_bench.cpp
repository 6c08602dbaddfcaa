// kirrup on the SDK's example project, next to objcopy writing the Intel HEX of a 512000-byte image,
// both as processes started the same way, in one run. kirrup runs without the script compiler (the
// example without its scripting section), and once more with tollan when it is built.
//
//   build/bench/bench_builder
#include "console.h"
#include "projectbuilder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace
{

QTemporaryDir *workDir;

// Runs a program with its output discarded and waits for it; the status, or -1.
int runQuietly(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int status = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

bool prepare()
{
    workDir = new QTemporaryDir;
    if (!copyTree(QStringLiteral(NW_SDK_DIR "/example"), workDir->path())) return false;
    QDir::setCurrent(workDir->path());
    // The example without its scripting section: kirrup's own work only.
    QFile project(QStringLiteral("project.xml"));
    if (!project.open(QIODevice::ReadOnly)) return false;
    QByteArray xml = project.readAll();
    const int from = xml.indexOf("<scripting>");
    const int to = xml.indexOf("</scripting>");
    xml.remove(from, to + int(strlen("</scripting>")) - from);
    QFile noScript(QStringLiteral("project-noscript.xml"));
    if (!noScript.open(QIODevice::WriteOnly) || noScript.write(xml) != xml.size()) return false;
    noScript.close();
    // A real image for objcopy: the one kirrup builds from the example.
    return runQuietly({KIRRUP_PATH, "project-noscript.xml", NW_SDK_DIR, "/nonexistent"}) == 0 &&
           QFile::copy(QStringLiteral("wifi.dfu"), QStringLiteral("image.bin"));
}

void kirrupExampleWithoutScript(benchmark::State &state)
{
    for (auto _ : state) {
        if (runQuietly({KIRRUP_PATH, "project-noscript.xml", NW_SDK_DIR, "/nonexistent"}) != 0)
            state.SkipWithError("kirrup failed");
    }
}
BENCHMARK(kirrupExampleWithoutScript)->Unit(benchmark::kMillisecond)->UseRealTime();

void objcopyIntelHex(benchmark::State &state)
{
    for (auto _ : state) {
        if (runQuietly({"objcopy", "-I", "binary", "-O", "ihex", "image.bin", "objcopy.hex"}) != 0)
            state.SkipWithError("objcopy failed");
    }
}
BENCHMARK(objcopyIntelHex)->Unit(benchmark::kMillisecond)->UseRealTime();

void kirrupExampleWithTollan(benchmark::State &state)
{
    if (access(NW_SDK_DIR "/bin/tollan", X_OK) != 0) {
        state.SkipWithError("tollan is not built");
        return;
    }
    for (auto _ : state) {
        if (runQuietly({KIRRUP_PATH, "project.xml", NW_SDK_DIR, NW_SDK_DIR "/bin/tollan"}) != 0)
            state.SkipWithError("kirrup failed");
    }
}
BENCHMARK(kirrupExampleWithTollan)->Unit(benchmark::kMillisecond)->UseRealTime();

// The HEX text alone, in process.
void intelHexText(benchmark::State &state)
{
    const QByteArray boot(12288, char(0xFF));
    QFile image(QStringLiteral("image.bin"));
    image.open(QIODevice::ReadOnly);
    const QByteArray flash = image.readAll();
    for (auto _ : state)
        benchmark::DoNotOptimize(ProjectBuilder::intelHex(boot, flash));
}
BENCHMARK(intelHexText)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (!prepare()) {
        fprintf(stderr, "bench_builder: cannot prepare the example project\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete workDir;
    return 0;
}
