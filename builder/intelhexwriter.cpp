#include "intelhexwriter.h"

#include <cstring>
#include <utility>

namespace
{

// The two lower-case digits of every byte value, so a byte is one 2-character copy.
struct HexPairs {
    char digits[256][2];
    constexpr HexPairs() : digits()
    {
        for (int i = 0; i < 256; ++i) {
            digits[i][0] = "0123456789abcdef"[i >> 4];
            digits[i][1] = "0123456789abcdef"[i & 0x0F];
        }
    }
};
constexpr HexPairs hexPairs;

inline char *putByte(char *p, quint8 b)
{
    std::memcpy(p, hexPairs.digits[b], 2);
    return p + 2;
}

// ':', count, address, type, data and checksum, two digits a byte, and the line feed.
inline int recordLength(int size)
{
    return 1 + 2 * (5 + size) + 1;
}

char *putRecord(char *p, quint8 type, quint16 address, const uchar *data, int size)
{
    *p++ = ':';
    quint8 sum = quint8(size) + quint8(address >> 8) + quint8(address) + type;
    p = putByte(p, quint8(size));
    p = putByte(p, quint8(address >> 8));
    p = putByte(p, quint8(address));
    p = putByte(p, type);
    for (int i = 0; i < size; ++i) {
        sum += data[i];
        p = putByte(p, data[i]);
    }
    p = putByte(p, quint8(-sum));
    *p++ = '\n';
    return p;
}

char *putExtendedAddress(char *p, quint32 address)
{
    const uchar upper[2] = {uchar(address >> 24), uchar(address >> 16)};
    return putRecord(p, 0x04, 0, upper, 2);
}

} // namespace

int IntelHexWriter::maxRegionLength(quint32 address, int size)
{
    // One address record, plus one for every 64 KiB boundary reached, each of which may also split
    // a 16-byte chunk into two data records.
    const qint64 boundaries = ((qint64(address) + size) >> 16) - (address >> 16);
    const qint64 chunks = (qint64(size) + 15) / 16;
    return int(recordLength(2) * (1 + boundaries) + recordLength(0) * (chunks + boundaries) +
               2 * qint64(size));
}

void IntelHexWriter::reserve(int length)
{
    if (size_t(length) <= m_text.size()) return;
    LargeBuffer bigger{size_t(length)};
    if (m_length > 0) std::memcpy(bigger.data(), m_text.data(), size_t(m_length));
    m_text = std::move(bigger);
}

char *IntelHexWriter::room(int length)
{
    const qint64 needed = qint64(m_length) + length;
    if (needed > qint64(m_text.size())) reserve(int(qMax(needed, 2 * qint64(m_text.size()))));
    return m_text.data() + m_length;
}

void IntelHexWriter::addRegion(quint32 address, const char *data, int size)
{
    char *const begin = room(maxRegionLength(address, size));
    char *p = begin;
    const uchar *bytes = reinterpret_cast<const uchar *>(data);
    p = putExtendedAddress(p, address);
    int done = 0;
    while (done < size) {
        int n = qMin(16, size - done);
        if ((address >> 16) != ((address + quint32(n)) >> 16)) {
            // The chunk reaches the next 64 KiB page: finish this page, then continue on the next.
            const int first = int(0x10000 - (address & 0xFFFF));
            p = putRecord(p, 0x00, quint16(address), bytes + done, first);
            address += quint32(first);
            done += first;
            n -= first;
            p = putExtendedAddress(p, address);
        }
        if (n > 0) {
            p = putRecord(p, 0x00, quint16(address), bytes + done, n);
            address += quint32(n);
            done += n;
        }
    }
    m_length += int(p - begin);
}

void IntelHexWriter::finish()
{
    putRecord(room(EndLength), 0x01, 0, nullptr, 0);
    m_length += EndLength;
}
