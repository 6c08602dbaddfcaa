// Arbitrary files through the capture reader: every packet it returns lies inside the file, and it ends
// (with a packet count no larger than the file allows) instead of looping or reading past a block.
#include "capturereader.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

namespace
{

struct Harness {
    int argc = 1;
    char name[8] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("input.pcapng"));
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness *h = new Harness;
    {
        QFile f(h->path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    CaptureReader reader;
    if (!reader.open(h->path)) return 0;
    CapturedPacket packet;
    size_t packets = 0, bytes = 0;
    while (reader.next(packet) == CaptureReader::Result::Packet) {
        ++packets;
        bytes += size_t(packet.data.size());
        // The smallest packet record (classic pcap) takes 16 bytes of the file beyond its data.
        if (bytes + 16 * packets > size) std::abort();
    }
    if (reader.ignoredBytes() > qint64(size)) std::abort();
    return 0;
}
