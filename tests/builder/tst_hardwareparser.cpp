#include "builderfixtures.h"
#include "testmain.h"

#include "console.h"
#include "hardwareparser.h"

#include <QtTest>

using namespace fixtures;

namespace
{

void put(QByteArray &b, int offset, int width, quint32 value)
{
    for (int i = 0; i < width; ++i)
        b[offset + i] = char(value >> (8 * i));
}

// The block of an empty section: every TRIS word 0xffff (inputs), AD1PCFG 0xffff (digital), no sleep
// delay, zeros elsewhere.
QByteArray emptyBlock()
{
    QByteArray b(130, '\0');
    for (int k = 0; k < 6; ++k)
        put(b, 31 + 6 * k, 2, 0xFFFF);
    put(b, 107, 2, 0xFFFF);
    put(b, 113, 4, 0xFFFFFFFF);
    return b;
}

// "offset/width=value ..." applied to the empty block.
QByteArray patched(const QString &patches)
{
    QByteArray b = emptyBlock();
    for (const QString &p : patches.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = p.split(QRegularExpression("[/=]"));
        put(b, parts[0].toInt(), parts[1].toInt(), parts[2].toUInt(nullptr, 0));
    }
    return b;
}

QString hardware(const QString &children)
{
    return "<hardware>" + children + "</hardware>";
}

} // namespace

class HardwareParserTest : public QObject
{
    Q_OBJECT

private slots:
    void emptySectionPrintsOnlyPortSummaries()
    {
        Console console;
        HardwareParser parser(console);
        QByteArray out("old");
        QVERIFY(parser.parse(Xml("<hardware/>").root(), out));
        QCOMPARE(out, emptyBlock());
        QString expected;
        for (char port = 'b'; port <= 'g'; ++port)
            expected += QString("port:%1\n TRIS       :ffff\n LAT        :0\n ODC        :0\n").arg(port);
        QCOMPARE(console.capturedOut(), expected);
        QVERIFY(parser.usbDescriptorPath().isEmpty());
    }

    void blocks_data()
    {
        QTest::addColumn<QString>("children");
        QTest::addColumn<QString>("patches");
        // UART 0 at 115200: the high-speed divider 86 is closer; TX pin RD3 output, idle high.
        QTest::newRow("uart 115200") << "<uart baud='115200'/>"
                                     << "0/2=0x56 2/2=0x8008 43/2=0xfff7 45/2=0x0008";
        // 9600 needs divider 259 on the standard generator, beyond 8 bits: high-speed 1041.
        QTest::newRow("uart 9600 channel 1 api") << "<uart channel='1' baud='9600' api='true'/>"
                                                 << "6/2=1041 8/2=0x8008 10/2=1 55/2=0xffdf 57/2=0x20";
        // 1 Mbaud: the standard divider 2 is 16.7 % off, the high-speed divider 9 exact.
        QTest::newRow("uart handshake odd 2 stop")
            << "<uart baud='1000000' handshake='TRUE' parity='Odd' stopbits='2'/>"
            << "0/2=9 2/2=0x820d 43/2=0xfff5 45/2=0x000a";
        // 300 baud: standard 8332 too wide for 8 bits, high-speed 33332.
        QTest::newRow("uart api false literal") << "<uart baud='300' api='False'/>"
                                                << "0/2=33332 2/2=0x8008 43/2=0xfff7 45/2=0x0008";
        // Both generators exact (500000: 40 MHz / 16 / 5 and / 4 / 20): the standard one wins the tie.
        QTest::newRow("uart 500000 tie") << "<uart baud='500000'/>"
                                         << "0/2=4 2/2=0x8000 43/2=0xfff7 45/2=0x0008";
        QTest::newRow("uart 250000 tie") << "<uart channel='1' baud='250000'/>"
                                         << "6/2=9 8/2=0x8000 55/2=0xffdf 57/2=0x20";
        // The fastest rate there is: high-speed divider 0, 40 MHz / 4.
        QTest::newRow("uart 10 Mbaud") << "<uart baud='10000000'/>"
                                       << "0/2=0 2/2=0x8008 43/2=0xfff7 45/2=0x0008";
        QTest::newRow("timer 2, 32 bits") << "<timer index='2' prescale='256' bits='32' period='0x12345678'/>"
                                          << "91/2=0x8078 93/2=0x5678 97/2=0x1234";
        QTest::newRow("timer default period") << "<timer/>"
                                              << "91/2=0x8000 93/2=0xffff";
        QTest::newRow("timer 4 external 16 bits")
            << "<timer index='4' prescale='8' clock_source='pin' period='1000'/>"
            << "99/2=0x8032 101/2=1000";
        QTest::newRow("adc 0x3") << "<adc enabled_pins='0x3'/>"
                                 << "107/2=0xfffc";
        QTest::newRow("port C") << "<port index='2' tristate='0x00ff' latch='0x10' open_drain='010'/>"
                                << "37/2=0x00ff 39/2=0x10 41/2=8";
        QTest::newRow("spi 3 master with slave select")
            << "<spi channel='3' slave_select='true' clock_idle_polarity='high' divisor='7'/>"
            << "15/4=0x10008060 19/2=7";
        QTest::newRow("spi 4 slave api edge")
            << "<spi channel='4' mode='slave' slave_select='1' clock_edge='1' api='x'/>"
            << "23/4=0x8180 27/2=15 29/2=1";
        QTest::newRow("i2c 5") << "<i2c channel='5'/>"
                               << "83/2=0x8000 85/2=44";
        QTest::newRow("i2c 1 and 3") << "<i2c channel='1' brg='100'/><i2c channel='3' brg='2'/>"
                                     << "75/2=0x8000 77/2=100 79/2=0x8000 81/2=2";
        QTest::newRow("usb") << "<usb api='true' descriptor='usb.xml'/>"
                             << "12/2=1 14/1=1";
        QTest::newRow("sleep INT0 INT2") << "<sleep delay='100' interrupts='0x5'/>"
                                         << "113/4=100 117/4=0x0201 121/1=1";
        QTest::newRow("sleep interrupt fallback") << "<sleep interrupt='0x18' wdt_wakeup='no'/>"
                                                  << "117/4=0x0c00";
        QTest::newRow("sleep makes wake pins inputs")
            << "<port index='3' tristate='0'/><sleep interrupts='0x1'/>"
            << "43/2=0x0001 117/4=1 121/1=1";
        QTest::newRow("notify RE5") << "<notify port='4' bit='5'/>"
                                    << "67/4=0x20 71/4=4 49/2=0xffdf";
        QTest::newRow("ethernet") << "<ethernet enable='1'/>"
                                  << "109/4=1";
        QTest::newRow("sdhc") << "<sdhc enable='1' spi_port='4' cs_port='3' cs_pin='7'/>"
                              << "122/2=1 124/2=4 126/2=3 128/2=7";
        QTest::newRow("sdhc unparsable defaults") << "<sdhc enable='1' spi_port='x' cs_port='y' cs_pin='z'/>"
                                                  << "122/2=1 124/2=3 126/2=2 128/2=14";
        QTest::newRow("unknown tag ignored") << "<Uart channel='5'/><gpio/>"
                                             << "";
    }

    void blocks()
    {
        QFETCH(QString, children);
        QFETCH(QString, patches);
        Console console;
        HardwareParser parser(console);
        QByteArray out;
        QVERIFY2(parser.parse(Xml(hardware(children)).root(), out), qPrintable(console.capturedErr()));
        QCOMPARE(out.toHex(' '), patched(patches).toHex(' '));
    }

    void uartReport()
    {
        Console console;
        HardwareParser parser(console);
        QByteArray out;
        QVERIFY(parser.parse(Xml(hardware("<uart baud='115200' api='true'/>")).root(), out));
        // Actual rate 40e6 / (87 * 4) = 114942.5; error |115200 - 114942.53| / 1152 in single precision.
        QVERIFY(console.capturedOut().startsWith("uart:0\n"
                                                 " high_speed :enabled\n"
                                                 " baudrate   :115200\n"
                                                 " actual     :114942\n"
                                                 " error%     :0.223497\n"
                                                 " handshake  :false\n"
                                                 " HVAPI      :true\n"
                                                 " BRG        :0x56\n"
                                                 " MODE       :0x8008\n"
                                                 "port:b\n"));
    }

    void otherReports_data()
    {
        QTest::addColumn<QString>("children");
        QTest::addColumn<QString>("report");
        QTest::newRow("spi")
            << "<spi channel='3'/>"
            << "spi:3\n divisor   :15\n bitrate   :1250000\n SPICON    :8020\n SPIBRG    :f\n"
               " HVAPI     :false\n";
        // 0.5 / (46 / 40e6 + 104 ns) = 398724 bit/s.
        QTest::newRow("i2c")
            << "<i2c channel='1'/>"
            << "i2c:1\n brg       :44\n bitrate   :398724\n I2CCON    :8000\n I2CBRG    :2c\n";
        // 40e6 / 8 / 65535 * 65535.
        QTest::newRow("timer") << "<timer index='3' prescale='8' period='0xffff'/>"
                               << "timer:3\n rate   :5000000\n TxCON  :8030\n PRx    :ffff\n";
        QTest::newRow("adc") << "<adc enabled_pins='0x21'/>"
                             << "adc\n AD1PCFG     :ffde\n";
        QTest::newRow("usb") << "<usb descriptor='d.xml'/>"
                             << "usb\n HVAPI      :false\n";
        QTest::newRow("sleep") << "<sleep delay='250' interrupts='0x11'/>"
                               << "sleep\n delay      :250ms\n wakeup int :11\n wdt_wakeup :true\n";
        QTest::newRow("sleep without delay") << "<sleep wdt_wakeup='TRUE'/>"
                                             << "sleep\n wakeup int :0\n wdt_wakeup :true\n";
        QTest::newRow("notify") << "<notify port='6' bit='12'/>"
                                << "notify\n port       :6\n bit        :12\n";
        QTest::newRow("sdhc") << "<sdhc enable='2' spi_port='3' cs_port='0' cs_pin='4'/>"
                              << "sdhc\n spi_port   :3\n cs_port    :0\n cs_pin     :4\n";
        QTest::newRow("sdhc disabled") << "<sdhc enable='0' spi_port='3'/>"
                                       << "";
        QTest::newRow("ethernet") << "<ethernet enable='1'/>"
                                  << "";
        QTest::newRow("port") << "<port index='6'/>"
                              << "port:6\n";
    }

    void otherReports()
    {
        QFETCH(QString, children);
        QFETCH(QString, report);
        Console console;
        HardwareParser parser(console);
        QByteArray out;
        QVERIFY2(parser.parse(Xml(hardware(children)).root(), out), qPrintable(console.capturedErr()));
        QCOMPARE(console.capturedOut().section("port:b\n", 0, 0), report);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("children");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QString>("out");
        QTest::newRow("i2c without channel") << "<i2c/>"
                                             << "invalid i2c channel:0\n"
                                             << "";
        QTest::newRow("uart channel") << "<uart channel='2'/>"
                                      << "invalid uart channel:2\n"
                                      << "";
        QTest::newRow("baud 0") << "<uart baud='0'/>"
                                << "invalid baud rate:0\n"
                                << "";
        QTest::newRow("baud beyond divider") << "<uart baud='100'/>"
                                             << "invalid baud rate:100\n"
                                             << "";
        QTest::newRow("stop bits") << "<uart stopbits='3'/>"
                                   << "invalid stop bits:3\n"
                                   << "";
        QTest::newRow("parity") << "<uart parity='mark'/>"
                                << "invalid parity:mark\n"
                                << "";
        QTest::newRow("spi channel") << "<spi channel='2'/>"
                                     << "invalid spi channel:2\n"
                                     << "";
        QTest::newRow("divisor range") << "<spi channel='3' divisor='512'/>"
                                       << "invalid divisor:512\n"
                                       << "";
        QTest::newRow("divisor text") << "<spi channel='3' divisor='fast'/>"
                                      << "invalid divisor:fast\n"
                                      << "";
        QTest::newRow("brg") << "<i2c channel='1' brg='1'/>"
                             << "invalid brg:1\n"
                             << "";
        QTest::newRow("timer index") << "<timer index='1'/>"
                                     << "invalid timer:1\n"
                                     << "";
        QTest::newRow("prescale") << "<timer prescale='128'/>"
                                  << "invalid prescale:128\n"
                                  << "";
        QTest::newRow("timer 5 in 32 bits") << "<timer index='5' bits='32'/>"
                                            << "invalid 32-bit timer:5\n"
                                            << "";
        QTest::newRow("port index") << "<port/>"
                                    << "invalid port:0\n"
                                    << "";
        QTest::newRow("notify port 0") << "<notify bit='1'/>"
                                       << "invalid port:0\n"
                                       << "notify\n";
        QTest::newRow("notify port 7") << "<notify port='7'/>"
                                       << "invalid port:7\n"
                                       << "notify\n";
        QTest::newRow("notify bit") << "<notify port='1' bit='16'/>"
                                    << "invalid bit:16\n"
                                    << "notify\n";
        QTest::newRow("notify text") << "<notify port='x'/>"
                                     << "failed to parse notify index\n"
                                     << "notify\n";
        QTest::newRow("notify bit text") << "<notify port='1' bit='-1'/>"
                                         << "failed to parse notify bit\n"
                                         << "notify\n";
        QTest::newRow("sdhc cs port") << "<sdhc enable='1' cs_port='9'/>"
                                      << "invalid port:9\n"
                                      << "";
        QTest::newRow("sleep delay") << "<sleep delay='soon'/>"
                                     << "failed to parse sleep timeout\n"
                                     << "sleep\n";
        QTest::newRow("sleep interrupts") << "<sleep interrupts='x'/>"
                                          << "failed to parse sleep interrupts\n"
                                          << "sleep\n";
        QTest::newRow("sleep mask INT1") << "<sleep interrupts='0x2'/>"
                                         << "invalid bit mask for sleep interrupts\n"
                                         << "sleep\n";
        QTest::newRow("uart channel text") << "<uart channel='one'/>"
                                           << "invalid uart channel:one\n"
                                           << "";
        QTest::newRow("baud beyond the fastest") << "<uart baud='10000001'/>"
                                                 << "invalid baud rate:10000001\n"
                                                 << "";
        QTest::newRow("baud a billion") << "<uart baud='1000000000'/>"
                                        << "invalid baud rate:1000000000\n"
                                        << "";
        QTest::newRow("timer period text") << "<timer period='zzz'/>"
                                           << "invalid period:zzz\n"
                                           << "";
        QTest::newRow("timer period over 32 bits") << "<timer period='0x100000000'/>"
                                                   << "invalid period:0x100000000\n"
                                                   << "";
        QTest::newRow("adc pins text") << "<adc enabled_pins='AN0'/>"
                                       << "invalid enabled_pins:AN0\n"
                                       << "";
        QTest::newRow("adc pin 16") << "<adc enabled_pins='0x10000'/>"
                                    << "invalid enabled_pins:0x10000\n"
                                    << "";
        QTest::newRow("sdhc cs pin") << "<sdhc enable='1' cs_pin='99'/>"
                                     << "invalid pin:99\n"
                                     << "";
        QTest::newRow("sdhc spi port") << "<sdhc enable='1' spi_port='9'/>"
                                       << "invalid spi channel:9\n"
                                       << "";
        QTest::newRow("usb without descriptor") << "<usb api='true'/>"
                                                << "USB descriptor definition required\n\n"
                                                << "usb\n";
    }

    void failures()
    {
        QFETCH(QString, children);
        QFETCH(QString, err);
        QFETCH(QString, out);
        Console console;
        HardwareParser parser(console);
        QByteArray block;
        QVERIFY(!parser.parse(Xml(hardware(children)).root(), block));
        QCOMPARE(console.capturedErr(), err);
        QCOMPARE(console.capturedOut(), out);
    }

    void missingSection()
    {
        Console console;
        HardwareParser parser(console);
        QByteArray out;
        QVERIFY(!parser.parse(QDomElement(), out));
        QCOMPARE(console.capturedErr(), QString("Failed to parse <hardware>\n"));
    }

    void inFileReplacesTheElement()
    {
        ScratchDir dir;
        QVERIFY(writeFile("board.xml",
                          "<hardware><adc enabled_pins='0x3'/><usb descriptor='u.xml'/></hardware>"));
        QVERIFY(writeFile("wrong.xml", "<board/>"));
        QVERIFY(writeFile("broken.xml", "<hardware>"));
        Console console;
        HardwareParser parser(console);
        QByteArray out;
        // The element's own children are not read when "in" is given.
        QVERIFY(parser.parse(Xml("<hardware in='board.xml'><adc enabled_pins='0xffff'/></hardware>").root(),
                             out));
        QCOMPARE(half(out, 107), 0xfffcu);
        QCOMPARE(parser.usbDescriptorPath(), QString("u.xml"));

        QVERIFY(!parser.parse(Xml("<hardware in='wrong.xml'/>").root(), out));
        QCOMPARE(console.capturedErr(), QString("Expected hardware tag as root of wrong.xml\n"));
        Console c2;
        HardwareParser p2(c2);
        QVERIFY(!p2.parse(Xml("<hardware in='none.xml'/>").root(), out));
        QCOMPARE(c2.capturedErr(), QString("Unable to open:none.xml\n"));
        Console c3;
        HardwareParser p3(c3);
        QVERIFY(!p3.parse(Xml("<hardware in='broken.xml'/>").root(), out));
        QVERIFY(c3.capturedErr().startsWith("Parsing broken.xml 1:"));
        QVERIFY(c3.capturedErr().contains(" xml failed:"));
    }
};

NW_TEST(HardwareParserTest)

#include "tst_hardwareparser.moc"
