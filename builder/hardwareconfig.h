#pragma once

#include <QByteArray>
#include <QtGlobal>

// The module's start-up settings as the firmware reads them: a packed 130-byte little-endian block.
// The members hold the values; toBytes() lays them out.
struct HardwareConfig {
    static const int Size = 130;

    struct Uart {
        quint16 brg = 0;
        quint16 mode = 0;
        quint16 api = 0;
    };
    struct Spi {
        quint32 con = 0;
        quint16 brg = 0;
        quint16 api = 0;
    };
    // Ports B..G; TRIS 1 = input, so every pin starts as an input.
    struct Port {
        quint16 tris = 0xFFFF;
        quint16 lat = 0;
        quint16 odc = 0;
    };
    struct I2c {
        quint16 con = 0;
        quint16 brg = 0;
    };
    struct Timer {
        quint16 con = 0;
        quint16 period = 0;
    };

    Uart uart[2]; // channels 0, 1
    quint16 usbApi = 0;
    quint8 usbEnabled = 0;
    Spi spi[2];   // channels 3, 4
    Port port[6]; // B, C, D, E, F, G
    quint32 notifyMask = 0;
    quint32 notifyPort = 0;
    I2c i2c[3];     // channels 1, 3, 5
    Timer timer[4]; // timers 2..5; timer 1's slot before them stays zero
    quint16 ad1pcfg = 0xFFFF;
    quint32 ethernet = 0;
    quint32 sleepDelay = 0xFFFFFFFF;
    quint32 sleepWakeMask = 0;
    quint8 wdtWakeup = 0;
    quint16 sdEnable = 0;
    quint16 sdSpiChannel = 0;
    quint16 sdCsPort = 0;
    quint16 sdCsPin = 0;

    QByteArray toBytes() const;
};
