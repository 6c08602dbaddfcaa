#pragma once

#include "largebuffer.h"

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

    void reserve(int length);
    void addRegion(quint32 address, const char *data, int size);
    void finish();

    // The text so far; it refers to the writer's memory, so it is valid while the writer lives and
    // is not written to.
    QByteArray text() const { return QByteArray::fromRawData(m_text.data(), m_length); }

private:
    // Returns where the next `length` characters go.
    char *room(int length);

    LargeBuffer m_text;
    int m_length = 0;
};
