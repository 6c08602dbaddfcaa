#include "nextstep.h"

#include <QLatin1String>

namespace
{

// Looked up in order: an entry for the message comes before the one for the code alone (message
// empty). A message ending in '*' covers every message that begins with the rest.
const struct {
    uint16 code;
    const char *message;
    const char *hint;
} k_hints[] = {
    {0x0181, "sme_start_scan", "Switch Wi-Fi on first, then scan again."},
    {0x0181, "sme_connect_*", "Switch Wi-Fi on first, then connect again."},
    {0x0181, "dfu_flash_*", "Reset the module to DFU first, then upload again."},
    {0x0183, "", "This firmware lacks the feature: upload a firmware that has it."},
    {0x0184, "", "The firmware does not know this command: update the firmware or the API file."},
    {0x0188, "", "Send more slowly: wait for the answers (flow control on for uploads)."},
    {0x0189, "", "Connect to the access point again."},
    {0x018b, "", "Scan first and check the network's name: it must be in the scan list."},
    {0x018c, "", "Set the network's password, then connect again."},
    {0x018d, "", "Check the password and the network's security mode."},
    {0x0190, "", "Plug in the Ethernet cable."},
    {0x0192, "", "Switch the module to the operating mode this command needs first."},
    {0x0196, "", "Connect to the access point again."},
    {0x0204, "", "Connect to a network and set an IP configuration first."},
    {0x0209, "", "Close the connection first, or use the open one."},
    {0x020d, "", "Connect to a network first (Wi-Fi page), then try again."},
    {0x0212, "", "Set the host name first."},
    {0x0280, "", "Check the host name and the DNS server."},
    {0x0301, "", "Delete keys that are no longer needed, or defragment the key store."},
    {0x0302, "", "Write the key first: it is not in the key store."},
};

// "wifi_rsp_sme_start_scan" and "sme_start_scan" name the same message.
QString bareName(const QString &message)
{
    for (const char *prefix : {"wifi_cmd_", "wifi_rsp_", "wifi_evt_"})
        if (message.startsWith(QLatin1String(prefix))) return message.mid(int(qstrlen(prefix)));
    return message;
}

bool matches(const char *pattern, const QString &message)
{
    const QLatin1String p(pattern);
    if (p.size() > 0 && p.at(p.size() - 1) == QLatin1Char('*'))
        return message.startsWith(QLatin1String(pattern, p.size() - 1));
    return message == p;
}

} // namespace

QString nextstep::hint(uint16 code, const QString &message)
{
    if (code == 0) return QString();
    const QString name = bareName(message.trimmed());
    for (const auto &entry : k_hints)
        if (entry.code == code && *entry.message && matches(entry.message, name))
            return QLatin1String(entry.hint);
    for (const auto &entry : k_hints)
        if (entry.code == code && !*entry.message) return QLatin1String(entry.hint);
    return QString();
}
