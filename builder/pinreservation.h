#pragma once

#include <QString>
#include <QVector>

class Console;

// One pin taken by one signal of a peripheral, e.g. pin "RD3" for signal "U1TX".
struct PinReservation {
    QString pin;
    QString signal;
};

// What a peripheral asks for: its owner name ("UART0", "SPI3", "ADC", ...) and its pins in order.
struct PinRequest {
    QString owner;
    QVector<PinReservation> pins;
};

// The pins taken so far during one hardware section. A pin belongs to at most one peripheral; a
// second user is refused with a message naming both.
class PinTable
{
public:
    // Accepts the request, or prints the first conflict (standard output) and leaves the table as it was.
    bool reserve(const PinRequest &request, Console &console);
    void clear() { m_accepted.clear(); }

    // The fixed pin assignments of the module's peripherals.
    static PinRequest uart(int channel, bool handshake);
    static PinRequest spi(int channel, bool slaveSelect);
    static PinRequest i2c(int channel);
    static PinRequest adc(quint32 enabledPins);
    static PinRequest usb();
    static PinRequest interrupts(quint32 mask);
    static PinRequest notify(int port, int bit);
    static PinRequest ethernet();
    static PinRequest sdhc(int spiChannel, int csPort, int csPin);

    // "RB" ... "RG" for ports 1 ... 6, empty for 0 (and for anything else).
    static QString portPrefix(int port);

private:
    QVector<PinRequest> m_accepted;
};
