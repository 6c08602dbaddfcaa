#include "hardwareview.h"

#include <QJsonArray>
#include <cmath>

namespace
{

constexpr double peripheralClock = 40000000.0;
constexpr int blockSize = 130;

quint32 le(const QByteArray &b, int at, int n)
{
    quint32 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | quint8(b[at + i]);
    return v;
}

QString hex(quint32 v)
{
    return QStringLiteral("0x") + QString::number(v, 16);
}

// The divider and generator the builder picks for a baud rate.
void dividerFor(quint32 baud, quint32 &brg, bool &highSpeed, double &actual)
{
    const double b = baud;
    const quint32 bs = quint32(std::trunc(peripheralClock / (16 * b) - 1 + 0.5));
    const quint32 bh = quint32(std::trunc(peripheralClock / (4 * b) - 1 + 0.5));
    const float as = float(peripheralClock / ((double(bs) + 1) * 16));
    const float ah = float(peripheralClock / ((double(bh) + 1) * 4));
    const float es = std::fabs((float(b) - as) / float(b) * 100.0f);
    const float eh = std::fabs((float(b) - ah) / float(b) * 100.0f);
    highSpeed = !(es <= eh && bs <= 255);
    brg = highSpeed ? bh : bs;
    actual = highSpeed ? ah : as;
}

QJsonObject uart(const QByteArray &b, int channel)
{
    const int at = channel * 6;
    const quint32 brg = le(b, at, 2), mode = le(b, at + 2, 2);
    const bool highSpeed = mode & 0x0008;
    QJsonObject o;
    o.insert("channel", channel);
    static const quint32 rates[] = {300,    600,    1200,    2400,    4800,    9600,   14400,  19200,
                                    28800,  38400,  57600,   76800,   115200,  230400, 250000, 460800,
                                    500000, 921600, 1000000, 1500000, 2000000, 3000000};
    for (quint32 r : rates) {
        quint32 d;
        bool hs;
        double actual;
        dividerFor(r, d, hs, actual);
        if (d == brg && hs == highSpeed) {
            o.insert("baud", double(r));
            break;
        }
    }
    o.insert("actual", std::trunc(peripheralClock / ((double(brg) + 1) * (highSpeed ? 4 : 16))));
    o.insert("high_speed", highSpeed);
    o.insert("stopbits", mode & 0x0001 ? 2 : 1);
    o.insert("parity", mode & 0x0004 ? "odd" : mode & 0x0002 ? "even" : "none");
    o.insert("handshake", bool(mode & 0x0200));
    o.insert("api", le(b, at + 4, 2) != 0);
    o.insert("BRG", hex(brg));
    o.insert("MODE", hex(mode));
    return o;
}

QJsonObject spi(const QByteArray &b, int channel)
{
    const int at = channel == 3 ? 15 : 23;
    const quint32 con = le(b, at, 4);
    const bool master = con & 0x0020;
    QJsonObject o;
    o.insert("channel", channel);
    o.insert("mode", master ? "master" : "slave");
    o.insert("divisor", int(le(b, at + 4, 2)));
    o.insert("slave_select", bool(con & (master ? 0x10000000 : 0x0080)));
    o.insert("clock_idle_polarity", con & 0x0040 ? "high" : "low");
    o.insert("clock_edge", con & 0x0100 ? 1 : 0);
    o.insert("api", le(b, at + 6, 2) != 0);
    o.insert("SPICON", hex(con));
    return o;
}

} // namespace

QJsonObject decodeHardware(const QByteArray &b)
{
    QJsonObject hw;
    if (b.size() != blockSize) {
        hw.insert("problem", QStringLiteral("the block is %1 bytes, not %2").arg(b.size()).arg(blockSize));
        if (b.size() < blockSize) return hw;
    }
    QJsonArray uarts, spis, i2cs, timers, ports;
    for (int c = 0; c < 2; ++c)
        if (le(b, c * 6 + 2, 2) & 0x8000) uarts.append(uart(b, c));
    for (int c : {3, 4})
        if (le(b, c == 3 ? 15 : 23, 4) & 0x8000) spis.append(spi(b, c));
    const int i2cChannels[] = {1, 3, 5};
    for (int k = 0; k < 3; ++k)
        if (le(b, 75 + 4 * k, 2) & 0x8000)
            i2cs.append(QJsonObject{{"channel", i2cChannels[k]}, {"brg", int(le(b, 77 + 4 * k, 2))}});
    static const int prescales[] = {1, 2, 4, 8, 16, 32, 64, 256};
    for (int n = 2; n <= 5; ++n) {
        const quint32 con = le(b, 91 + 4 * (n - 2), 2);
        if (!(con & 0x8000)) continue;
        const bool wide = con & 0x0008;
        quint32 period = le(b, 93 + 4 * (n - 2), 2);
        // A 32-bit timer keeps its period's high half in the next timer's slot (timer 5's lies past the
        // timers).
        if (wide) period |= le(b, 93 + 4 * (n - 1), 2) << 16;
        timers.append(QJsonObject{{"index", n},
                                  {"prescale", prescales[(con >> 4) & 7]},
                                  {"bits", wide ? 32 : 16},
                                  {"clock_source", con & 0x0002 ? "external" : "internal"},
                                  {"period", hex(period)}});
    }
    const char letters[] = "BCDEFG";
    for (int k = 0; k < 6; ++k)
        ports.append(QJsonObject{{"index", k + 1},
                                 {"port", QString(QLatin1Char(letters[k]))},
                                 {"tristate", hex(le(b, 31 + 6 * k, 2))},
                                 {"latch", hex(le(b, 33 + 6 * k, 2))},
                                 {"open_drain", hex(le(b, 35 + 6 * k, 2))}});
    hw.insert("uart", uarts);
    hw.insert("spi", spis);
    hw.insert("i2c", i2cs);
    hw.insert("timer", timers);
    hw.insert("ports", ports);
    hw.insert("adc", QJsonObject{{"enabled_pins", hex(~le(b, 107, 2) & 0xFFFF)}});
    hw.insert("usb", QJsonObject{{"enabled", quint8(b[14]) != 0}, {"api", le(b, 12, 2) != 0}});
    hw.insert("ethernet", QJsonObject{{"enable", double(le(b, 109, 4))}});
    const quint32 delay = le(b, 113, 4), wake = le(b, 117, 4);
    // Wake-up pins back to the interrupt bits they stand for: D0 INT0, D9 INT2, D10 INT3, D11 INT4.
    quint32 interrupts = 0;
    if (wake & 0x0001) interrupts |= 0x01;
    if (wake & 0x0200) interrupts |= 0x04;
    if (wake & 0x0400) interrupts |= 0x08;
    if (wake & 0x0800) interrupts |= 0x10;
    QJsonObject sleep{{"interrupts", hex(interrupts)}, {"wdt_wakeup", quint8(b[121]) != 0}};
    if (delay == 0xFFFFFFFF)
        sleep.insert("delay", "none");
    else
        sleep.insert("delay", double(delay));
    hw.insert("sleep", sleep);
    const quint32 mask = le(b, 67, 4);
    if (mask) {
        int bit = 0;
        while (!(mask >> bit & 1))
            ++bit;
        hw.insert("notify", QJsonObject{{"port", double(le(b, 71, 4))}, {"bit", bit}});
    }
    if (le(b, 122, 2))
        hw.insert("sdhc", QJsonObject{{"enable", int(le(b, 122, 2))},
                                      {"spi_port", int(le(b, 124, 2))},
                                      {"cs_port", int(le(b, 126, 2))},
                                      {"cs_pin", int(le(b, 128, 2))}});
    return hw;
}
