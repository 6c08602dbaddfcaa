// The per-class API objects and their log entries, checked against an independent copy of the catalogue.
#include "catalogue.h"
#include "cls_wifi.h"
#include "testmain.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <QTest>

namespace {

struct Param {
    QString type, name;
};
struct Message {
    int id = 0;
    QString name;
    QList<Param> params, returns;
};
struct Class {
    int id = 0;
    QString name;
    QList<Message> commands, events;
};

QList<Param> parseParams(const QString &text)
{
    QList<Param> out;
    for (const QString &p : text.split(',', Qt::SkipEmptyParts)) {
        if (p.trimmed().isEmpty())
            continue;
        const QStringList tn = p.trimmed().split(' ');
        out.append({tn.at(0), tn.at(1)});
    }
    return out;
}

const QList<Class> &catalogue()
{
    static QList<Class> classes;
    if (!classes.isEmpty())
        return classes;
    for (const QString &line : QString::fromLatin1(k_catalogue).split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split('|');
        const QStringList head = parts.at(0).trimmed().split(' ');
        if (head.at(0) == "class") {
            classes.append({head.at(1).toInt(), head.at(2), {}, {}});
            continue;
        }
        Message m;
        m.id = head.at(1).toInt();
        m.name = head.at(2);
        m.params = parseParams(parts.at(1));
        if (head.at(0) == "cmd") {
            m.returns = parseParams(parts.at(2));
            classes.last().commands.append(m);
        } else {
            classes.last().events.append(m);
        }
    }
    return classes;
}

QObject *classObject(cls_wifi &wifi, int id)
{
    return wifi.class_object(id);
}

bool isArray(const QString &t)
{
    return t == "uint8array" || t == "uint16array";
}

QString typedName(const QString &t)
{
    return isArray(t) ? QStringLiteral("QByteArray") : t;
}

QString qmlName(const QString &t)
{
    return (isArray(t) || t == "hw_addr") ? QStringLiteral("QString") : QStringLiteral("int");
}

QString signature(const QString &name, const QList<Param> &params, bool qml)
{
    QStringList types;
    for (const Param &p : params)
        types << (qml ? qmlName(p.type) : typedName(p.type));
    return name + '(' + types.join(',') + ')';
}

int fixedSize(const QString &t)
{
    if (t == "uint8" || t == "int8" || t == "uint8array")
        return 1;
    if (t == "uint16" || t == "int16" || t == "uint16array")
        return 2;
    if (t == "hw_addr")
        return 6;
    return 4;
}

// A sample value per parameter, in its QML form, and the bytes it travels as.
QVariant sampleQml(const Param &p, int k)
{
    if (p.type == "uint8")
        return int((0x11 * (k + 1) + 0x80) & 0xff);
    if (p.type == "int8")
        return -(k + 2);
    if (p.type == "uint16")
        return 0xa234 + k;
    if (p.type == "int16")
        return -300 - k;
    if (p.type == "uint32")
        return int(0x89abcdefu + uint(k));
    if (p.type == "int32")
        return -100000 - k;
    if (p.type == "ipv4")
        return int(0x0a01a8c0 + k);
    if (p.type == "hw_addr")
        return QString("0200000000a%1").arg(k);
    return QString("4142%1").arg(k, 2, 16, QChar('0')).repeated(k + 1);
}

QByteArray wireBytes(const Param &p, const QVariant &v, QByteArray *array)
{
    QByteArray out;
    if (p.type == "hw_addr")
        return QByteArray::fromHex(v.toString().toLatin1());
    if (isArray(p.type)) {
        *array = QByteArray::fromHex(v.toString().toLatin1());
        const int n = array->size();
        out.append(char(n));
        if (p.type == "uint16array")
            out.append(char(n >> 8));
        return out;
    }
    const quint32 bits = quint32(v.toInt());
    for (int i = 0; i < fixedSize(p.type); ++i)
        out.append(char(bits >> (8 * i)));
    return out;
}

QByteArray packet(int byte0, int classId, int id, const QList<Param> &params, QList<QVariant> *values)
{
    QByteArray payload, array;
    for (int k = 0; k < params.size(); ++k) {
        const QVariant v = sampleQml(params.at(k), k);
        values->append(v);
        payload += wireBytes(params.at(k), v, &array);
    }
    payload += array;
    QByteArray out;
    out.append(char(byte0 | (payload.size() >> 8))).append(char(payload.size())).append(char(classId)).append(char(id));
    return out + payload;
}

bool invoke(QObject *o, const QString &name, const QList<QVariant> &args)
{
    const QMetaObject *mo = o->metaObject();
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
        const QMetaMethod m = mo->method(i);
        if (QString::fromLatin1(m.name()) != name)
            continue;
        QGenericArgument a[8];
        for (int k = 0; k < args.size(); ++k)
            a[k] = QGenericArgument(args[k].typeName(), args[k].constData());
        return m.invoke(o, Qt::DirectConnection, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    }
    return false;
}

QByteArray hex(const char *t)
{
    return QByteArray::fromHex(t);
}

} // namespace

class TestObjects : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { wifi_register_metatypes(); }
    void metaObjectsMatchTheCatalogue();
    void everyCommandEncodes();
    void everyResponseAndEventDecodes();
    void logEntries_data();
    void logEntries();
    void resultTexts_data();
    void resultTexts();
    void commandLogEntries();
    void qmlCommandsConvert_data();
    void qmlCommandsConvert();
    void scanResultSignalOrder();
    void classesWithoutEvents();
};

void TestObjects::metaObjectsMatchTheCatalogue()
{
    cls_wifi wifi;
    const QList<Class> &classes = catalogue();
    QCOMPARE(classes.size(), 13);
    const int counts[13][2] = {{10, 8}, {16, 8}, {6, 4}, {94, 48}, {72, 46}, {24, 14}, {42, 32},
                               {18, 12}, {6, 6}, {20, 8}, {8, 6}, {28, 20}, {4, 4}};
    QObject *previous = nullptr;
    for (const Class &c : classes) {
        QObject *o = classObject(wifi, c.id);
        QCOMPARE(QString(o->metaObject()->className()), "cls_wifi_" + c.name);
        QVERIFY(!o->parent());
        // by value, in class-id order
        QVERIFY(previous < o);
        previous = o;
        auto *sub = static_cast<wifi_sub *>(o->qt_metacast("wifi_sub"));
        QVERIFY(sub);
        QCOMPARE(sub->owner, &wifi);

        QStringList expectedSignals, expectedSlots, expectedNames;
        for (const Message &m : c.commands)
            expectedSignals << signature("rsp_" + m.name, m.returns, false);
        for (const Message &m : c.events)
            expectedSignals << signature("evt_" + m.name, m.params, false);
        for (const Message &m : c.commands)
            expectedSignals << signature("qml_rsp_" + m.name, m.returns, true);
        for (const Message &m : c.events)
            expectedSignals << signature("qml_evt_" + m.name, m.params, true);
        for (const Message &m : c.commands)
            expectedSlots << signature("cmd_" + m.name, m.params, false);
        for (const Message &m : c.commands)
            expectedSlots << signature("qml_cmd_" + m.name, m.params, true);
        auto names = [&](const QList<Param> &ps) {
            QStringList n;
            for (const Param &p : ps)
                n << p.name;
            expectedNames << n.join(',');
        };
        for (int twice = 0; twice < 2; ++twice) {
            for (const Message &m : c.commands)
                names(m.returns);
            for (const Message &m : c.events)
                names(m.params);
        }
        for (int twice = 0; twice < 2; ++twice)
            for (const Message &m : c.commands)
                names(m.params);

        const QMetaObject *mo = o->metaObject();
        QCOMPARE(mo->propertyCount(), mo->propertyOffset());
        QStringList actual, actualNames;
        int signalCount = 0, slotCount = 0;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
            const QMetaMethod m = mo->method(i);
            QVERIFY(m.methodType() == QMetaMethod::Signal || m.methodType() == QMetaMethod::Slot);
            QCOMPARE(m.returnType(), int(QMetaType::Void));
            (m.methodType() == QMetaMethod::Signal ? signalCount : slotCount)++;
            actual << QString::fromLatin1(m.methodSignature());
            QStringList n;
            for (const QByteArray &b : m.parameterNames())
                n << QString::fromLatin1(b);
            actualNames << n.join(',');
        }
        QCOMPARE(actual, expectedSignals + expectedSlots);
        QCOMPARE(actualNames, expectedNames);
        QCOMPARE(signalCount, counts[c.id][0]);
        QCOMPARE(slotCount, counts[c.id][1]);
    }

    // the root: three signals and one slot, in this order
    const QMetaObject *root = wifi.metaObject();
    QStringList rootMethods;
    for (int i = root->methodOffset(); i < root->methodCount(); ++i)
        rootMethods << QString::fromLatin1(root->method(i).methodSignature());
    QCOMPARE(rootMethods, QStringList({"parsed_message_str(QStringList)", "parsed_message_data(QByteArray)",
                                       "tx_data(QByteArray)", "rx_data(QByteArray)"}));
}

void TestObjects::everyCommandEncodes()
{
    cls_wifi wifi;
    QSignalSpy tx(&wifi, &cls_wifi::tx_data);
    QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
    int commands = 0;
    for (const Class &c : catalogue()) {
        for (const Message &m : c.commands) {
            QList<QVariant> values;
            const QByteArray expected = packet(0x08, c.id, m.id, m.params, &values);
            tx.clear();
            log.clear();
            QVERIFY2(invoke(classObject(wifi, c.id), "qml_cmd_" + m.name, values), qPrintable(m.name));
            QCOMPARE(tx.count(), 1);
            QCOMPARE(tx.at(0).at(0).toByteArray().toHex(), expected.toHex());
            QCOMPARE(log.count(), 1);
            QCOMPARE(log.at(0).at(0).toStringList().value(0), QString("wifi_cmd_%1_%2\t").arg(c.name, m.name));
            ++commands;
        }
    }
    QCOMPARE(commands, 108);
}

void TestObjects::everyResponseAndEventDecodes()
{
    cls_wifi wifi;
    QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
    int messages = 0;
    for (const Class &c : catalogue()) {
        QObject *o = classObject(wifi, c.id);
        for (int kind = 0; kind < 2; ++kind) {
            for (const Message &m : kind == 0 ? c.commands : c.events) {
                const QList<Param> &params = kind == 0 ? m.returns : m.params;
                const QString prefix = kind == 0 ? "rsp" : "evt";
                const QByteArray sig = "2qml_" + signature(prefix + '_' + m.name, params, true).toLatin1();
                QSignalSpy qml(o, sig.constData());
                QVERIFY2(qml.isValid(), sig.constData());
                QList<QVariant> values;
                log.clear();
                wifi.rx_data(packet(kind == 0 ? 0x08 : 0x88, c.id, m.id, params, &values));
                QCOMPARE(qml.count(), 1);
                QCOMPARE(qml.at(0), values);
                QCOMPARE(log.count(), 1);
                const QStringList entry = log.at(0).at(0).toStringList();
                QCOMPARE(entry.value(0), QString("wifi_%1_%2_%3\t").arg(prefix, c.name, m.name));
                QCOMPARE(entry.size(), 1 + params.size());
                for (int k = 0; k < params.size(); ++k)
                    QVERIFY(entry.at(k + 1).startsWith(' ' + params.at(k).name + ':'));
                ++messages;
            }
        }
    }
    QCOMPARE(messages, 174);
}

void TestObjects::logEntries_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QStringList>("entry");
    QTest::newRow("wifi_on ok") << hex("080203000000")
                                << QStringList{"wifi_rsp_sme_wifi_on\t",
                                               " result:0x0000 [<font color=green>'No Error'</font>]"};
    QTest::newRow("wifi_on wrong state")
        << hex("080203008101")
        << QStringList{"wifi_rsp_sme_wifi_on\t",
                       " result:0x0181 [<font color=red>'Device is in wrong state to accept command'</font>]"};
    QTest::newRow("unknown code") << hex("080203009909")
                                  << QStringList{"wifi_rsp_sme_wifi_on\t", " result:0x0999 [<font color=red>''</font>]"};
    QTest::newRow("tcpip no error is red")
        << hex("0802040c0002")
        << QStringList{"wifi_rsp_tcpip_mdns_stop\t", " result:0x0200 [<font color=red>'No error'</font>]"};
    QTest::newRow("hw_interface 5") << hex("08030200000005")
                                    << QStringList{"wifi_rsp_config_get_mac\t",
                                                   " result:0x0000 [<font color=green>'No Error'</font>]",
                                                   " hw_interface:       5 (0x05)"};
    QTest::newRow("uint32 1") << hex("8804000001000000")
                              << QStringList{"wifi_evt_dfu_boot\t", " version:       1 (0x00000001)"};
    QTest::newRow("int8 -70") << hex("88020316ba00")
                              << QStringList{"wifi_evt_sme_signal_quality\t", " rssi:     -70 (0xffffffba)",
                                             " hw_interface:       0 (0x00)"};
    QTest::newRow("scan_result")
        << hex("880f0302" "020000000001" "06" "baff" "f6" "c8" "03" "414243")
        << QStringList{"wifi_evt_sme_scan_result\t", " bssid:020000000001", " channel:       6 (0x06)",
                       " rssi:     -70 (0xffffffba)", " snr:     -10 (0xfffffff6)", " secure:     200 (0xc8)",
                       " ssid:414243"};
    QTest::newRow("ipv4") << hex("880d0400" "c0a8010a" "ffffff00" "c0a80101" "01")
                          << QStringList{"wifi_evt_tcpip_configuration\t", " address:192.168.1.10",
                                         " netmask:255.255.255.0", " gateway:192.168.1.1",
                                         " use_dhcp:       1 (0x01)"};
    QTest::newRow("mac") << hex("88070200" "00" "020000000001")
                         << QStringList{"wifi_evt_config_mac_address\t", " hw_interface:       0 (0x00)",
                                        " mac:020000000001"};
    QTest::newRow("empty event array") << hex("880205010300")
                                       << QStringList{"wifi_evt_endpoint_data\t", " endpoint:       3 (0x03)",
                                                      " data:"};
    QTest::newRow("uint16array") << hex("8805" "0b01" "02" "0200" "abcd")
                                 << QStringList{"wifi_evt_sdhc_fdata\t", " fhandle:       2 (0x02)", " data:abcd"};
    QTest::newRow("int32") << hex("08040c00" "feffffff")
                           << QStringList{"wifi_rsp_util_atoi\t", " value:      -2 (0xfffffffe)"};
    QTest::newRow("large uint32") << hex("88040601" "ffffffff")
                                  << QStringList{"wifi_evt_hardware_change_notification\t",
                                                 " timestamp:4294967295 (0xffffffff)"};
}

void TestObjects::logEntries()
{
    QFETCH(QByteArray, packet);
    QFETCH(QStringList, entry);
    cls_wifi wifi;
    QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
    wifi.rx_data(packet);
    QCOMPARE(log.count(), 1);
    QCOMPARE(log.at(0).at(0).toStringList(), entry);
}

// Every code of the result table, and one beside it, as a response's result item shows it.
void TestObjects::resultTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0000") << 0x0000 << QStringLiteral("No Error");
    QTest::newRow("0100") << 0x0100 << QStringLiteral("No error");
    QTest::newRow("0180") << 0x0180 << QStringLiteral("Command contained invalid parameter");
    QTest::newRow("0181") << 0x0181 << QStringLiteral("Device is in wrong state to accept command");
    QTest::newRow("0182") << 0x0182 << QStringLiteral("Device has run out of memory");
    QTest::newRow("0183") << 0x0183 << QStringLiteral("Feature is not implemented");
    QTest::newRow("0184") << 0x0184 << QStringLiteral("Command was not recognized");
    QTest::newRow("0185") << 0x0185 << QStringLiteral("Command or Procedure failed due to timeout");
    QTest::newRow("0186") << 0x0186 << QStringLiteral("Unspecified error");
    QTest::newRow("0187") << 0x0187 << QStringLiteral("Hardware failure");
    QTest::newRow("0188") << 0x0188
                          << QStringLiteral("Command not accepted, because internal buffers are full");
    QTest::newRow("0189") << 0x0189 << QStringLiteral("Command or Procedure failed due to disconnection");
    QTest::newRow("018a") << 0x018a << QStringLiteral("Too many Simultaneous Requests");
    QTest::newRow("018b") << 0x018b << QStringLiteral("Access Point not found from scanlist");
    QTest::newRow("018c") << 0x018c << QStringLiteral("Password is invalid or missing");
    QTest::newRow("018d") << 0x018d << QStringLiteral("WPA/WPA2 authentication has failed");
    QTest::newRow("018e") << 0x018e << QStringLiteral("Overflow detected");
    QTest::newRow("018f") << 0x018f << QStringLiteral("Multiple PBC sessions detected");
    QTest::newRow("0190") << 0x0190 << QStringLiteral("Ethernet cable not connected");
    QTest::newRow("0191") << 0x0191 << QStringLiteral("Ethernet route not set");
    QTest::newRow("0192") << 0x0192 << QStringLiteral("Wrong operating mode for this command");
    QTest::newRow("0193") << 0x0193 << QStringLiteral("Requested resource not found");
    QTest::newRow("0194") << 0x0194 << QStringLiteral("Requested resource already exists");
    QTest::newRow("0195") << 0x0195 << QStringLiteral("Current configuration is invalid");
    QTest::newRow("0196") << 0x0196 << QStringLiteral("Connection to Access Point lost");
    QTest::newRow("0200") << 0x0200 << QStringLiteral("No error");
    QTest::newRow("0201") << 0x0201 << QStringLiteral("Out of memory");
    QTest::newRow("0202") << 0x0202 << QStringLiteral("Buffer handling failed");
    QTest::newRow("0203") << 0x0203 << QStringLiteral("Timeout");
    QTest::newRow("0204") << 0x0204 << QStringLiteral("Could not find route");
    QTest::newRow("0205") << 0x0205 << QStringLiteral("Operation in progress");
    QTest::newRow("0206") << 0x0206 << QStringLiteral("Illegal value");
    QTest::newRow("0207") << 0x0207 << QStringLiteral("Operation would block");
    QTest::newRow("0208") << 0x0208 << QStringLiteral("Address in use");
    QTest::newRow("0209") << 0x0209 << QStringLiteral("Already connected");
    QTest::newRow("020a") << 0x020a << QStringLiteral("Connection aborted");
    QTest::newRow("020b") << 0x020b << QStringLiteral("Connection reset");
    QTest::newRow("020c") << 0x020c << QStringLiteral("Connection closed");
    QTest::newRow("020d") << 0x020d << QStringLiteral("Not connected");
    QTest::newRow("020e") << 0x020e << QStringLiteral("Illegal argument");
    QTest::newRow("020f") << 0x020f << QStringLiteral("Interface error");
    QTest::newRow("0210") << 0x0210 << QStringLiteral("Service not running");
    QTest::newRow("0211") << 0x0211 << QStringLiteral("Service already running");
    QTest::newRow("0212") << 0x0212 << QStringLiteral("Hostname not set");
    QTest::newRow("0213") << 0x0213 << QStringLiteral("Hostname conflict detected");
    QTest::newRow("0280") << 0x0280 << QStringLiteral("Unknown host");
    QTest::newRow("0301") << 0x0301 << QStringLiteral("Flash reserved for PS store is full");
    QTest::newRow("0302") << 0x0302 << QStringLiteral("PS key not found");
    QTest::newRow("0303") << 0x0303
                          << QStringLiteral(
                                 "Tried to start i2c write transmission, but it is already in progress.");
    QTest::newRow("0304") << 0x0304 << QStringLiteral("Acknowledge for i2c was not received.");
    QTest::newRow("0305") << 0x0305 << QStringLiteral("Access to unopened file");
    QTest::newRow("0306") << 0x0306 << QStringLiteral("File not in SD card");
    QTest::newRow("0307") << 0x0307 << QStringLiteral("Disk error or disk full");
    QTest::newRow("0308") << 0x0308 << QStringLiteral("Writing to flash failed");
    QTest::newRow("0197 not in the table") << 0x0197 << QString();
}

void TestObjects::resultTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    cls_wifi wifi;
    QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
    QByteArray packet = hex("080203000000"); // sme wifi_on response
    packet[4] = char(code & 0xff);
    packet[5] = char(code >> 8);
    wifi.rx_data(packet);
    QCOMPARE(log.count(), 1);
    const QString colour = code == 0 ? QStringLiteral("green") : QStringLiteral("red");
    QCOMPARE(log.at(0).at(0).toStringList().value(1),
             QStringLiteral(" result:0x%1 [<font color=%2>'%3'</font>]")
                 .arg(code, 4, 16, QLatin1Char('0'))
                 .arg(colour, text));
}

void TestObjects::commandLogEntries()
{
    cls_wifi wifi;
    QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
    QSignalSpy tx(&wifi, &cls_wifi::tx_data);
    // the entry is emitted before the packet leaves
    connect(&wifi, &cls_wifi::parsed_message_str, this, [&] { QCOMPARE(tx.count(), log.count() - 1); });

    wifi.dfu.cmd_flash_upload(hex("aabbcc"));
    QCOMPARE(log.last().at(0).toStringList(),
             QStringList({"wifi_cmd_dfu_flash_upload\t", " data:", "aa", "bb", "cc"}));
    wifi.tcpip.cmd_tcp_connect(0x0a01a8c0, 80, -1);
    QCOMPARE(log.last().at(0).toStringList(),
             QStringList({"wifi_cmd_tcpip_tcp_connect\t", " address:", "", "192", ".", "168", ".", "1", ".", "10",
                          " port:      80 (0x0050)", " routing:      -1 (0xffffffff)"}));
    hw_addr mac{{0x02, 0, 0, 0, 0, 0xab}};
    wifi.config.cmd_set_mac(1, mac);
    QCOMPARE(log.last().at(0).toStringList(),
             QStringList({"wifi_cmd_config_set_mac\t", " hw_interface:       1 (0x01)", " mac:", "02", "00", "00",
                          "00", "00", "ab"}));
    wifi.sme.cmd_wifi_on();
    QCOMPARE(log.last().at(0).toStringList(), QStringList({"wifi_cmd_sme_wifi_on\t"}));
    QCOMPARE(tx.count(), 4);
}

void TestObjects::qmlCommandsConvert_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("item");
    QTest::newRow("set_mac from text") << "config" << "qml_cmd_set_mac" << QVariantList{1, "0200000000ab"}
                                       << hex("08070201010200000000ab") << " hw_interface:       1 (0x01)";
    QTest::newRow("send with a space") << "endpoint" << "qml_cmd_send" << QVariantList{3, "48 69"}
                                       << hex("080405000302 4869") << " endpoint:       3 (0x03)";
    QTest::newRow("reset 257") << "dfu" << "qml_cmd_reset" << QVariantList{257} << hex("0801000001")
                               << " dfu:       1 (0x01)";
    // too few address bytes are sent as zeros
    QTest::newRow("short mac") << "config" << "qml_cmd_set_mac" << QVariantList{2, "0203"}
                               << hex("0807020102" "020300000000") << " hw_interface:       2 (0x02)";
    QTest::newRow("ipv4 as int") << "tcpip" << "qml_cmd_multicast_join" << QVariantList{int(0x010000e0)}
                                 << hex("08040413e0000001") << " address:";
}

void TestObjects::qmlCommandsConvert()
{
    QFETCH(QString, object);
    QFETCH(QString, slot);
    QFETCH(QVariantList, args);
    QFETCH(QByteArray, packet);
    QFETCH(QString, item);
    cls_wifi wifi;
    QSignalSpy tx(&wifi, &cls_wifi::tx_data);
    QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
    QObject *o = wifi.findChild<QObject *>(); // the per-class objects are not children
    QVERIFY(!o);
    const QStringList names = {"dfu",   "system", "config", "sme",      "tcpip", "endpoint", "hardware",
                               "flash", "i2c",    "https",  "ethernet", "sdhc",  "util"};
    QVERIFY(invoke(classObject(wifi, names.indexOf(object)), slot, args));
    QCOMPARE(tx.count(), 1);
    QCOMPARE(tx.at(0).at(0).toByteArray().toHex(), packet.toHex());
    QCOMPARE(log.at(0).at(0).toStringList().value(1), item);
}

void TestObjects::scanResultSignalOrder()
{
    cls_wifi wifi;
    QStringList order;
    hw_addr bssid{};
    QByteArray ssid;
    int rssi = 0;
    connect(&wifi.sme, &cls_wifi_sme::evt_scan_result, this,
            [&](hw_addr b, int8, int16 r, int8, uint8, QByteArray s) {
                order << "typed";
                bssid = b;
                rssi = r;
                ssid = s;
            });
    QVariantList qmlArgs;
    connect(&wifi.sme, &cls_wifi_sme::qml_evt_scan_result, this,
            [&](QString b, int c, int r, int n, int s, QString id) {
                order << "qml";
                qmlArgs = {b, c, r, n, s, id};
            });
    connect(&wifi, &cls_wifi::parsed_message_str, this, [&] { order << "log"; });
    wifi.rx_data(hex("880f0302" "020000000001" "06" "baff" "f6" "c8" "03" "414243"));
    QCOMPARE(order, QStringList({"typed", "qml", "log"}));
    QCOMPARE(bssid, (hw_addr{{0x02, 0, 0, 0, 0, 0x01}}));
    QCOMPARE(rssi, -70);
    QCOMPARE(ssid, QByteArray("ABC"));
    QCOMPARE(qmlArgs, (QVariantList{"020000000001", 6, -70, -10, 200, "414243"}));
}

void TestObjects::classesWithoutEvents()
{
    cls_wifi wifi;
    QSignalSpy i2c(&wifi.i2c, &cls_wifi_i2c::rsp_start_read);
    QSignalSpy atoi(&wifi.util, &cls_wifi_util::rsp_atoi);
    QSignalSpy itoa(&wifi.util, &cls_wifi_util::qml_rsp_itoa);
    QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
    wifi.rx_data(hex("080208008001" "08040c002a000000" "08030c01023432" "88010800ff" "88010c00ff"));
    QCOMPARE(i2c.count(), 1);
    QCOMPARE(i2c.at(0).at(0).value<uint16>(), uint16(0x0180));
    QCOMPARE(atoi.count(), 1);
    QCOMPARE(atoi.at(0).at(0).value<int32>(), 42);
    QCOMPARE(itoa.count(), 1);
    QCOMPARE(itoa.at(0).at(0).toString(), QString("3432"));
    QCOMPARE(log.count(), 3); // the two "events" of classes 8 and 12 are unknown
}

NW_TEST(TestObjects)
#include "tst_objects.moc"
