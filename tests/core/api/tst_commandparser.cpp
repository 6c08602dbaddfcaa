// The command line: typed commands and hex packets into bytes, with the help and error texts.
#include "hwaddress.h"
#include "cls_wifi.h"
#include "commandparser.h"
#include "testmain.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>

namespace
{

const QString shippedApi = QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml");

QString help(const QString &signature)
{
    return QStringLiteral("<nobr>") + signature + QStringLiteral("</nobr><br>");
}

QString hexBytes(int n, int first = 0)
{
    QByteArray bytes;
    for (int i = 0; i < n; ++i)
        bytes.append(char((first + i) & 0xff));
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

class CommandParserTest : public QObject
{
    Q_OBJECT

    CommandParser parser;

private slots:
    void initTestCase() { QCOMPARE(parser.load(shippedApi), 0); }

    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("packet"); // hex
        QTest::addColumn<QString>("msg");

        const QString wifiOn = help("<b>wifi_cmd_sme_wifi_on</b>");
        const QString adcRead = help("<b>wifi_cmd_hardware_adc_read</b> <b>input</b>:uint8");
        const QString destination =
            help("<b>wifi_cmd_endpoint_set_streaming_destination</b> <b>endpoint</b>:uint8 "
                 "<b>streaming_destination</b>:int8");
        const QString tcpConnect = help("<b>wifi_cmd_tcpip_tcp_connect</b> <b>address</b>:ipv4 "
                                        "<b>port</b>:uint16 <b>routing</b>:int8");
        const QString setMac =
            help("<b>wifi_cmd_config_set_mac</b> <b>hw_interface</b>:uint8 <b>mac</b>:hw_addr");
        const QString send =
            help("<b>wifi_cmd_endpoint_send</b> <b>endpoint</b>:uint8 <b>data</b>:uint8array");
        const QString fwrite =
            help("<b>wifi_cmd_sdhc_fwrite</b> <b>fhandle</b>:uint8 <b>fdata</b>:uint16array");
        const QString ssid = help("<b>wifi_cmd_sme_connect_ssid</b> <b>ssid</b>:uint8array");
        const QString itoa = help("<b>wifi_cmd_util_itoa</b> <b>value</b>:int32");

        // Named commands.
        QTest::newRow("short name") << "sme_wifi_on" << QByteArray("08000300") << wifiOn;
        QTest::newRow("full name") << "wifi_cmd_sme_wifi_on" << QByteArray("08000300") << wifiOn;
        QTest::newRow("trailing blank")
            << "sme_wifi_on " << QByteArray() << wifiOn + "Command requires exactly 0 arguments";
        QTest::newRow("other prefix") << "wifi_evt_sme_wifi_on" << QByteArray() << QString();
        QTest::newRow("unknown class") << "nosuch_wifi_on" << QByteArray() << QString();
        QTest::newRow("class only") << "sme" << QByteArray() << QString();
        QTest::newRow("unknown command")
            << "sme_nosuch 1" << QByteArray() << "Command 'nosuch' not found in class 'sme'";
        QTest::newRow("class name is case-sensitive") << "SME_wifi_on" << QByteArray() << QString();
        QTest::newRow("uint8 is hex") << "hardware_adc_read 10"
                                      << QByteArray("08010609"
                                                    "10")
                                      << adcRead;
        QTest::newRow("uint8 0x prefix") << "hardware_adc_read 0x1f"
                                         << QByteArray("08010609"
                                                       "1f")
                                         << adcRead;
        QTest::newRow("uint8 truncated") << "hardware_adc_read 1ff"
                                         << QByteArray("08010609"
                                                       "ff")
                                         << adcRead;
        QTest::newRow("uint8 bad") << "hardware_adc_read 1g" << QByteArray()
                                   << adcRead + "unable parse argument '1g' as uint8";
        QTest::newRow("uint8 empty") << "hardware_adc_read " << QByteArray()
                                     << adcRead + "unable parse argument '' as uint8";
        QTest::newRow("tabs and brackets")
            << "hardware_adc_read]\t 7]" << QByteArray() << adcRead + "Command requires exactly 1 arguments";
        QTest::newRow("bracket separates") << "hardware_adc_read]7"
                                           << QByteArray("08010609"
                                                         "07")
                                           << adcRead;
        QTest::newRow("int8 -1") << "endpoint_set_streaming_destination 1 -1"
                                 << QByteArray("08020503"
                                               "01ff")
                                 << destination;
        QTest::newRow("int8 300") << "endpoint_set_streaming_destination 1 300"
                                  << QByteArray("08020503"
                                                "012c")
                                  << destination;
        QTest::newRow("int8 is decimal") << "endpoint_set_streaming_destination 1 1f" << QByteArray()
                                         << destination + "unable parse argument '1f' as int8";
        QTest::newRow("int32") << "util_itoa -2"
                               << QByteArray("08040c01"
                                             "feffffff")
                               << itoa;
        QTest::newRow("first bad argument stops") << "endpoint_set_streaming_destination x y" << QByteArray()
                                                  << destination + "unable parse argument 'x' as uint8";
        QTest::newRow("ipv4 dotted") << "tcpip_tcp_connect 192.168.1.10 50 -1"
                                     << QByteArray("08070401"
                                                   "c0a8010a"
                                                   "5000"
                                                   "ff")
                                     << tcpConnect;
        QTest::newRow("ipv4 hex") << "tcpip_tcp_connect c0a8010a 50 -1"
                                  << QByteArray("08070401"
                                                "0a01a8c0"
                                                "5000"
                                                "ff")
                                  << tcpConnect;
        QTest::newRow("ipv4 bad") << "tcpip_tcp_connect 300.1.1.1 50 -1" << QByteArray()
                                  << tcpConnect + "unable parse argument '300.1.1.1' as ipv4";
        QTest::newRow("ipv4 not v6") << "tcpip_tcp_connect ::1 50 -1" << QByteArray()
                                     << tcpConnect + "unable parse argument '::1' as ipv4";
        QTest::newRow("mac colons") << "config_set_mac 1 02:00:00:00:00:01"
                                    << QByteArray("08070201"
                                                  "01"
                                                  "020000000001")
                                    << setMac;
        QTest::newRow("mac plain") << "config_set_mac 1 020000000001"
                                   << QByteArray("08070201"
                                                 "01"
                                                 "020000000001")
                                   << setMac;
        QTest::newRow("mac extra digits dropped") << "config_set_mac 1 0:2:00000000019999"
                                                  << QByteArray("08070201"
                                                                "01"
                                                                "020000000001")
                                                  << setMac;
        QTest::newRow("mac upper case") << "config_set_mac 1 02:00:00:00:00:0A" << QByteArray()
                                        << setMac + "unable parse argument '02:00:00:00:00:0A' as address";
        QTest::newRow("mac eleven digits") << "config_set_mac 1 02000000000" << QByteArray()
                                           << setMac + "unable parse argument '02:00:00:00:00:0' as address";
        QTest::newRow("mac short") << "config_set_mac 1 020000" << QByteArray()
                                   << setMac + "unable parse argument '02:00:00' as address";
        QTest::newRow("mac no digits")
            << "config_set_mac 1 ::" << QByteArray() << setMac + "unable parse argument '' as address";
        QTest::newRow("array left out") << "endpoint_send 1"
                                        << QByteArray("08020500"
                                                      "01"
                                                      "00")
                                        << send;
        QTest::newRow("array given") << "endpoint_send 1 41:42 43" << QByteArray()
                                     << send + "Command requires 1 or 2 arguments";
        QTest::newRow("array skips non-hex") << "endpoint_send 1 41:42,43"
                                             << QByteArray("08050500"
                                                           "01"
                                                           "03414243")
                                             << send;
        QTest::newRow("array none") << "endpoint_send" << QByteArray()
                                    << send + "Command requires 1 or 2 arguments";
        QTest::newRow("uint16array not optional")
            << "sdhc_fwrite 1" << QByteArray() << fwrite + "Command requires exactly 2 arguments";
        QTest::newRow("uint16array") << "sdhc_fwrite 1 0102"
                                     << QByteArray("08050b04"
                                                   "01"
                                                   "0200"
                                                   "0102")
                                     << fwrite;
        QTest::newRow("uint8array 255") << "sme_connect_ssid " + hexBytes(255)
                                        << "09000307"
                                           "ff" +
                                               hexBytes(255).toLatin1()
                                        << ssid;
        QTest::newRow("uint8array 256") << "sme_connect_ssid " + hexBytes(256) << QByteArray()
                                        << ssid + "argument too long for uint8array";
        // 1 + 2 + 2044 = 2047 bytes: the high length bits go into byte 0.
        QTest::newRow("payload 2047") << "sdhc_fwrite 5 " + hexBytes(2044)
                                      << "0fff0b04"
                                         "05"
                                         "fc07" +
                                             hexBytes(2044).toLatin1()
                                      << fwrite;
        QTest::newRow("payload 2048") << "sdhc_fwrite 5 " + hexBytes(2045) << QByteArray()
                                      << fwrite + "payload of 2048 bytes too long for one packet";

        // Hex packets.
        QTest::newRow("hex spaced") << "08 00 01 02" << QByteArray("08000102") << QString();
        QTest::newRow("hex packed") << "08000102" << QByteArray("08000102") << QString();
        QTest::newRow("hex separators") << " 08\t00]01  02 " << QByteArray("08000102") << QString();
        QTest::newRow("hex odd digits") << "08 00 01 0" << QByteArray() << QString();
        QTest::newRow("hex split digit") << "08 00 01 0 2" << QByteArray("08000102") << QString();
        QTest::newRow("hex upper case") << "08 00 0A 02" << QByteArray() << QString();
        QTest::newRow("hex 0x") << "0x08000102" << QByteArray() << QString();
        QTest::newRow("hex other character") << "08,00,01,02" << QByteArray() << QString();
        QTest::newRow("hex opening bracket") << "[08 00 01 02]" << QByteArray() << QString();
        QTest::newRow("empty line") << "" << QByteArray()
                                    << "Length of hex string must be at least two bytes";
        QTest::newRow("one byte") << "08" << QByteArray()
                                  << "Length of hex string must be at least two bytes";
        QTest::newRow("wrong device")
            << "09000102" << QByteArray() << "First byte must be correct device_id wifi=8";
        QTest::newRow("event") << "88000100" << QByteArray() << "First byte must be correct device_id wifi=8";
        QTest::newRow("payload over 255")
            << "09010102" + hexBytes(257) << QByteArray() << "First byte must be correct device_id wifi=8";
        QTest::newRow("two bytes") << "0800" << QByteArray() << "Packet length invalid must be at least 4";
        QTest::newRow("three bytes") << "080001" << QByteArray()
                                     << "Packet length invalid must be at least 4";
        QTest::newRow("length field")
            << "08010102" << QByteArray() << "Packet length field invalid expected:0";
        QTest::newRow("length field short")
            << "08020102aa" << QByteArray() << "Packet length field invalid expected:1";
        QTest::newRow("payload 200") << "08c80102" + hexBytes(200) << "08c80102" + hexBytes(200).toLatin1()
                                     << QString();
        QTest::newRow("payload 255") << "08ff0102" + hexBytes(255) << "08ff0102" + hexBytes(255).toLatin1()
                                     << QString();
    }

    void parse()
    {
        QFETCH(QString, line);
        QFETCH(QByteArray, packet);
        QFETCH(QString, msg);
        QString collected;
        QCOMPARE(parser.parse(line, collected).toHex(), packet);
        QCOMPARE(collected, msg);
    }

    void messageTextIsAppended()
    {
        QString msg = QStringLiteral("earlier;");
        QVERIFY(parser.parse(QStringLiteral("sme_nosuch"), msg).isEmpty());
        QCOMPARE(msg, QStringLiteral("earlier;Command 'nosuch' not found in class 'sme'"));
    }

    void invalidTypeFailsSilently()
    {
        CommandParser model;
        QCOMPARE(model.load(QStringLiteral(NW_SOURCE_DIR "/tests/core/api/data/model.xml")), 0);
        QString msg;
        QVERIFY(model.parse(QStringLiteral("first_broken 1"), msg).isEmpty());
        QCOMPARE(msg, help("<b>wifi_cmd_first_broken</b> <b>x</b>:invalid"));
        // Duplicate names: the first one is found.
        msg.clear();
        QCOMPARE(model.parse(QStringLiteral("first_dup"), msg).toHex(), QByteArray("08000001"));
    }

    void hwAddressText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pos");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("newText");
        QTest::addColumn<int>("newPos");
        const int inv = int(hwaddress::State::Invalid), mid = int(hwaddress::State::Intermediate),
                  ok = int(hwaddress::State::Acceptable);
        QTest::newRow("empty") << "" << 0 << mid << "" << 0;
        QTest::newRow("one pair") << "02" << 2 << mid << "02" << 2;
        QTest::newRow("typing on") << "020" << 3 << mid << "02:0" << 4;
        QTest::newRow("cursor at start") << "0200" << 0 << mid << "02:00" << 0;
        QTest::newRow("colon before cursor") << "0:2" << 3 << mid << "02" << 2;
        QTest::newRow("eleven digits") << "02000000000" << 11 << mid << "02:00:00:00:00:0" << 16;
        QTest::newRow("complete") << "02:00:00:00:00:01" << 17 << ok << "02:00:00:00:00:01" << 17;
        QTest::newRow("plain digits") << "020000000001" << 12 << ok << "02:00:00:00:00:01" << 17;
        QTest::newRow("misplaced colons") << "0:20:000:0000:01" << 5 << ok << "02:00:00:00:00:01" << 4;
        QTest::newRow("cut to twelve") << "0200000000019876" << 16 << ok << "02:00:00:00:00:01" << 17;
        QTest::newRow("upper case") << "02:00:00:00:00:0A" << 3 << inv << "02:00:00:00:00:0A" << 3;
        QTest::newRow("blank") << "02 00" << 1 << inv << "02 00" << 1;
        QTest::newRow("non-latin") << QString::fromUtf8("02\xc3\xa9") << 1 << inv
                                   << QString::fromUtf8("02\xc3\xa9") << 1;
    }

    void hwAddressText()
    {
        QFETCH(QString, text);
        QFETCH(int, pos);
        QFETCH(int, state);
        QFETCH(QString, newText);
        QFETCH(int, newPos);
        QCOMPARE(int(hwaddress::normalize(text, pos)), state);
        QCOMPARE(text, newText);
        QCOMPARE(pos, newPos);
    }

    void onlyColonsIsInvalid()
    {
        QString text = QStringLiteral(":::");
        int pos = 3;
        QCOMPARE(hwaddress::normalize(text, pos), hwaddress::State::Invalid);
        QVERIFY(text.isEmpty());
    }

    // Every command of the shipped file, typed by name, gives the bytes of its per-class slot.
    void sameBytesAsCommandSlots()
    {
        cls_wifi wifi;
        QObject *const objects[] = {&wifi.dfu,      &wifi.system,   &wifi.config, &wifi.sme, &wifi.tcpip,
                                    &wifi.endpoint, &wifi.hardware, &wifi.flash,  &wifi.i2c, &wifi.https,
                                    &wifi.ethernet, &wifi.sdhc,     &wifi.util};
        QSignalSpy tx(&wifi, &cls_wifi::tx_data);
        QCOMPARE(parser.classes().size(), int(sizeof objects / sizeof objects[0]));

        int commands = 0;
        for (int c = 0; c < parser.classes().size(); ++c) {
            const ApiClass &cls = parser.classes().at(c);
            QObject *object = objects[c];
            QCOMPARE(QByteArray(object->metaObject()->className()), "cls_wifi_" + cls.name.toLatin1());
            for (const ApiMessage &command : cls.commands) {
                QStringList typed;
                int ints[10] = {};
                QString texts[10];
                QGenericArgument slotArgs[10];
                QByteArray slotSignature = "qml_cmd_" + command.name.toLatin1() + '(';
                for (int i = 0; i < command.params.size(); ++i) {
                    // Distinct values per position catch swapped or misplaced fields.
                    switch (command.params.at(i).type) {
                    case ApiParam::Uint8:
                    case ApiParam::Uint16:
                    case ApiParam::Uint32:
                        ints[i] = 0x12345670 + i;
                        typed << QString::number(ints[i], 16);
                        break;
                    case ApiParam::Int8:
                    case ApiParam::Int16:
                    case ApiParam::Int32:
                        ints[i] = -100003 - i;
                        typed << QString::number(ints[i]);
                        break;
                    case ApiParam::Ipv4:
                        ints[i] = 0x0a01a8c0; // 192.168.1.10, first octet lowest
                        typed << QStringLiteral("192.168.1.10");
                        break;
                    case ApiParam::HwAddr:
                        texts[i] = QStringLiteral("02:1a:2b:3c:4d:5e");
                        typed << texts[i];
                        break;
                    default:
                        texts[i] = hexBytes(5 + i, 0xf0);
                        typed << texts[i];
                        break;
                    }
                    const bool text = !texts[i].isEmpty();
                    slotArgs[i] =
                        text ? QGenericArgument("QString", &texts[i]) : QGenericArgument("int", &ints[i]);
                    slotSignature += QByteArray(i ? "," : "") + (text ? "QString" : "int");
                }
                slotSignature += ')';
                QVERIFY2(object->metaObject()->indexOfSlot(slotSignature) >= 0, slotSignature);

                tx.clear();
                const QByteArray slotName = "qml_cmd_" + command.name.toLatin1();
                QVERIFY(QMetaObject::invokeMethod(object, slotName.constData(), Qt::DirectConnection,
                                                  slotArgs[0], slotArgs[1], slotArgs[2], slotArgs[3],
                                                  slotArgs[4], slotArgs[5], slotArgs[6], slotArgs[7],
                                                  slotArgs[8], slotArgs[9]));
                QCOMPARE(tx.count(), 1);

                const QString line = cls.name + '_' + command.name + ' ' + typed.join(' ');
                QString msg;
                const QByteArray typedPacket = parser.parse(line.trimmed(), msg);
                QVERIFY2(!typedPacket.isEmpty(), qPrintable(line + " : " + msg));
                QCOMPARE(typedPacket.toHex(), tx.at(0).at(0).toByteArray().toHex());
                ++commands;
            }
        }
        QCOMPARE(commands, 108);
    }
};

NW_TEST(CommandParserTest)
#include "tst_commandparser.moc"
