#pragma once

#include <QByteArray>
#include <QtGlobal>

// Intel HEX text: 16-byte data records in lower case, an extended linear address record at the start
// of every region and at every 64 KiB boundary, "\n" line ends, and the end-of-file record.
class IntelHexWriter
{
public:
    void addRegion(quint32 address, const char *data, int size);
    void finish();

    const QByteArray &text() const { return m_text; }

private:
    void record(quint8 type, quint16 address, const uchar *data, int size);
    void extendedAddress(quint32 address);

    QByteArray m_text;
};
