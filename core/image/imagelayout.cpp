#include "imagelayout.h"

#include <zlib.h>

quint32 imagelayout::crc32Of(const char *data, qint64 size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes 32-bit lengths; feed longer blocks in pieces.
    while (size > 0) {
        const uInt piece = uInt(qMin<qint64>(size, 1 << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef *>(data), piece);
        data += piece;
        size -= piece;
    }
    return quint32(crc);
}

quint32 imagelayout::readLe32(const QByteArray &data, qint64 offset)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data.constData() + offset);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

imagelayout::SectionRecord imagelayout::readRecord(const QByteArray &image, qint64 offset)
{
    return {readLe32(image, offset), readLe32(image, offset + 4), readLe32(image, offset + 8)};
}

QString imagelayout::checkSoftwareBlock(const QByteArray &image, const QString &name)
{
    const qint64 size = image.size();
    const qint64 tableEnd = softwareRecordOffset + recordSize;
    if (size > flashSize)
        return QStringLiteral("%1 is larger than the module's program flash of %2 bytes").arg(name).arg(flashSize);
    if (size < tableEnd)
        return QStringLiteral("%1 is %2 bytes, too short to hold the section table (%3 bytes at least)")
            .arg(name)
            .arg(size)
            .arg(tableEnd);
    // 64-bit sums: start and length come from the file and may be anything.
    const SectionRecord record = readRecord(image, softwareRecordOffset);
    if (quint64(record.location) + quint64(record.length) > quint64(size))
        return QStringLiteral("the software block (offset %1, %2 bytes) lies outside %3")
            .arg(record.location)
            .arg(record.length)
            .arg(name);
    const quint32 crc = crc32Of(image.constData() + record.location, record.length);
    if (crc != record.crc)
        return QStringLiteral("the software block's CRC-32 is 0x%1, its section record says 0x%2")
            .arg(crc, 8, 16, QLatin1Char('0'))
            .arg(record.crc, 8, 16, QLatin1Char('0'));
    return {};
}
