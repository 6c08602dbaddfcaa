#include "builderfixtures.h"
#include "testmain.h"

#include "console.h"
#include "hardwareparser.h"

#include <QtTest>

using namespace fixtures;

class PinReservationTest : public QObject
{
    Q_OBJECT

private slots:
    void conflicts_data()
    {
        QTest::addColumn<QString>("children");
        QTest::addColumn<QString>("message");
        QTest::newRow("two uarts on channel 0")
            << "<uart/><uart channel='0' baud='9600'/>"
            << "UART0 signal U1TX in I/O RD3 is already used by UART0 signal U1TX\n";
        QTest::newRow("uart 0 then spi 3")
            << "<uart/><spi channel='3'/>"
            << "SPI3 signal SDO3 in I/O RD3 is already used by UART0 signal U1TX\n";
        QTest::newRow("i2c 5 then uart 1")
            << "<i2c channel='5'/><uart channel='1'/>"
            << "UART1 signal U2TX in I/O RF5 is already used by I2C5 signal SCL5\n";
        // The earlier request's pins are scanned first: UART0's third pin RD9 meets SDA1.
        QTest::newRow("uart 0 handshake then i2c 1")
            << "<uart handshake='true'/><i2c channel='1'/>"
            << "I2C1 signal SDA1 in I/O RD9 is already used by UART0 signal nU1CTS\n";
        QTest::newRow("ethernet then spi 3")
            << "<ethernet enable='1'/><spi channel='3'/>"
            << "SPI3 signal SCK3 in I/O RD1 is already used by Ethernet signal EMDIO\n";
        QTest::newRow("adc AN0 twice") << "<adc enabled_pins='1'/><adc enabled_pins='0x1'/>"
                                       << "ADC signal AN0 in I/O RB0 is already used by ADC signal AN0\n";
        QTest::newRow("usb then adc AN5")
            << "<usb descriptor='d'/><adc enabled_pins='0x20'/>"
            << "ADC signal AN5 in I/O RB5 is already used by USB signal VBUSON\n";
        QTest::newRow("sleep INT3 then i2c 1")
            << "<sleep interrupts='0x8'/><i2c channel='1'/>"
            << "I2C1 signal SCL1 in I/O RD10 is already used by Interrupts signal INT3\n";
        QTest::newRow("notify on a uart pin")
            << "<uart channel='1'/><notify port='5' bit='4'/>"
            << "Notify signal Notify in I/O RF4 is already used by UART1 signal U2RX\n";
        QTest::newRow("sdhc chip select")
            << "<uart channel='1' handshake='true'/><sdhc enable='1' spi_port='0' cs_port='1' cs_pin='8'/>"
            << "SDHC signal SDHC_CS in I/O RB8 is already used by UART1 signal nU2CTS\n";
        QTest::newRow("spi 4 slave select")
            << "<sdhc enable='1' spi_port='4' cs_port='0'/><spi channel='4'/>"
            << "SPI4 signal SDO4 in I/O RF5 is already used by SDHC signal SDO4\n";
    }

    void conflicts()
    {
        QFETCH(QString, children);
        QFETCH(QString, message);
        Console console;
        HardwareParser parser(console);
        QByteArray out;
        QVERIFY(!parser.parse(Xml("<hardware>" + children + "</hardware>").root(), out));
        QVERIFY2(console.capturedOut().endsWith(message), qPrintable(console.capturedOut()));
        QVERIFY(console.capturedErr().isEmpty());
    }

    void compatible_data()
    {
        QTest::addColumn<QString>("children");
        QTest::newRow("i2c 1 with uart 0") << "<i2c channel='1'/><uart/>";
        QTest::newRow("adc bit 2 reserves nothing") << "<adc enabled_pins='0x4'/><adc enabled_pins='0x4'/>";
        QTest::newRow("same signal names, other pins") << "<spi channel='3'/><sdhc enable='1' spi_port='4'/>";
        QTest::newRow("ports and timers reserve nothing")
            << "<uart/><port index='3' tristate='0'/><timer/><timer index='3'/>";
        QTest::newRow("ethernet disabled") << "<ethernet enable='0'/><spi channel='3'/>";
        QTest::newRow("uart 0 and uart 1 with handshake")
            << "<uart handshake='1'/><uart channel='1' handshake='1'/>";
    }

    void compatible()
    {
        QFETCH(QString, children);
        Console console;
        HardwareParser parser(console);
        QByteArray out;
        QVERIFY2(parser.parse(Xml("<hardware>" + children + "</hardware>").root(), out),
                 qPrintable(console.capturedOut() + console.capturedErr()));
    }

    void refusedRequestIsNotKept()
    {
        PinTable table;
        Console console;
        QVERIFY(table.reserve(PinTable::uart(0, false), console));
        QVERIFY(!table.reserve(PinTable::spi(3, false), console));
        // SPI3 was refused, so its RD1 is still free.
        QVERIFY(table.reserve(PinTable::ethernet(), console));
    }
};

NW_TEST(PinReservationTest)

#include "tst_pinreservation.moc"
