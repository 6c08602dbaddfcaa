#pragma once

#include <QByteArray>
#include <QtGlobal>

// Intel HEX text: 16-byte data records in lower case, an extended linear address record at the start
// of every region and at every 64 KiB boundary, "\n" line ends, and the end-of-file record.
class IntelHexWriter
{
public:
    // At least the characters that addRegion appends for a region; reserving the sum of the regions
    // allocates the whole text once.
    static int maxRegionLength(quint32 address, int size);
    static const int EndLength = 12; // ":00000001ff\n"

    void reserve(int length) { m_text.reserve(length); }
    void addRegion(quint32 address, const char *data, int size);
    void finish();

    const QByteArray &text() const { return m_text; }

private:
    QByteArray m_text;
};
