#pragma once

#include <QByteArray>
#include <QString>

// One readable line for a packet of the line (fromHost: a command, else a response or event): the message's
// full name and its parameters, for example wifi_evt_sme_scan_result bssid=02:00:5e:10:00:02 channel=6 ...
// ssid="Guest". Result and reason codes carry their text; byte arrays are shown as text when they are
// printable, else in hexadecimal.
QString sim_describe(const QByteArray &packet, bool fromHost);
