#include "logformat.h"

#include <QHash>

namespace
{

QHash<uint16, QString> &result_texts()
{
    static QHash<uint16, QString> texts;
    return texts;
}

const struct {
    uint16 code;
    const char *text;
} k_result_texts[] = {
    {0x0000, "No Error"},
    {0x0100, "No error"},
    {0x0180, "Command contained invalid parameter"},
    {0x0181, "Device is in wrong state to accept command"},
    {0x0182, "Device has run out of memory"},
    {0x0183, "Feature is not implemented"},
    {0x0184, "Command was not recognized"},
    {0x0185, "Command or Procedure failed due to timeout"},
    {0x0186, "Unspecified error"},
    {0x0187, "Hardware failure"},
    {0x0188, "Command not accepted, because internal buffers are full"},
    {0x0189, "Command or Procedure failed due to disconnection"},
    {0x018a, "Too many Simultaneous Requests"},
    {0x018b, "Access Point not found from scanlist"},
    {0x018c, "Password is invalid or missing"},
    {0x018d, "WPA/WPA2 authentication has failed"},
    {0x018e, "Overflow detected"},
    {0x018f, "Multiple PBC sessions detected"},
    {0x0190, "Ethernet cable not connected"},
    {0x0191, "Ethernet route not set"},
    {0x0192, "Wrong operating mode for this command"},
    {0x0193, "Requested resource not found"},
    {0x0194, "Requested resource already exists"},
    {0x0195, "Current configuration is invalid"},
    {0x0196, "Connection to Access Point lost"},
    {0x0200, "No error"},
    {0x0201, "Out of memory"},
    {0x0202, "Buffer handling failed"},
    {0x0203, "Timeout"},
    {0x0204, "Could not find route"},
    {0x0205, "Operation in progress"},
    {0x0206, "Illegal value"},
    {0x0207, "Operation would block"},
    {0x0208, "Address in use"},
    {0x0209, "Already connected"},
    {0x020a, "Connection aborted"},
    {0x020b, "Connection reset"},
    {0x020c, "Connection closed"},
    {0x020d, "Not connected"},
    {0x020e, "Illegal argument"},
    {0x020f, "Interface error"},
    {0x0210, "Service not running"},
    {0x0211, "Service already running"},
    {0x0212, "Hostname not set"},
    {0x0213, "Hostname conflict detected"},
    {0x0280, "Unknown host"},
    {0x0301, "Flash reserved for PS store is full"},
    {0x0302, "PS key not found"},
    {0x0303, "Tried to start i2c write transmission, but it is already in progress."},
    {0x0304, "Acknowledge for i2c was not received."},
    {0x0305, "Access to unopened file"},
    {0x0306, "File not in SD card"},
    {0x0307, "Disk error or disk full"},
    {0x0308, "Writing to flash failed"},
};

QString label(const char *name)
{
    return QLatin1Char(' ') + QLatin1String(name) + QLatin1Char(':');
}

QString hex_byte(uint8_t b)
{
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
}

} // namespace

void logformat::init_result_texts()
{
    QHash<uint16, QString> &texts = result_texts();
    if (!texts.isEmpty()) return;
    for (const auto &entry : k_result_texts)
        texts.insert(entry.code, QString::fromLatin1(entry.text));
}

QString logformat::result_text(uint16 code)
{
    return result_texts().value(code);
}

QString logformat::integer(const char *name, qint64 value, int size)
{
    // Negative values show the hex of their 32-bit two's complement, whatever the field width.
    const quint32 bits = quint32(value);
    return (label(name) + QStringLiteral("%1 (0x%2)"))
        .arg(value, 8)
        .arg(bits, size * 2, 16, QLatin1Char('0'));
}

QString logformat::result(const char *name, uint16 code)
{
    return (label(name) + QStringLiteral("0x%1 [<font color=%2>'%3'</font>]"))
        .arg(code, 4, 16, QLatin1Char('0'))
        .arg(code == 0 ? QStringLiteral("green") : QStringLiteral("red"), result_text(code));
}

QString logformat::hex(const hw_addr &mac)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(mac.addr), 6).toHex());
}

QString logformat::hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

static QString dotted(ipv4 ip)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(ip & 0xff)
        .arg((ip >> 8) & 0xff)
        .arg((ip >> 16) & 0xff)
        .arg(ip >> 24);
}

QString logformat::address(const char *name, const hw_addr &mac)
{
    return label(name) + hex(mac);
}

QString logformat::address(const char *name, ipv4 ip)
{
    return label(name) + dotted(ip);
}

QString logformat::array(const char *name, const QByteArray &bytes)
{
    return label(name) + hex(bytes);
}

void logformat::command_bytes(QStringList &entry, const char *name, const uint8_t *bytes, int size)
{
    entry.reserve(entry.size() + 1 + size);
    entry << label(name);
    for (int i = 0; i < size; ++i)
        entry << hex_byte(bytes[i]);
}

void logformat::command_address(QStringList &entry, const char *name, const hw_addr &mac)
{
    command_bytes(entry, name, mac.addr, 6);
}

void logformat::command_address(QStringList &entry, const char *name, ipv4 ip)
{
    entry << label(name);
    for (int i = 0; i < 4; ++i)
        entry << (i == 0 ? QString() : QStringLiteral(".")) << QString::number((ip >> (8 * i)) & 0xff);
}

QString logformat::refused(const char *full_name, const QString &why)
{
    return QStringLiteral("<font color=red>%1: %2</font>").arg(QLatin1String(full_name), why);
}
