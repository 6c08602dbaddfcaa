#include "hardwareconfig.h"

namespace
{

class Writer
{
public:
    void u8(quint8 v) { bytes.append(char(v)); }
    void u16(quint16 v)
    {
        u8(quint8(v));
        u8(quint8(v >> 8));
    }
    void u32(quint32 v)
    {
        u16(quint16(v));
        u16(quint16(v >> 16));
    }
    QByteArray bytes;
};

} // namespace

QByteArray HardwareConfig::toBytes() const
{
    Writer w;
    for (const Uart &u : uart) {
        w.u16(u.brg);
        w.u16(u.mode);
        w.u16(u.api);
    }
    w.u16(usbApi);
    w.u8(usbEnabled);
    for (const Spi &s : spi) {
        w.u32(s.con);
        w.u16(s.brg);
        w.u16(s.api);
    }
    for (const Port &p : port) {
        w.u16(p.tris);
        w.u16(p.lat);
        w.u16(p.odc);
    }
    w.u32(notifyMask);
    w.u32(notifyPort);
    for (const I2c &i : i2c) {
        w.u16(i.con);
        w.u16(i.brg);
    }
    w.u32(0);
    for (const Timer &t : timer) {
        w.u16(t.con);
        w.u16(t.period);
    }
    w.u16(ad1pcfg);
    w.u32(ethernet);
    w.u32(sleepDelay);
    w.u32(sleepWakeMask);
    w.u8(wdtWakeup);
    w.u16(sdEnable);
    w.u16(sdSpiChannel);
    w.u16(sdCsPort);
    w.u16(sdCsPin);
    Q_ASSERT(w.bytes.size() == Size);
    return w.bytes;
}
