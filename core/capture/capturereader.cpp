#include "capturereader.h"

#include "pcapng.h"

#include <cstring>
#include <limits>

namespace
{
constexpr qint64 chunkSize = 1024 * 1024;
constexpr quint32 pcapMicros = 0xA1B2C3D4;
constexpr quint32 pcapNanos = 0xA1B23C4D;
constexpr quint32 pcapModified = 0xA1B2CD34;

quint32 bswap32(quint32 v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

quint32 raw32(const char *p)
{
    quint32 v;
    std::memcpy(&v, p, 4);
    return v;
}

// Ticks of an interface's resolution to nanoseconds; out-of-range results saturate rather than wrap.
qint64 ticksToNs(quint64 ticks, quint8 tsresol)
{
    unsigned __int128 ns;
    if (tsresol & 0x80) {
        const int shift = tsresol & 0x7F;
        ns = (unsigned __int128)ticks * 1000000000u;
        ns = shift >= 127 ? 0 : ns >> shift;
    } else {
        ns = ticks;
        for (int r = tsresol; r < 9; ++r)
            ns *= 10;
        for (int r = tsresol; r > 9 && ns != 0; --r)
            ns /= 10;
    }
    const unsigned __int128 max = (unsigned __int128)std::numeric_limits<qint64>::max();
    return ns > max ? std::numeric_limits<qint64>::max() : qint64(ns);
}

} // namespace

CaptureReader::CaptureReader() = default;

QVector<CaptureInterface> CaptureReader::interfaces() const
{
    QVector<CaptureInterface> all;
    for (const Interface &i : ifaces)
        all << i.info;
    return all;
}
CaptureReader::~CaptureReader() = default;

quint16 CaptureReader::u16(const char *p) const
{
    quint16 v;
    std::memcpy(&v, p, 2);
    return swapped ? quint16((v >> 8) | (v << 8)) : v;
}

quint32 CaptureReader::u32(const char *p) const
{
    const quint32 v = raw32(p);
    return swapped ? bswap32(v) : v;
}

// Bytes that can still be taken: those buffered, topped up from the file when that is short.
qint64 CaptureReader::available()
{
    return fileBytes - offset;
}

// The next n bytes, contiguous, without taking them; nullptr if the file ends first.
const char *CaptureReader::peek(qint64 n)
{
    if (buffer.size() - bufferPos < n) {
        buffer.remove(0, int(bufferPos));
        bufferPos = 0;
        const qint64 want = std::max(n, chunkSize) - buffer.size();
        if (want > 0) {
            const int old = buffer.size();
            buffer.resize(int(old + want));
            const qint64 got = file.read(buffer.data() + old, want);
            buffer.resize(int(old + std::max<qint64>(got, 0)));
        }
        if (buffer.size() < n) return nullptr;
    }
    return buffer.constData() + bufferPos;
}

// The next n bytes, contiguous and taken, or nullptr (nothing taken) if the file ends first.
const char *CaptureReader::take(qint64 n)
{
    const char *p = peek(n);
    if (!p) return nullptr;
    bufferPos += n;
    offset += n;
    return p;
}

CaptureReader::Result CaptureReader::fail(const QString &reason)
{
    error = reason;
    finished = true;
    return Result::Failed;
}

CaptureReader::Result CaptureReader::cut(qint64 bytes)
{
    ignored = bytes;
    notes << QStringLiteral("the file ends in the middle of a block: its last %1 bytes were ignored")
                 .arg(bytes);
    finished = true;
    return Result::End;
}

bool CaptureReader::open(const QString &path)
{
    file.close();
    file.setFileName(path);
    buffer.clear();
    bufferPos = offset = 0;
    swapped = classic = finished = false;
    ifaces.clear();
    wrongLinkNoted.clear();
    error.clear();
    notes.clear();
    ignored = skipped = unknownBlocks = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.isSequential()) {
        error = QStringLiteral("%1 is not a regular file").arg(path);
        return false;
    }
    // The file as it is now: a capture still being written is read up to here.
    fileBytes = file.size();
    if (fileBytes < 4) {
        error = QStringLiteral("%1 is not a capture file: it is too short").arg(path);
        return false;
    }
    const quint32 magic = raw32(take(4));
    if (magic == pcapng::sectionHeaderBlock) {
        // The section header is read as the first block.
        bufferPos = offset = 0;
        return true;
    }
    if (magic == pcapModified || bswap32(magic) == pcapModified) {
        error = QStringLiteral("%1 is in a modified pcap format that is not read here; save it as pcapng")
                    .arg(path);
        return false;
    }
    if (magic != pcapMicros && magic != pcapNanos && bswap32(magic) != pcapMicros &&
        bswap32(magic) != pcapNanos) {
        error = QStringLiteral("%1 is not a capture file (neither pcapng nor pcap)").arg(path);
        return false;
    }
    classic = true;
    swapped = magic != pcapMicros && magic != pcapNanos;
    classicNanos = (swapped ? bswap32(magic) : magic) == pcapNanos;
    const char *header = take(20);
    if (!header) {
        error = QStringLiteral("%1 is cut inside its pcap header").arg(path);
        return false;
    }
    if (u16(header) != 2) {
        error = QStringLiteral("%1 is pcap version %2.%3, which is not read here")
                    .arg(path)
                    .arg(u16(header))
                    .arg(u16(header + 2));
        return false;
    }
    Interface iface;
    iface.info.linkType = int(u32(header + 16) & 0xFFFF);
    iface.tsresol = classicNanos ? 9 : 6;
    ifaces.append(iface);
    wrongLinkNoted.append(false);
    return true;
}

bool CaptureReader::accept(int interfaceId)
{
    const CaptureInterface &info = ifaces[interfaceId].info;
    if (info.linkType == wantedLinkType) return true;
    ++skipped;
    if (!wrongLinkNoted[interfaceId]) {
        wrongLinkNoted[interfaceId] = true;
        notes
            << QStringLiteral(
                   "interface %1%2 has link type %3, not the module's packets (%4): its packets were skipped")
                   .arg(interfaceId)
                   .arg(info.name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(info.name))
                   .arg(info.linkType)
                   .arg(wantedLinkType);
    }
    return false;
}

CaptureReader::Result CaptureReader::next(CapturedPacket &packet)
{
    while (!finished) {
        if (classic) {
            const Result r = nextClassic(packet);
            if (r != Result::Packet || accept(0)) return r;
            continue;
        }
        bool isPacket = false;
        const Result r = nextBlock(packet, isPacket);
        if (r != Result::Packet) return r;
        if (isPacket && accept(packet.interfaceId)) return r;
    }
    return error.isEmpty() ? Result::End : Result::Failed;
}

CaptureReader::Result CaptureReader::nextClassic(CapturedPacket &packet)
{
    const qint64 left = available();
    if (left == 0) {
        finished = true;
        return Result::End;
    }
    const qint64 at = offset;
    const char *record = take(16);
    if (!record) return cut(left);
    const quint32 length = u32(record + 8);
    if (length > pcapng::maxBlockLength)
        return fail(QStringLiteral("the record at offset %1 claims %2 bytes, more than any packet")
                        .arg(at)
                        .arg(length));
    const quint64 seconds = u32(record);
    const quint64 fraction = u32(record + 4);
    const char *data = take(length);
    if (!data) return cut(left);
    packet = CapturedPacket();
    packet.timeNs = qint64(seconds * 1000000000u + (classicNanos ? fraction : fraction * 1000));
    packet.data = QByteArray(data, int(length));
    return Result::Packet;
}

CaptureReader::Result CaptureReader::nextBlock(CapturedPacket &packet, bool &isPacket)
{
    const qint64 left = available();
    if (left == 0) {
        finished = true;
        return Result::End;
    }
    if (left < 12) return cut(left);
    const qint64 at = offset;
    const char *head = peek(12);
    const quint32 rawType = raw32(head);
    if (rawType == pcapng::sectionHeaderBlock) {
        // Each section states its own byte order.
        const quint32 magic = raw32(head + 8);
        if (magic == pcapng::byteOrderMagic)
            swapped = false;
        else if (magic == bswap32(pcapng::byteOrderMagic))
            swapped = true;
        else
            return fail(
                QStringLiteral("the section header at offset %1 is damaged (no byte-order mark)").arg(at));
    } else if (at == 0) {
        return fail(QStringLiteral("not a pcapng file"));
    }
    const quint32 type = u32(head);
    const quint32 length = u32(head + 4);
    if (length < 12 || length % 4 != 0 || length > pcapng::maxBlockLength)
        return fail(
            QStringLiteral("the block at offset %1 has an impossible length (%2 bytes)").arg(at).arg(length));
    if (length > left) return cut(left);
    // The whole block at once: `head` is not used after this, since taking may move the buffer.
    const char *block = take(length);
    const quint32 trailing = u32(block + length - 4);
    if (trailing != length)
        return fail(QStringLiteral("the block at offset %1 is damaged: its two lengths differ (%2 and %3)")
                        .arg(at)
                        .arg(length)
                        .arg(trailing));
    // The body: from after the length up to the trailing length.
    const char *body = block + 8;
    const int size = int(length - 12);
    switch (type) {
    case pcapng::sectionHeaderBlock:
        if (!readSection(body, size)) return Result::Failed;
        return Result::Packet;
    case pcapng::interfaceBlock:
        readInterface(body, size);
        if (!error.isEmpty()) return fail(error);
        return Result::Packet;
    case pcapng::enhancedPacketBlock:
        isPacket = readEnhanced(body, size, packet);
        if (!error.isEmpty()) return fail(error);
        return Result::Packet;
    case pcapng::simplePacketBlock:
        isPacket = readSimple(body, size, packet);
        if (!error.isEmpty()) return fail(error);
        return Result::Packet;
    default:
        ++unknownBlocks;
        return Result::Packet;
    }
}

bool CaptureReader::readSection(const char *body, int size)
{
    if (size < 16) {
        fail(QStringLiteral("the section header at offset %1 is too short").arg(offset));
        return false;
    }
    const int major = u16(body + 4);
    if (major != 1) {
        fail(QStringLiteral("pcapng version %1.%2 is not read here").arg(major).arg(u16(body + 6)));
        return false;
    }
    ifaces.clear();
    wrongLinkNoted.clear();
    return true;
}

void CaptureReader::readInterface(const char *body, int size)
{
    if (size < 8) {
        error = QStringLiteral("the interface description before offset %1 is too short").arg(offset);
        return;
    }
    Interface iface;
    iface.info.linkType = u16(body);
    // Options: code, length, value padded to 4 bytes; a malformed list ends the options, not the file.
    for (int p = 8; p + 4 <= size;) {
        const quint16 code = u16(body + p);
        const quint16 len = u16(body + p + 2);
        if (code == pcapng::optEnd || p + 4 + len > size) break;
        const char *value = body + p + 4;
        if (code == pcapng::ifName)
            iface.info.name = QString::fromUtf8(value, len);
        else if (code == pcapng::ifDescription)
            iface.info.description = QString::fromUtf8(value, len);
        else if (code == pcapng::ifTsresol && len == 1)
            iface.tsresol = quint8(*value);
        else if (code == pcapng::ifTsoffset && len == 8)
            iface.tsoffset = qint64(swapped ? (quint64(u32(value)) << 32) | u32(value + 4)
                                            : (quint64(u32(value + 4)) << 32) | u32(value));
        p += 4 + ((len + 3) & ~3);
    }
    ifaces.append(iface);
    wrongLinkNoted.append(false);
}

bool CaptureReader::readEnhanced(const char *body, int size, CapturedPacket &packet)
{
    if (size < 20) {
        error = QStringLiteral("the packet block before offset %1 is too short").arg(offset);
        return false;
    }
    const quint32 interfaceId = u32(body);
    const quint32 captured = u32(body + 12);
    if (interfaceId >= quint32(ifaces.size())) {
        error = QStringLiteral(
                    "the packet block before offset %1 names interface %2, which the file does not describe")
                    .arg(offset)
                    .arg(interfaceId);
        return false;
    }
    if (captured > quint32(size - 20)) {
        error = QStringLiteral("the packet block before offset %1 claims %2 bytes, more than it holds")
                    .arg(offset)
                    .arg(captured);
        return false;
    }
    const Interface &iface = ifaces[int(interfaceId)];
    packet = CapturedPacket();
    packet.interfaceId = int(interfaceId);
    const quint64 ticks = (quint64(u32(body + 4)) << 32) | u32(body + 8);
    packet.timeNs = ticksToNs(ticks, iface.tsresol) + iface.tsoffset * 1000000000;
    packet.data = QByteArray(body + 20, int(captured));
    for (int p = 20 + int((captured + 3) & ~3u); p + 4 <= size;) {
        const quint16 code = u16(body + p);
        const quint16 len = u16(body + p + 2);
        if (code == pcapng::optEnd || p + 4 + len > size) break;
        const char *value = body + p + 4;
        if (code == pcapng::optComment)
            packet.comment = QString::fromUtf8(value, len);
        else if (code == pcapng::epbFlags && len == 4)
            packet.direction = capture::Direction(u32(value) & 3) == capture::Direction(3)
                                   ? capture::Direction::Unknown
                                   : capture::Direction(u32(value) & 3);
        p += 4 + ((len + 3) & ~3);
    }
    return true;
}

bool CaptureReader::readSimple(const char *body, int size, CapturedPacket &packet)
{
    if (ifaces.isEmpty()) {
        error =
            QStringLiteral("a simple packet block before offset %1 comes before any interface").arg(offset);
        return false;
    }
    const quint32 original = u32(body);
    packet = CapturedPacket();
    packet.data = QByteArray(body + 4, int(std::min<quint32>(original, quint32(size - 4))));
    return true;
}
