#include "usbview.h"

#include <QJsonArray>
#include <QVector>

namespace
{

QString h8(const QByteArray &b, int at)
{
    return QStringLiteral("%1").arg(quint8(b[at]), 2, 16, QLatin1Char('0'));
}
QString h16(const QByteArray &b, int at)
{
    return QStringLiteral("%1").arg(quint8(b[at]) | quint8(b[at + 1]) << 8, 4, 16, QLatin1Char('0'));
}

struct Descriptor {
    int at = 0, length = 0, type = 0;
};

} // namespace

QJsonObject decodeUsb(const QByteArray &b)
{
    QJsonObject usb;
    // Cut the stream into descriptors first; a zero length byte ends it.
    QVector<Descriptor> list;
    int at = 0;
    for (;;) {
        if (at >= b.size()) {
            usb.insert("problem", QStringLiteral("the block ends without its closing 0 byte"));
            break;
        }
        const int length = quint8(b[at]);
        if (length == 0) break;
        if (length < 2 || at + length > b.size()) {
            usb.insert("problem", QStringLiteral("the descriptor at %1 is cut short").arg(at));
            break;
        }
        list.append({at, length, quint8(b[at + 1])});
        at += length;
    }
    // Strings first, so the other descriptors can name theirs.
    QStringList strings{QString()};
    // The first string descriptor lists the language IDs; the strings follow from index 1.
    QStringList languages;
    bool languagesRead = false;
    for (const Descriptor &d : list) {
        if (d.type != 3) continue;
        if (!languagesRead) {
            for (int i = d.at + 2; i + 1 < d.at + d.length; i += 2)
                languages << h16(b, i);
            languagesRead = true;
            continue;
        }
        QString s;
        for (int i = d.at + 2; i + 1 < d.at + d.length; i += 2) {
            const QChar c(ushort(quint8(b[i]) | quint8(b[i + 1]) << 8));
            s += c.unicode() < 0x20 || c.unicode() == 0x7F ? QChar('?') : c;
        }
        strings.append(s);
    }
    auto str = [&](int index) {
        return index == 0 ? QString()
                          : strings.value(index, QStringLiteral("(string %1 missing)").arg(index));
    };
    QJsonArray configurations, strs;
    QJsonArray interfaces, descriptors, endpoints;
    QJsonObject current, config;
    bool haveConfig = false, haveInterface = false;
    auto closeInterface = [&] {
        if (!haveInterface) return;
        current.insert("descriptors", descriptors);
        current.insert("endpoints", endpoints);
        interfaces.append(current);
        current = QJsonObject();
        descriptors = QJsonArray();
        endpoints = QJsonArray();
        haveInterface = false;
    };
    auto closeConfig = [&] {
        closeInterface();
        if (!haveConfig) return;
        config.insert("interfaces", interfaces);
        configurations.append(config);
        config = QJsonObject();
        interfaces = QJsonArray();
        haveConfig = false;
    };
    for (const Descriptor &d : list) {
        const int p = d.at;
        if (d.type == 1 && d.length >= 18) {
            usb.insert("device", QJsonObject{{"bcdUSB", h16(b, p + 2)},
                                             {"bDeviceClass", h8(b, p + 4)},
                                             {"bDeviceSubClass", h8(b, p + 5)},
                                             {"bDeviceProtocol", h8(b, p + 6)},
                                             {"bMaxPacketSize", h8(b, p + 7)},
                                             {"idVendor", h16(b, p + 8)},
                                             {"idProduct", h16(b, p + 10)},
                                             {"bcdDevice", h16(b, p + 12)},
                                             {"iManufacturer", str(quint8(b[p + 14]))},
                                             {"iProduct", str(quint8(b[p + 15]))},
                                             {"iSerialNumber", str(quint8(b[p + 16]))},
                                             {"bNumConfigurations", int(quint8(b[p + 17]))}});
        } else if (d.type == 2 && d.length >= 9) {
            closeConfig();
            haveConfig = true;
            config = QJsonObject{{"wTotalLength", int(quint8(b[p + 2]) | quint8(b[p + 3]) << 8)},
                                 {"bConfigurationValue", int(quint8(b[p + 5]))},
                                 {"iConfiguration", str(quint8(b[p + 6]))},
                                 {"bmAttributes", h8(b, p + 7)},
                                 {"bMaxPower", h8(b, p + 8)}};
        } else if (d.type == 4 && d.length >= 9) {
            closeInterface();
            haveInterface = true;
            current = QJsonObject{
                {"bInterfaceNumber", int(quint8(b[p + 2]))}, {"bAlternateSetting", h8(b, p + 3)},
                {"bInterfaceClass", h8(b, p + 5)},           {"bInterfaceSubClass", h8(b, p + 6)},
                {"bInterfaceProtocol", h8(b, p + 7)},        {"iInterface", str(quint8(b[p + 8]))}};
        } else if (d.type == 5 && d.length >= 7) {
            endpoints.append(QJsonObject{{"bEndpointAddress", h8(b, p + 2)},
                                         {"bmAttributes", h8(b, p + 3)},
                                         {"wMaxPacketSize", h16(b, p + 4)},
                                         {"bInterval", h8(b, p + 6)}});
        } else if (d.type != 3) {
            descriptors.append(
                QJsonObject{{"Type", h8(b, p + 1)},
                            {"data", QString::fromLatin1(b.mid(p + 2, d.length - 2).toHex(' '))}});
        }
    }
    closeConfig();
    for (int i = 1; i < strings.size(); ++i)
        strs.append(strings[i]);
    usb.insert("configurations", configurations);
    usb.insert("strings", strs);
    if (languagesRead) usb.insert("languages", languages.join(QLatin1Char(' ')));
    return usb;
}
