// core/image: the layout of the module's program-flash image ("wifi.dfu"), shared by the program that
// writes it (kirrup), the programs that check it before sending it (the upload engine) and the programs
// that read it back. QtCore and zlib only.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace imagelayout
{

// Program flash of the module: no valid image is larger.
constexpr qint64 flashSize = 512000;
// The section table: six records of location, length and CRC-32, then the layout version word.
constexpr qint64 tableOffset = 511924;
constexpr int recordSize = 12;
constexpr int tableSize = 76;
constexpr quint32 layoutVersion = 5;

// Records in table order.
enum Record { Files, Certificates, Script, Usb, Hardware, Software, RecordCount };

constexpr int recordOffsetInTable(Record record) { return int(record) * recordSize; }
constexpr qint64 recordOffset(Record record) { return tableOffset + recordOffsetInTable(record); }
constexpr int versionOffsetInTable = RecordCount * recordSize;
// The software block's record, the last of the table, which the upload checks.
constexpr qint64 softwareRecordOffset = recordOffset(Software);
static_assert(softwareRecordOffset == 511984, "the software record sits 16 bytes before the flash's end");
static_assert(versionOffsetInTable + 4 == tableSize, "the version word closes the table");

struct SectionRecord {
    quint32 location = 0;
    quint32 length = 0;
    quint32 crc = 0;
};

// CRC-32 of IEEE 802.3, as the section records hold it.
quint32 crc32Of(const char *data, qint64 size);
inline quint32 crc32Of(const QByteArray &block) { return crc32Of(block.constData(), block.size()); }

quint32 readLe32(const QByteArray &data, qint64 offset);
// The record at `offset` of `image`; the image must hold its 12 bytes.
SectionRecord readRecord(const QByteArray &image, qint64 offset);

// Why `image` (named `name` in the reason) is not one the module takes, or an empty string: it must fit
// the flash, hold the section table, and its software block must lie inside it and match the CRC-32 in
// its record.
QString checkSoftwareBlock(const QByteArray &image, const QString &name);

} // namespace imagelayout
