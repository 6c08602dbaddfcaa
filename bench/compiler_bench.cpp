// Compile time of tollan on generated scripts of 0 (start-up alone), 1 000, 2 500 and 5 000 lines,
// and of luac5.4 on generated Lua files of the same statements and sizes, both run as programs
// in the same run, so that the fixed cost, the cost per line and their ratios can be read off the
// figures. Larger scripts of these statements no longer fit the byte code's 64 KiB. Each program
// is started through the shell, as a caller would.
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>

namespace
{

QTemporaryDir &workDir()
{
    static QTemporaryDir dir;
    return dir;
}

// Bodies of 100 lines (a body must stay within the parser's stack): assignments with
// expressions, if/else, while loops and calls.
QByteArray tollanScript(int lines)
{
    QByteArray s = "dim x, y, b(16)\n";
    int written = 1;
    for (int p = 0; written < lines; ++p) {
        s += "procedure p" + QByteArray::number(p) + "(a)\n";
        written += 2;
        for (int k = 0; k < 12 && written < lines; ++k, written += 9) {
            s += "  x = a * " + QByteArray::number(k) + " + y / 3 - (x << 2)\n";
            s += "  if x > " + QByteArray::number(k * 7) + " then\n";
            s += "    y = b(2) + 1\n";
            s += "  else\n";
            s += "    b(0:4) = x & 255\n";
            s += "  end if\n";
            s += "  while y < 100\n    y = y + 1\n";
            s += "  end while\n";
        }
        s += "end\n";
    }
    return s;
}

QByteArray luaScript(int lines)
{
    QByteArray s = "local x, y = 0, 0\nlocal b = {}\n";
    int written = 2;
    for (int p = 0; written < lines; ++p) {
        s += "function p" + QByteArray::number(p) + "(a)\n";
        written += 2;
        for (int k = 0; k < 12 && written < lines; ++k, written += 9) {
            s += "  x = a * " + QByteArray::number(k) + " + y // 3 - (x << 2)\n";
            s += "  if x > " + QByteArray::number(k * 7) + " then\n";
            s += "    y = b[2] + 1\n";
            s += "  else\n";
            s += "    b[0] = x & 255\n";
            s += "  end\n";
            s += "  while y < 100 do\n    y = y + 1\n";
            s += "  end\n";
        }
        s += "end\n";
    }
    return s;
}

QString writeScript(const QString &name, const QByteArray &content)
{
    const QString path = workDir().filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(content);
    return path;
}

void runCommand(benchmark::State &state, const QByteArray &command)
{
    for (auto _ : state) {
        if (std::system(command.constData()) != 0) {
            state.SkipWithError("command failed");
            break;
        }
    }
}

void BM_Tollan(benchmark::State &state)
{
    const int lines = int(state.range(0));
    const QString script = writeScript(QStringLiteral("script%1.s").arg(lines), tollanScript(lines));
    const QByteArray command = "cd '" + workDir().path().toLocal8Bit() + "' && '" NW_TOLLAN "' '" +
                               script.toLocal8Bit() + "' out.bin '" NW_API_XML "' > /dev/null";
    runCommand(state, command);
    state.counters["lines"] = lines;
}

void BM_Luac(benchmark::State &state)
{
    const int lines = int(state.range(0));
    const QString luac = QStandardPaths::findExecutable(QStringLiteral("luac5.4"));
    if (luac.isEmpty()) {
        state.SkipWithError("luac5.4 not installed (Debian package lua5.4)");
        return;
    }
    const QString script = writeScript(QStringLiteral("script%1.lua").arg(lines), luaScript(lines));
    runCommand(state, luac.toLocal8Bit() + " -o /dev/null '" + script.toLocal8Bit() + "'");
    state.counters["lines"] = lines;
}

} // namespace

BENCHMARK(BM_Tollan)->Arg(0)->Arg(1000)->Arg(2500)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Luac)->Arg(0)->Arg(1000)->Arg(2500)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
