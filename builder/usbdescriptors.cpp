#include "usbdescriptors.h"

namespace
{

void u8(QByteArray &out, quint8 v)
{
    out.append(char(v));
}

void u16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

} // namespace

bool usb_descriptor::serialize(QByteArray &out) const
{
    if (data.size() + 2 > 255) return false;
    u8(out, quint8(data.size() + 2));
    u8(out, Type);
    out.append(data);
    return true;
}

bool usb_endpoint::serialize(QByteArray &out) const
{
    u8(out, 7);
    u8(out, 5);
    u8(out, bEndpointAddress);
    u8(out, bmAttributes);
    u16(out, wMaxPacketSize);
    u8(out, bInterval);
    return true;
}

bool usb_interface::serialize(QByteArray &out) const
{
    u8(out, 9);
    u8(out, 4);
    u8(out, bInterfaceNumber);
    u8(out, bAlternateSetting);
    u8(out, quint8(endpoints.size()));
    u8(out, bInterfaceClass);
    u8(out, bInterfaceSubClass);
    u8(out, bInterfaceProtocol);
    u8(out, iInterface);
    for (const auto &d : descriptors) {
        if (!d->serialize(out)) return false;
    }
    for (const auto &ep : endpoints) {
        if (!ep->serialize(out)) return false;
    }
    return true;
}

// Every count and string index is a single byte in the descriptors.
static bool countsFit(const usb_device &device, const QStringList &strings, QString &error)
{
    if (device.configurations.size() > 255) {
        error = QStringLiteral("USB device with more than 255 configurations");
        return false;
    }
    for (const usb_configuration &c : device.configurations) {
        if (c.interfaces.size() > 255) {
            error = QStringLiteral("USB configuration %1 with more than 255 interfaces")
                        .arg(c.bConfigurationValue);
            return false;
        }
        for (const auto &i : c.interfaces) {
            if (i->endpoints.size() > 255) {
                error =
                    QStringLiteral("USB interface %1 with more than 255 endpoints").arg(i->bInterfaceNumber);
                return false;
            }
        }
    }
    // Entry 0 is the placeholder for "no string".
    if (strings.size() > 256) {
        error = QStringLiteral("USB descriptor file with more than 255 strings");
        return false;
    }
    return true;
}

bool usb_device::serialize(const QStringList &strings, QByteArray &out, QString &error) const
{
    if (!countsFit(*this, strings, error)) return false;
    u8(out, 18);
    u8(out, 1);
    u16(out, bcdUSB);
    u8(out, bDeviceClass);
    u8(out, bDeviceSubClass);
    u8(out, bDeviceProtocol);
    u8(out, bMaxPacketSize);
    u16(out, idVendor);
    u16(out, idProduct);
    u16(out, bcdDevice);
    u8(out, iManufacturer);
    u8(out, iProduct);
    u8(out, iSerialNumber);
    u8(out, quint8(configurations.size()));

    for (const usb_configuration &c : configurations) {
        const int start = out.size();
        u8(out, 9);
        u8(out, 2);
        u16(out, 0); // wTotalLength, known once the configuration is written
        u8(out, quint8(c.interfaces.size()));
        u8(out, c.bConfigurationValue);
        u8(out, c.iConfiguration);
        u8(out, c.bmAttributes);
        u8(out, c.bMaxPower);
        for (const auto &i : c.interfaces) {
            if (!i->serialize(out)) {
                error = QStringLiteral("USB class descriptor longer than 253 bytes in interface %1")
                            .arg(i->bInterfaceNumber);
                return false;
            }
        }
        const int total = out.size() - start;
        if (total > 0xFFFF) {
            error = QStringLiteral("USB configuration %1 longer than 65535 bytes").arg(c.bConfigurationValue);
            return false;
        }
        out[start + 2] = char(total & 0xFF);
        out[start + 3] = char(total >> 8);
    }

    // Language ID 0x0409, English (United States).
    out.append("\x04\x03\x09\x04", 4);
    for (int i = 1; i < strings.size(); ++i) {
        const QString &s = strings.at(i);
        if (2 + 2 * s.size() > 255) {
            error = QStringLiteral("USB string longer than 126 characters: ") + s;
            return false;
        }
        u8(out, quint8(2 + 2 * s.size()));
        u8(out, 3);
        for (QChar ch : s)
            u16(out, ch.unicode());
    }
    u8(out, 0);
    return true;
}
