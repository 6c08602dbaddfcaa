#include "pinreservation.h"

#include "console.h"

bool PinTable::reserve(const PinRequest &request, Console &console)
{
    for (const PinRequest &earlier : m_accepted) {
        for (const PinReservation &held : earlier.pins) {
            for (const PinReservation &wanted : request.pins) {
                if (held.pin == wanted.pin) {
                    console.out(request.owner + QStringLiteral(" signal ") + wanted.signal +
                                QStringLiteral(" in I/O ") + wanted.pin +
                                QStringLiteral(" is already used by ") + earlier.owner +
                                QStringLiteral(" signal ") + held.signal);
                    return false;
                }
            }
        }
    }
    m_accepted.append(request);
    return true;
}

QString PinTable::portPrefix(int port)
{
    static const char *const prefixes[] = {"", "RB", "RC", "RD", "RE", "RF", "RG"};
    if (port < 0 || port > 6) return QString();
    return QString::fromLatin1(prefixes[port]);
}

static PinRequest request(const QString &owner, std::initializer_list<PinReservation> pins)
{
    return PinRequest{owner, QVector<PinReservation>(pins)};
}

PinRequest PinTable::uart(int channel, bool handshake)
{
    PinRequest r{QStringLiteral("UART%1").arg(channel), {}};
    if (channel == 0) {
        r.pins = {{"RD3", "U1TX"}, {"RD2", "U1RX"}};
        if (handshake) r.pins += {{"RD9", "nU1CTS"}, {"RD1", "nU1RTS"}};
    } else if (channel == 1) {
        r.pins = {{"RF5", "U2TX"}, {"RF4", "U2RX"}};
        if (handshake) r.pins += {{"RB8", "nU2CTS"}, {"RB14", "nU2RTS"}};
    }
    return r;
}

static void addSpiDataPins(PinRequest &r, int channel)
{
    if (channel == 3)
        r.pins += {{"RD3", "SDO3"}, {"RD2", "SDI3"}, {"RD1", "SCK3"}};
    else if (channel == 4)
        r.pins += {{"RF5", "SDO4"}, {"RF4", "SDI4"}, {"RB14", "SCK4"}};
}

PinRequest PinTable::spi(int channel, bool slaveSelect)
{
    PinRequest r{QStringLiteral("SPI%1").arg(channel), {}};
    addSpiDataPins(r, channel);
    if (slaveSelect) {
        if (channel == 3)
            r.pins += PinReservation{"RD9", "SS3"};
        else if (channel == 4)
            r.pins += PinReservation{"RB8", "SS4"};
    }
    return r;
}

PinRequest PinTable::i2c(int channel)
{
    PinRequest r{QStringLiteral("I2C%1").arg(channel), {}};
    if (channel == 1)
        r.pins = {{"RD10", "SCL1"}, {"RD9", "SDA1"}};
    else if (channel == 3)
        r.pins = {{"RD3", "SCL3"}, {"RD2", "SDA3"}};
    else if (channel == 5)
        r.pins = {{"RF5", "SCL5"}, {"RF4", "SDA5"}};
    return r;
}

PinRequest PinTable::adc(quint32 enabledPins)
{
    // Only these analog inputs come out on pins of the module.
    static const int inputs[] = {0, 1, 5, 8, 10, 11, 12, 13, 14, 15};
    PinRequest r{QStringLiteral("ADC"), {}};
    for (int i : inputs) {
        if (enabledPins & (1u << i))
            r.pins += PinReservation{QStringLiteral("RB%1").arg(i), QStringLiteral("AN%1").arg(i)};
    }
    return r;
}

PinRequest PinTable::usb()
{
    return request(QStringLiteral("USB"),
                   {{"RG2", "D+"}, {"RG3", "D-"}, {"RB5", "VBUSON"}, {"RF3", "OTG_ID"}});
}

PinRequest PinTable::interrupts(quint32 mask)
{
    PinRequest r{QStringLiteral("Interrupts"), {}};
    if (mask & 0x01) r.pins += PinReservation{"RD0", "INT0"};
    if (mask & 0x04) r.pins += PinReservation{"RD9", "INT2"};
    if (mask & 0x08) r.pins += PinReservation{"RD10", "INT3"};
    if (mask & 0x10) r.pins += PinReservation{"RD11", "INT4"};
    return r;
}

PinRequest PinTable::notify(int port, int bit)
{
    return request(QStringLiteral("Notify"), {{portPrefix(port) + QString::number(bit), "Notify"}});
}

PinRequest PinTable::ethernet()
{
    return request(QStringLiteral("Ethernet"), {{"RD1", "EMDIO"},
                                                {"RD6", "ETXERR"},
                                                {"RE7", "ETXD1"},
                                                {"RE6", "ETXD0"},
                                                {"RE5", "ETXEN"},
                                                {"RE4", "ERXERR"},
                                                {"RE3", "EREFCLK"},
                                                {"RE2", "ECRSDV"},
                                                {"RE1", "ERXD0"},
                                                {"RE0", "ERXD1"},
                                                {"RB15", "EMDC"}});
}

PinRequest PinTable::sdhc(int spiChannel, int csPort, int csPin)
{
    PinRequest r{QStringLiteral("SDHC"), {}};
    addSpiDataPins(r, spiChannel);
    r.pins += PinReservation{portPrefix(csPort) + QString::number(csPin), QStringLiteral("SDHC_CS")};
    return r;
}
