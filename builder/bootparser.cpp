#include "bootparser.h"

#include "console.h"
#include "xmlfile.h"

#include <QFile>
#include <cctype>

namespace
{

const int MacOffset = 0x502;
const int SystemPllDivider = 0x2FF4;
const int UsbPllDivider = 0x2FF5;
const int WatchdogPostscaler = 0x2FFA;

// Crystal frequencies in MHz; the position is the PLL input divider code that brings each to 4 MHz.
const int oscillators[] = {4, 8, 12, 16, 20, 24, 40, 48};

bool isHexDigit(QChar c)
{
    return c.unicode() < 128 && std::isxdigit(c.unicode());
}

void setLowBits(QByteArray &image, int offset, int mask, int value)
{
    image[offset] = char((quint8(image.at(offset)) & ~mask) | (value & mask));
}

} // namespace

bool BootParser::parse(const QDomElement &node, QByteArray &out)
{
    const QString path = node.attribute(QStringLiteral("in"), m_sdkRoot + QStringLiteral("/fw/boot.juo"));
    // A decimal attribute, read only when present; false after "failed to parse" and its name.
    auto decimal = [&](const char *name, int &value) {
        if (!node.hasAttribute(QLatin1String(name))) return true;
        bool parsed = false;
        value = node.attribute(QLatin1String(name)).toInt(&parsed, 10);
        if (!parsed) console.err(QStringLiteral("failed to parse ") + QLatin1String(name));
        return parsed;
    };

    int wdtps = 13;
    if (!decimal("WDTPS", wdtps)) return false;
    if (wdtps < 0 || wdtps > 20) {
        console.err(QStringLiteral("invalid postscaler:") + QString::number(wdtps));
        return false;
    }
    int frequency = 8;
    if (!decimal("oscillator", frequency)) return false;
    int code = -1;
    for (int i = 0; i < 8; ++i) {
        if (oscillators[i] == frequency) code = i;
    }
    if (code < 0) {
        console.err(QStringLiteral("invalid oscillator:") + QString::number(frequency));
        return false;
    }

    const QString macText = node.attribute(QStringLiteral("default_mac"), QStringLiteral("02a4c0ffffff"));
    QByteArray mac;
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const QString pair = macText.mid(2 * i, 2);
        const uint byte = pair.toUInt(&ok, 16);
        if (!ok || pair.size() != 2 || !isHexDigit(pair.at(0)) || !isHexDigit(pair.at(1))) {
            console.err(QStringLiteral("failed to parse MAC address"));
            return false;
        }
        mac.append(char(byte));
    }

    console.out(QStringLiteral("BOOTLOADER:"));
    console.out(QStringLiteral(" in         :") + path);
    console.out(QStringLiteral(" WDTPS      :") + QString::number(wdtps) + QStringLiteral(" (") +
                QString::number(double(1u << wdtps) / 1000.0, 'f', 3) + QStringLiteral("s)"));
    console.out(QStringLiteral(" F/UPLLIDIV :") + QString::number(code) + QStringLiteral(" (") +
                QString::number(frequency) + QStringLiteral(" MHz)"));
    console.out(QStringLiteral(" default_mac:") + QString::fromLatin1(mac.toHex()));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        console.err(QStringLiteral("Unable to open:") + path);
        return false;
    }
    addInput(path);
    QByteArray image;
    if (!XmlFile::readAll(file, image, console)) return false;
    // The patches and the fallback settings below the configuration words need the whole boot flash.
    if (image.size() < ImageSize) {
        console.err(QStringLiteral("Bootloader image too short:") + path);
        return false;
    }
    image.replace(MacOffset, 6, mac);
    setLowBits(image, SystemPllDivider, 0x07, code);
    setLowBits(image, UsbPllDivider, 0x07, code);
    setLowBits(image, WatchdogPostscaler, 0x1F, wdtps);
    out = image;
    return true;
}
