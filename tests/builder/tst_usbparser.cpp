#include "builderfixtures.h"
#include "testmain.h"

#include "console.h"
#include "usbparser.h"

#include <QtTest>

using namespace fixtures;

namespace
{

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

const char *const deviceXml =
    "<usb><device bcdUSB='0200' idVendor='1234' idProduct='5678' bcdDevice='0100' "
    "iProduct='Module'>"
    "<configuration bmAttributes='80' bMaxPower='32'/>"
    "<interface bInterfaceClass='ff'>"
    "<endpoint bEndpointAddress='81' bmAttributes='02' wMaxPacketSize='0040'/>"
    "<endpoint bEndpointAddress='01' bmAttributes='02' wMaxPacketSize='0040' bInterval='0a'/>"
    "</interface></device></usb>";

} // namespace

class UsbParserTest : public QObject
{
    Q_OBJECT

private slots:
    void streams_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("one configuration, two endpoints")
            << deviceXml
            << bytes("1201 0002 00 00 00 08 3412 7856 0001 00 01 00 01" // device, iProduct 1
                     "0902 2000 01 01 00 80 32"                         // wTotalLength 9+9+7+7 = 32
                     "0904 00 00 02 ff 00 00 00"
                     "0705 81 02 4000 00"
                     "0705 01 02 4000 0a"
                     "04030904"
                     "0e03 4d00 6f00 6400 7500 6c00 6500" // "Module" in UTF-16LE
                     "00");
        QTest::newRow("shared string")
            << "<usb><device iManufacturer='Acme' iProduct='Acme' iSerialNumber='7'/></usb>"
            << bytes("1201 0000 00 00 00 08 0000 0000 0000 01 01 02 00"
                     "04030904 0a03 4100 6300 6d00 6500 0403 3700 00");
        QTest::newRow("class descriptor data skips non-hex characters")
            << "<usb><device><configuration/><interface iInterface='I'>"
               "<descriptor Type='24'><data>0a0b 0c</data><data>\n  FF</data></descriptor>"
               "</interface></device></usb>"
            << bytes("1201 0000 00 00 00 08 0000 0000 0000 00 00 00 01"
                     "0902 1800 01 01 00 00 00" // 9 + 9 + 6 = 24
                     "0904 00 00 00 00 00 00 01"
                     "0624 0a0b0cff"
                     "04030904 0403 4900 00");
        // Both configurations get every interface, numbered over the device.
        QTest::newRow("two configurations, two interfaces")
            << "<usb><device bMaxPacketSize='40'><configuration iConfiguration='A'/><configuration/>"
               "<interface bAlternateSetting='1'/><interface bInterfaceProtocol='zz'/></device></usb>"
            << bytes("1201 0000 00 00 00 40 0000 0000 0000 00 00 00 02"
                     "0902 1b00 02 01 01 00 00 0904 00 01 00 00 00 00 00 0904 01 00 00 00 00 00 00"
                     "0902 1b00 02 02 00 00 00 0904 00 01 00 00 00 00 00 0904 01 00 00 00 00 00 00"
                     "04030904 0403 4100 00");
        QTest::newRow("no device") << "<usb><config/></usb>"
                                   << bytes("1201 0000 00 00 00 00 0000 0000 0000 00 00 00 00 04030904 00");
    }

    void streams()
    {
        QFETCH(QString, xml);
        QFETCH(QByteArray, expected);
        Console console;
        USBParser parser(console);
        QByteArray out;
        QVERIFY(parser.parse(Xml(xml).root(), out));
        QCOMPARE(out.toHex(' '), expected.toHex(' '));
    }

    void noDeviceIsReported()
    {
        Console console;
        USBParser parser(console);
        QByteArray out;
        QVERIFY(parser.parse(Xml("<usb/>").root(), out));
        QCOMPARE(console.capturedOut(), QString("No device found\n"));
    }

    void tooLongIsRefused_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::newRow("class descriptor of 254 bytes")
            << "<usb><device><configuration/><interface><descriptor Type='21'><data>" + QString(508, 'a') +
                   "</data></descriptor></interface></device></usb>";
        QTest::newRow("string of 127 characters")
            << "<usb><device iProduct='" + QString(127, 'x') + "'/></usb>";
    }

    void tooLongIsRefused()
    {
        QFETCH(QString, xml);
        Console console;
        USBParser parser(console);
        QByteArray out;
        QVERIFY(!parser.parse(Xml(xml).root(), out));
        QVERIFY(!console.capturedErr().isEmpty());
    }

    void countsMustFitTheirByte_data()
    {
        // `fits` repetitions of an element are the most whose count (or string index) fits its byte;
        // one more is refused. The byte at `checkOffset` shows the largest value written.
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("repeated");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("fits");
        QTest::addColumn<int>("checkOffset");
        QTest::newRow("configurations") << "<usb><device>"
                                        << "<configuration/>"
                                        << "</device></usb>" << 255 << 17;
        QTest::newRow("interfaces") << "<usb><device><configuration/>"
                                    << "<interface/>"
                                    << "</device></usb>" << 255 << 18 + 4;
        QTest::newRow("endpoints") << "<usb><device><configuration/><interface>"
                                   << "<endpoint/>"
                                   << "</interface></device></usb>" << 255 << 18 + 9 + 4;
        // Three device strings and one per configuration: the last configuration names string 255.
        QTest::newRow("strings") << "<usb><device iManufacturer='m' iProduct='p' iSerialNumber='n'>"
                                 << "<configuration iConfiguration='c%1'/>"
                                 << "</device></usb>" << 252 << 18 + 251 * 9 + 6;
    }

    void countsMustFitTheirByte()
    {
        QFETCH(QString, before);
        QFETCH(QString, repeated);
        QFETCH(QString, after);
        QFETCH(int, fits);
        QFETCH(int, checkOffset);
        for (int n : {fits, fits + 1}) {
            QString xml = before;
            for (int i = 0; i < n; ++i)
                xml += repeated.contains("%1") ? repeated.arg(i) : repeated;
            Console console;
            USBParser parser(console);
            QByteArray out;
            QCOMPARE(parser.parse(Xml(xml + after).root(), out), n == fits);
            if (n == fits)
                QCOMPARE(quint8(out.at(checkOffset)), quint8(255));
            else
                QVERIFY2(console.capturedErr().contains("more than 255"), qPrintable(console.capturedErr()));
        }
    }

    void longestThatFits()
    {
        Console console;
        USBParser parser(console);
        QByteArray out;
        QVERIFY(parser.parse(Xml("<usb><device iProduct='" + QString(126, 'x') +
                                 "'><configuration/><interface><descriptor Type='21'><data>" +
                                 QString(506, 'b') + "</data></descriptor></interface></device></usb>")
                                 .root(),
                             out));
        // Device 18, configuration 9, interface 9, descriptor 255; string 0, string of 254; final 0.
        QCOMPARE(out.size(), 18 + 9 + 9 + 255 + 4 + 254 + 1);
        QCOMPARE(quint8(out.at(36)), quint8(255));
        QCOMPARE(quint8(out.at(36 + 255 + 4)), quint8(254));
    }

    void descriptorAttributeReadsAnotherFile()
    {
        ScratchDir dir;
        QVERIFY(writeFile("inner.xml", deviceXml));
        QVERIFY(writeFile("notusb.xml", "<device/>"));
        Console console;
        USBParser parser(console);
        QByteArray out;
        QVERIFY(parser.parse(Xml("<usb descriptor='inner.xml'/>").root(), out));
        QCOMPARE(out.size(), 18 + 32 + 4 + 14 + 1);

        QByteArray other;
        QVERIFY(!parser.parse(Xml("<usb descriptor='notusb.xml'/>").root(), other));
        QCOMPARE(console.capturedErr(), QString("Expected usb tag as root of notusb.xml\n"));
        Console c2;
        USBParser p2(c2);
        QVERIFY(!p2.parse(Xml("<usb descriptor='missing.xml'/>").root(), other));
        QCOMPARE(c2.capturedErr(), QString("Unable to open:missing.xml\n"));
    }
};

NW_TEST(UsbParserTest)

#include "tst_usbparser.moc"
