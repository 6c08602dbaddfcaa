#include "intelhexwriter.h"

namespace
{

const char digits[] = "0123456789abcdef";

inline char *putByte(char *p, quint8 b)
{
    p[0] = digits[b >> 4];
    p[1] = digits[b & 0x0F];
    return p + 2;
}

} // namespace

void IntelHexWriter::record(quint8 type, quint16 address, const uchar *data, int size)
{
    const int lineLength = 1 + 2 * (5 + size) + 1;
    const int start = m_text.size();
    m_text.resize(start + lineLength);
    char *p = m_text.data() + start;
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
    *p = '\n';
}

void IntelHexWriter::extendedAddress(quint32 address)
{
    const uchar upper[2] = {uchar(address >> 24), uchar(address >> 16)};
    record(0x04, 0, upper, 2);
}

void IntelHexWriter::addRegion(quint32 address, const char *data, int size)
{
    // A full image is about 2.8 characters a byte; reserving avoids regrowing the text.
    m_text.reserve(m_text.size() + size * 3 + 64);
    const uchar *bytes = reinterpret_cast<const uchar *>(data);
    extendedAddress(address);
    int done = 0;
    while (done < size) {
        int n = qMin(16, size - done);
        if ((address >> 16) != ((address + quint32(n)) >> 16)) {
            // The chunk reaches the next 64 KiB page: finish this page, then continue on the next.
            const int first = int(0x10000 - (address & 0xFFFF));
            record(0x00, quint16(address), bytes + done, first);
            address += quint32(first);
            done += first;
            n -= first;
            extendedAddress(address);
        }
        if (n > 0) {
            record(0x00, quint16(address), bytes + done, n);
            address += quint32(n);
            done += n;
        }
    }
}

void IntelHexWriter::finish()
{
    record(0x01, 0, nullptr, 0);
}
