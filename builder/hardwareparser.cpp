#include "hardwareparser.h"

#include "console.h"
#include "xmlfile.h"

#include <cmath>

namespace
{

// The module's peripheral bus clock in Hz.
const double PB = 40000000.0;
// The high-speed generator with divider 0; nothing faster can be set.
const int MaxBaud = 10000000;

// Port indexes into HardwareConfig::port.
const int PortB = 0;
const int PortD = 2;
const int PortF = 4;

QString text(const QDomElement &e, const char *name, const char *fallback)
{
    return e.attribute(QLatin1String(name), QLatin1String(fallback));
}

// Decimal; text that does not parse gives 0 unless the caller asks.
int decimal(const QDomElement &e, const char *name, const char *fallback, bool *ok = nullptr)
{
    return text(e, name, fallback).toInt(ok, 10);
}

quint32 unsignedDecimal(const QDomElement &e, const char *name, const char *fallback, bool *ok = nullptr)
{
    return text(e, name, fallback).toUInt(ok, 10);
}

// "0x" hexadecimal, leading 0 octal, else decimal.
quint32 autoBase(const QDomElement &e, const char *name, const char *fallback, bool *ok = nullptr)
{
    return text(e, name, fallback).toUInt(ok, 0);
}

// True unless the value is the given literal (without regard to case).
bool flag(const QDomElement &e, const char *name, const char *falseLiteral)
{
    return text(e, name, falseLiteral).compare(QLatin1String(falseLiteral), Qt::CaseInsensitive) != 0;
}

QString hex(quint32 v)
{
    return QString::number(v, 16);
}

QString yesNo(bool v)
{
    return v ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

bool HardwareParser::parse(const QDomElement &node, QByteArray &out)
{
    m_config = HardwareConfig();
    m_pins.clear();
    m_usbDescriptorPath.clear();

    if (node.isNull()) {
        console.err(QStringLiteral("Failed to parse <hardware>"));
        return false;
    }
    QDomDocument included;
    QDomElement section = node;
    if (node.hasAttribute(QStringLiteral("in"))) {
        const QString path = node.attribute(QStringLiteral("in"));
        addInput(path);
        if (XmlFile::load(path, QStringLiteral("hardware"), included, console) != XmlFile::Loaded)
            return false;
        section = included.documentElement();
    }

    static const struct {
        const char *tag;
        bool (HardwareParser::*parse)(const QDomElement &);
    } elements[] = {
        {"port", &HardwareParser::parsePort},     {"uart", &HardwareParser::parseUart},
        {"spi", &HardwareParser::parseSpi},       {"i2c", &HardwareParser::parseI2c},
        {"timer", &HardwareParser::parseTimer},   {"adc", &HardwareParser::parseAdc},
        {"usb", &HardwareParser::parseUsb},       {"sleep", &HardwareParser::parseSleep},
        {"notify", &HardwareParser::parseNotify}, {"ethernet", &HardwareParser::parseEthernet},
        {"sdhc", &HardwareParser::parseSdhc},
    };
    // Unknown tags are passed over.
    for (QDomElement e = section.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        for (const auto &element : elements) {
            if (e.tagName() == QLatin1String(element.tag) && !(this->*element.parse)(e)) return false;
        }
    }

    for (int k = 0; k < 6; ++k) {
        const HardwareConfig::Port &p = m_config.port[k];
        console.out(QStringLiteral("port:") + QChar('b' + k));
        console.out(QStringLiteral(" TRIS       :") + hex(p.tris));
        console.out(QStringLiteral(" LAT        :") + hex(p.lat));
        console.out(QStringLiteral(" ODC        :") + hex(p.odc));
    }
    out = m_config.toBytes();
    return true;
}

bool HardwareParser::invalid(const char *message, const QString &value)
{
    console.err(QLatin1String(message) + value);
    return false;
}

void HardwareParser::makeIdleHighOutput(int port, int bit)
{
    m_config.port[port].tris &= quint16(~(1u << bit));
    m_config.port[port].lat |= quint16(1u << bit);
}

bool HardwareParser::parsePort(const QDomElement &e)
{
    const int index = decimal(e, "index", "0");
    if (index < 1 || index > 6) return invalid("invalid port:", QString::number(index));
    HardwareConfig::Port &p = m_config.port[index - 1];
    p.tris &= quint16(autoBase(e, "tristate", "0xffff"));
    p.lat |= quint16(autoBase(e, "latch", "0x0"));
    p.odc |= quint16(autoBase(e, "open_drain", "0x0"));
    console.out(QStringLiteral("port:") + QString::number(index));
    return true;
}

bool HardwareParser::parseUart(const QDomElement &e)
{
    bool parsed = false;
    const int channel = decimal(e, "channel", "0", &parsed);
    // Text must not pass for channel 0.
    if (!parsed) return invalid("invalid uart channel:", text(e, "channel", "0"));
    if (channel != 0 && channel != 1) return invalid("invalid uart channel:", QString::number(channel));
    const int baud = decimal(e, "baud", "57600");
    if (baud < 1 || baud > MaxBaud) return invalid("invalid baud rate:", QString::number(baud));
    const int stopBits = decimal(e, "stopbits", "1");
    if (stopBits != 1 && stopBits != 2) return invalid("invalid stop bits:", QString::number(stopBits));
    const bool handshake = flag(e, "handshake", "false");
    const bool api = flag(e, "api", "false");
    const QString parity = text(e, "parity", "none");
    quint16 parityBits = 0;
    if (parity.compare(QLatin1String("odd"), Qt::CaseInsensitive) == 0)
        parityBits = 0x0004;
    else if (parity.compare(QLatin1String("even"), Qt::CaseInsensitive) == 0)
        parityBits = 0x0002;
    else if (parity.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0)
        return invalid("invalid parity:", parity);

    // Both generators are tried; the one nearer the wanted rate wins, the standard one only while its
    // divider fits 8 bits. The errors are compared in single precision.
    const int standard = int(PB / (16.0 * baud) - 1 + 0.5);
    const int highSpeed = int(PB / (4.0 * baud) - 1 + 0.5);
    const float standardRate = float(PB / ((standard + 1) * 16.0));
    const float highSpeedRate = float(PB / ((highSpeed + 1) * 4.0));
    const float wanted = float(baud);
    const float standardError = std::fabs((wanted - standardRate) / wanted * 100.0f);
    const float highSpeedError = std::fabs((wanted - highSpeedRate) / wanted * 100.0f);
    const bool useHighSpeed = !(standardError <= highSpeedError && standard <= 255);
    const int brg = useHighSpeed ? highSpeed : standard;
    // A rate too slow for the 16-bit divider would be cut to a wrong rate.
    if (brg > 0xFFFF) return invalid("invalid baud rate:", QString::number(baud));

    HardwareConfig::Uart &u = m_config.uart[channel];
    u.brg = quint16(brg);
    u.mode = 0x8000 | (useHighSpeed ? 0x0008 : 0) | (handshake ? 0x0200 : 0) | parityBits |
             (stopBits == 2 ? 0x0001 : 0);
    if (api) u.api = 1;
    if (channel == 0) {
        makeIdleHighOutput(PortD, 3);
        if (handshake) makeIdleHighOutput(PortD, 1);
    } else {
        makeIdleHighOutput(PortF, 5);
        if (handshake) makeIdleHighOutput(PortB, 14);
    }

    const float actual = useHighSpeed ? highSpeedRate : standardRate;
    const float error = useHighSpeed ? highSpeedError : standardError;
    console.out(e.tagName() + ':' + QString::number(channel));
    console.out(QStringLiteral(" high_speed :") + (useHighSpeed ? "enabled" : "disabled"));
    console.out(QStringLiteral(" baudrate   :") + QString::number(baud));
    console.out(QStringLiteral(" actual     :") + QString::number(qint64(actual)));
    console.out(QStringLiteral(" error%     :") + QString::number(double(error), 'g', 6));
    console.out(QStringLiteral(" handshake  :") + yesNo(handshake));
    console.out(QStringLiteral(" HVAPI      :") + yesNo(api));
    console.out(QStringLiteral(" BRG        :0x") + hex(u.brg));
    console.out(QStringLiteral(" MODE       :0x") + hex(u.mode));
    return m_pins.reserve(PinTable::uart(channel, handshake), console);
}

bool HardwareParser::parseSpi(const QDomElement &e)
{
    const int channel = decimal(e, "channel", "0");
    if (channel != 3 && channel != 4) return invalid("invalid spi channel:", QString::number(channel));
    bool parsed = false;
    const int divisor = decimal(e, "divisor", "15", &parsed);
    if (!parsed) return invalid("invalid divisor:", text(e, "divisor", "15"));
    if (divisor < 0 || divisor > 511) return invalid("invalid divisor:", QString::number(divisor));
    const bool api = flag(e, "api", "false");
    const bool master = text(e, "mode", "master").compare(QLatin1String("master"), Qt::CaseInsensitive) == 0;
    const bool slaveSelect = flag(e, "slave_select", "false");
    const bool idleHigh = flag(e, "clock_idle_polarity", "low");
    const bool clockEdge = flag(e, "clock_edge", "0");

    HardwareConfig::Spi &s = m_config.spi[channel - 3];
    s.con = 0x8000;
    if (master) s.con |= 0x0020;
    if (slaveSelect) s.con |= master ? 0x10000000 : 0x0080;
    if (idleHigh) s.con |= 0x0040;
    if (clockEdge) s.con |= 0x0100;
    s.brg = quint16(divisor);
    if (api) s.api = 1;

    console.out(e.tagName() + ':' + QString::number(channel));
    console.out(QStringLiteral(" divisor   :") + QString::number(divisor));
    console.out(QStringLiteral(" bitrate   :") + QString::number(qint64(PB) / (2 * divisor + 2)));
    console.out(QStringLiteral(" SPICON    :") + hex(s.con));
    console.out(QStringLiteral(" SPIBRG    :") + hex(s.brg));
    console.out(QStringLiteral(" HVAPI     :") + yesNo(api));
    return m_pins.reserve(PinTable::spi(channel, slaveSelect), console);
}

bool HardwareParser::parseI2c(const QDomElement &e)
{
    const int channel = decimal(e, "channel", "0");
    int slot;
    switch (channel) {
    case 1:
        slot = 0;
        break;
    case 3:
        slot = 1;
        break;
    case 5:
        slot = 2;
        break;
    default:
        return invalid("invalid i2c channel:", QString::number(channel));
    }
    bool parsed = false;
    const int brg = decimal(e, "brg", "44", &parsed);
    if (!parsed) return invalid("invalid brg:", text(e, "brg", "44"));
    if (brg < 2 || brg > 4095) return invalid("invalid brg:", QString::number(brg));

    HardwareConfig::I2c &i = m_config.i2c[slot];
    i.con |= 0x8000;
    i.brg = quint16(brg);
    // The pulse gobbler delay of the bus, as the data sheet gives it.
    const float tpgd = 104e-9f;
    const qint64 rate = qint64(0.5 / ((brg + 2) / PB + tpgd));

    console.out(e.tagName() + ':' + QString::number(channel));
    console.out(QStringLiteral(" brg       :") + QString::number(brg));
    console.out(QStringLiteral(" bitrate   :") + QString::number(rate));
    console.out(QStringLiteral(" I2CCON    :") + hex(i.con));
    console.out(QStringLiteral(" I2CBRG    :") + hex(i.brg));
    return m_pins.reserve(PinTable::i2c(channel), console);
}

bool HardwareParser::parseTimer(const QDomElement &e)
{
    const int index = decimal(e, "index", "2");
    if (index < 2 || index > 5) return invalid("invalid timer:", QString::number(index));
    const int prescale = decimal(e, "prescale", "1");
    static const int prescales[] = {1, 2, 4, 8, 16, 32, 64, 256};
    int tckps = -1;
    for (int i = 0; i < 8; ++i) {
        if (prescales[i] == prescale) tckps = i;
    }
    if (tckps < 0) return invalid("invalid prescale:", QString::number(prescale));
    const bool bits32 = flag(e, "bits", "16");
    const bool external = flag(e, "clock_source", "internal");
    bool parsed = false;
    const quint32 period = autoBase(e, "period", "0xFFFFFFFF", &parsed);
    if (!parsed) return invalid("invalid period:", text(e, "period", "0xFFFFFFFF"));
    // Timers pair as 2/3 and 4/5; timer 5 has no partner for the high half.
    if (bits32 && index == 5) return invalid("invalid 32-bit timer:", QString::number(index));

    HardwareConfig::Timer &t = m_config.timer[index - 2];
    t.con = quint16(0x8000 | (tckps << 4) | (bits32 ? 0x0008 : 0) | (external ? 0x0002 : 0));
    t.period = quint16(period);
    if (bits32) m_config.timer[index - 1].period = quint16(period >> 16);

    const double rate = PB / prescale / 65535 * double(period);
    console.out(e.tagName() + ':' + QString::number(index));
    console.out(QStringLiteral(" rate   :") + QString::number(quint64(rate)));
    console.out(QStringLiteral(" TxCON  :") + hex(t.con));
    console.out(QStringLiteral(" PRx    :") + hex(t.period));
    return true;
}

bool HardwareParser::parseAdc(const QDomElement &e)
{
    bool parsed = false;
    const quint32 pins = autoBase(e, "enabled_pins", "0", &parsed);
    // One bit for each of the 16 analog inputs.
    if (!parsed || pins > 0xFFFF) return invalid("invalid enabled_pins:", text(e, "enabled_pins", "0"));
    m_config.ad1pcfg = quint16(~pins);
    console.out(QStringLiteral("adc"));
    console.out(QStringLiteral(" AD1PCFG     :") + hex(m_config.ad1pcfg));
    return m_pins.reserve(PinTable::adc(pins), console);
}

bool HardwareParser::parseUsb(const QDomElement &e)
{
    console.out(QStringLiteral("usb"));
    const bool api = flag(e, "api", "false");
    m_config.usbApi = api ? 1 : 0;
    m_config.usbEnabled = 1;
    m_usbDescriptorPath = e.attribute(QStringLiteral("descriptor"));
    if (m_usbDescriptorPath.isEmpty()) {
        console.err(QStringLiteral("USB descriptor definition required\n"));
        return false;
    }
    console.out(QStringLiteral(" HVAPI      :") + yesNo(api));
    return m_pins.reserve(PinTable::usb(), console);
}

bool HardwareParser::parseSleep(const QDomElement &e)
{
    console.out(QStringLiteral("sleep"));
    bool ok = false;
    const quint32 delay = autoBase(e, "delay", "0xffffffff", &ok);
    if (!ok) return invalid("failed to parse sleep timeout", QString());
    quint32 mask = autoBase(e, "interrupts", "0", &ok);
    if (ok && mask == 0) mask = autoBase(e, "interrupt", "0", &ok);
    if (!ok) return invalid("failed to parse sleep interrupts", QString());
    // Only INT0, INT2, INT3 and INT4 can wake the module.
    if (mask & ~0x1Du) return invalid("invalid bit mask for sleep interrupts", QString());

    static const struct {
        quint32 interrupt;
        quint16 portDBit;
    } wakePins[] = {{0x01, 0x0001}, {0x04, 0x0200}, {0x08, 0x0400}, {0x10, 0x0800}};
    for (const auto &w : wakePins) {
        if (mask & w.interrupt) {
            m_config.port[PortD].tris |= w.portDBit;
            m_config.sleepWakeMask |= w.portDBit;
        }
    }
    if (!m_pins.reserve(PinTable::interrupts(mask), console)) return false;
    const bool wdtWakeup = text(e, "wdt_wakeup", "true").toLower() == QLatin1String("true");
    m_config.sleepDelay = delay;
    m_config.wdtWakeup = wdtWakeup ? 1 : 0;
    if (delay != 0xFFFFFFFF)
        console.out(QStringLiteral(" delay      :") + QString::number(delay) + QStringLiteral("ms"));
    console.out(QStringLiteral(" wakeup int :") + hex(mask));
    console.out(QStringLiteral(" wdt_wakeup :") + yesNo(wdtWakeup));
    return true;
}

bool HardwareParser::parseNotify(const QDomElement &e)
{
    console.out(QStringLiteral("notify"));
    bool ok = false;
    const quint32 port = unsignedDecimal(e, "port", "0", &ok);
    if (!ok) return invalid("failed to parse notify index", QString());
    const quint32 bit = unsignedDecimal(e, "bit", "0", &ok);
    if (!ok) return invalid("failed to parse notify bit", QString());
    // The pin is driven in one of the six 16-bit ports.
    if (port < 1 || port > 6) return invalid("invalid port:", QString::number(port));
    if (bit > 15) return invalid("invalid bit:", QString::number(bit));

    m_config.notifyMask = 1u << bit;
    m_config.notifyPort = port;
    HardwareConfig::Port &p = m_config.port[port - 1];
    const quint16 keep = quint16(~(1u << bit));
    p.tris &= keep;
    p.lat &= keep;
    p.odc &= keep;
    console.out(QStringLiteral(" port       :") + QString::number(port));
    console.out(QStringLiteral(" bit        :") + QString::number(bit));
    return m_pins.reserve(PinTable::notify(int(port), int(bit)), console);
}

bool HardwareParser::parseEthernet(const QDomElement &e)
{
    m_config.ethernet = unsignedDecimal(e, "enable", "0");
    if (m_config.ethernet != 0) return m_pins.reserve(PinTable::ethernet(), console);
    return true;
}

bool HardwareParser::parseSdhc(const QDomElement &e)
{
    bool ok = false;
    const quint32 enable = unsignedDecimal(e, "enable", "0");
    quint32 spiPort = unsignedDecimal(e, "spi_port", "0", &ok);
    if (!ok) spiPort = 3;
    quint32 csPort = unsignedDecimal(e, "cs_port", "0", &ok);
    if (!ok) csPort = 2;
    quint32 csPin = unsignedDecimal(e, "cs_pin", "0", &ok);
    if (!ok) csPin = 14;
    // The chip-select port names a pin of ports B..G (0: no prefix); the card's SPI channel is 3 or 4,
    // or 0 (the default), which reserves no SPI pins.
    if (enable != 0 && csPort > 6) return invalid("invalid port:", QString::number(csPort));
    if (enable != 0 && csPin > 15) return invalid("invalid pin:", QString::number(csPin));
    if (enable != 0 && spiPort != 0 && spiPort != 3 && spiPort != 4)
        return invalid("invalid spi channel:", QString::number(spiPort));

    m_config.sdEnable = quint16(enable);
    m_config.sdSpiChannel = quint16(spiPort);
    m_config.sdCsPort = quint16(csPort);
    m_config.sdCsPin = quint16(csPin);
    if (enable == 0) return true;
    console.out(QStringLiteral("sdhc"));
    console.out(QStringLiteral(" spi_port   :") + QString::number(spiPort));
    console.out(QStringLiteral(" cs_port    :") + QString::number(csPort));
    console.out(QStringLiteral(" cs_pin     :") + QString::number(csPin));
    return m_pins.reserve(PinTable::sdhc(int(spiPort), int(csPort), int(csPin)), console);
}
