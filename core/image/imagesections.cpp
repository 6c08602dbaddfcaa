#include "imagesections.h"

using namespace imagelayout;

namespace
{
constexpr quint32 usbBase = 0x9D000000; // the USB record holds a cached flash address
}

QString ImageSections::nameOf(Record record)
{
    static const char *const names[] = {"files", "certificates", "script", "usb", "hardware", "software"};
    return QString::fromLatin1(names[record]);
}

ImageSections ImageSections::read(const QByteArray &flash)
{
    ImageSections t;
    t.softwareCheck = checkSoftwareBlock(flash, QStringLiteral("the image"));
    if (flash.size() < flashSize) {
        t.problems.append(QStringLiteral("the image is cut short: the section table at offset %1 is missing")
                              .arg(tableOffset));
        return t;
    }
    t.tableRead = true;
    t.version = readLe32(flash, tableOffset + versionOffsetInTable);
    if (t.version != layoutVersion)
        t.problems.append(
            QStringLiteral("layout version %1, expected %2: the sections may mean something else")
                .arg(t.version)
                .arg(layoutVersion));
    for (int i = 0; i < RecordCount; ++i) {
        ImageSection s;
        s.record = Record(i);
        s.name = nameOf(s.record);
        s.stored = readRecord(flash, recordOffset(s.record));
        if (s.record == Usb) {
            s.present = s.stored.location || s.stored.length || s.stored.crc;
            if (s.present) {
                if (s.stored.location >= usbBase && s.stored.location - usbBase < quint32(flashSize))
                    s.offset = s.stored.location - usbBase;
                else
                    s.problems.append(QStringLiteral("its address 0x%1 is not in program flash")
                                          .arg(s.stored.location, 8, 16, QLatin1Char('0')));
            }
        } else {
            s.offset = s.stored.location;
        }
        if (s.present && s.offset >= 0) {
            // 64-bit sums: location and length come from the file.
            if (quint64(s.offset) + s.stored.length > quint64(tableOffset)) {
                s.problems.append(
                    QStringLiteral("%1 bytes at offset %2 reach past the blocks' area (which ends at %3)")
                        .arg(s.stored.length)
                        .arg(s.offset)
                        .arg(tableOffset));
            } else {
                s.inside = true;
                s.crc = crc32Of(flash.constData() + s.offset, s.stored.length);
                if (s.crc != s.stored.crc)
                    s.problems.append(QStringLiteral("CRC-32 is 0x%1, its record says 0x%2")
                                          .arg(s.crc, 8, 16, QLatin1Char('0'))
                                          .arg(s.stored.crc, 8, 16, QLatin1Char('0')));
            }
        }
        t.sections.append(s);
    }
    for (int i = 0; i < RecordCount; ++i) {
        ImageSection &a = t.sections[i];
        if (!a.usable() || a.stored.length == 0) continue;
        for (int j = i + 1; j < RecordCount; ++j) {
            const ImageSection &b = t.sections[j];
            if (!b.usable() || b.stored.length == 0) continue;
            if (a.offset < b.offset + qint64(b.stored.length) &&
                b.offset < a.offset + qint64(a.stored.length))
                a.problems.append(QStringLiteral("overlaps the %1 section").arg(b.name));
        }
    }
    return t;
}

QByteArray ImageSections::block(const QByteArray &flash, Record record) const
{
    if (!tableRead) return QByteArray();
    const ImageSection &s = section(record);
    if (!s.usable()) return QByteArray();
    return flash.mid(int(s.offset), int(s.stored.length));
}

QStringList ImageSections::allProblems() const
{
    QStringList out = problems;
    for (const ImageSection &s : sections)
        for (const QString &p : s.problems)
            out.append(s.name + QStringLiteral(": ") + p);
    return out;
}
