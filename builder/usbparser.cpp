#include "usbparser.h"

#include "console.h"
#include "xmlfile.h"

namespace
{

quint32 hexAttribute(const QDomElement &e, const char *name, const char *fallback = "0")
{
    return e.attribute(QLatin1String(name), QLatin1String(fallback)).toUInt(nullptr, 16);
}

QDomElement firstDescendant(const QDomElement &e, const char *tag)
{
    return e.elementsByTagName(QLatin1String(tag)).item(0).toElement();
}

} // namespace

quint8 USBParser::stringIndex(const QString &text)
{
    if (text.isEmpty()) return 0;
    int index = m_strings.indexOf(text);
    if (index < 0) {
        m_strings.append(text);
        index = m_strings.size() - 1;
    }
    return quint8(index);
}

quint8 USBParser::stringAttribute(const QDomElement &e, const char *name)
{
    return stringIndex(e.attribute(QLatin1String(name)));
}

bool USBParser::parse(const QDomElement &node, QByteArray &out)
{
    m_device = usb_device();
    m_strings = QStringList{QString()};

    if (!node.isElement()) {
        console.err(QStringLiteral("Failed to parse <usb>"));
    } else if (node.hasAttribute(QStringLiteral("descriptor"))) {
        const QString path = node.attribute(QStringLiteral("descriptor"));
        addInput(path);
        QDomDocument doc;
        if (XmlFile::load(path, QStringLiteral("usb"), doc, console) != XmlFile::Loaded) return false;
        if (!read(doc.documentElement())) return false;
    } else if (!read(node)) {
        return false;
    }

    QString error;
    if (!m_device.serialize(m_strings, out, error)) {
        console.err(error);
        return false;
    }
    return true;
}

bool USBParser::read(const QDomElement &root)
{
    const QDomElement dev = firstDescendant(root, "device");
    if (dev.isNull()) {
        console.out(QStringLiteral("No device found"));
        return true;
    }
    m_strings = QStringList{QString()};
    usb_device &d = m_device;
    d.bcdUSB = quint16(hexAttribute(dev, "bcdUSB"));
    d.bDeviceClass = quint8(hexAttribute(dev, "bDeviceClass"));
    d.bDeviceSubClass = quint8(hexAttribute(dev, "bDeviceSubClass"));
    d.bDeviceProtocol = quint8(hexAttribute(dev, "bDeviceProtocol"));
    d.bMaxPacketSize = quint8(hexAttribute(dev, "bMaxPacketSize", "08"));
    d.idVendor = quint16(hexAttribute(dev, "idVendor"));
    d.idProduct = quint16(hexAttribute(dev, "idProduct"));
    d.bcdDevice = quint16(hexAttribute(dev, "bcdDevice"));
    d.iManufacturer = stringAttribute(dev, "iManufacturer");
    d.iProduct = stringAttribute(dev, "iProduct");
    d.iSerialNumber = stringAttribute(dev, "iSerialNumber");

    // Every configuration is given all interfaces of the device, numbered over the whole device.
    const QDomNodeList configurations = dev.elementsByTagName(QStringLiteral("configuration"));
    const QDomNodeList interfaces = dev.elementsByTagName(QStringLiteral("interface"));
    for (int i = 0; i < configurations.size(); ++i) {
        const QDomElement ce = configurations.item(i).toElement();
        usb_configuration c;
        c.bConfigurationValue = quint8(i + 1);
        c.iConfiguration = stringAttribute(ce, "iConfiguration");
        c.bmAttributes = quint8(hexAttribute(ce, "bmAttributes"));
        c.bMaxPower = quint8(hexAttribute(ce, "bMaxPower"));
        for (int j = 0; j < interfaces.size(); ++j) {
            const QDomElement ie = interfaces.item(j).toElement();
            auto itf = std::make_unique<usb_interface>();
            itf->bInterfaceNumber = quint8(j);
            itf->bAlternateSetting = quint8(hexAttribute(ie, "bAlternateSetting"));
            itf->bInterfaceClass = quint8(hexAttribute(ie, "bInterfaceClass"));
            itf->bInterfaceSubClass = quint8(hexAttribute(ie, "bInterfaceSubClass"));
            itf->bInterfaceProtocol = quint8(hexAttribute(ie, "bInterfaceProtocol"));
            itf->iInterface = stringAttribute(ie, "iInterface");

            const QDomNodeList descriptors = ie.elementsByTagName(QStringLiteral("descriptor"));
            for (int k = 0; k < descriptors.size(); ++k) {
                const QDomElement de = descriptors.item(k).toElement();
                auto desc = std::make_unique<usb_descriptor>();
                desc->Type = quint8(hexAttribute(de, "Type"));
                const QDomNodeList data = de.elementsByTagName(QStringLiteral("data"));
                // Anything that is not a hexadecimal digit (spaces, line breaks) is skipped.
                for (int n = 0; n < data.size(); ++n)
                    desc->data += QByteArray::fromHex(data.item(n).toElement().text().toLatin1());
                itf->descriptors.push_back(std::move(desc));
            }
            const QDomNodeList endpoints = ie.elementsByTagName(QStringLiteral("endpoint"));
            for (int k = 0; k < endpoints.size(); ++k) {
                const QDomElement ee = endpoints.item(k).toElement();
                auto ep = std::make_unique<usb_endpoint>();
                ep->bEndpointAddress = quint8(hexAttribute(ee, "bEndpointAddress"));
                ep->bmAttributes = quint8(hexAttribute(ee, "bmAttributes"));
                ep->wMaxPacketSize = quint16(hexAttribute(ee, "wMaxPacketSize"));
                ep->bInterval = quint8(hexAttribute(ee, "bInterval"));
                itf->endpoints.push_back(std::move(ep));
            }
            c.interfaces.push_back(std::move(itf));
        }
        d.configurations.push_back(std::move(c));
    }
    return true;
}
