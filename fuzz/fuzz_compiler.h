// Shared by the script compiler's fuzz targets: the token dictionary, and an input form that
// expands into the deep and long shapes that random mutation would take ages to build.
#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <cstring>
#include <vector>

// Adds the script token dictionary unless the run names one itself.
inline void addCompilerDictionary(int *argc, char ***argv)
{
    static std::vector<char *> args;
    static char dict[] = "-dict=" NW_SOURCE_DIR "/fuzz/fuzz_compiler.dict";
    for (int i = 0; i < *argc; ++i) {
        if (std::strncmp((*argv)[i], "-dict=", 6) == 0) return;
    }
    args.assign(*argv, *argv + *argc);
    args.push_back(dict);
    args.push_back(nullptr);
    *argc = int(args.size()) - 1;
    *argv = args.data();
}

// "!" and a 16-bit count n, then "head|open|middle|close|tail": the script head, open n times,
// middle, close n times, tail. So "!\x50\xc3dim x|(|1|)|" nests 50000 parentheses. Any other
// input is the script as it stands.
inline QByteArray expandCompilerInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    if (size < 3 || data[0] != '!') return input;
    const int count = data[1] | (data[2] << 8);
    const QList<QByteArray> parts = input.mid(3).split('|');
    const auto part = [&](int i) { return i < parts.size() ? parts.at(i) : QByteArray(); };
    // Kept below a quarter of a megabyte, so that one input stays quick.
    if (int64_t(part(1).size() + part(3).size()) * count > (256 << 10)) return input;
    return part(0) + part(1).repeated(count) + part(2) + part(3).repeated(count) + part(4);
}
