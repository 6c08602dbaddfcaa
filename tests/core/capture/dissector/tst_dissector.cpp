// The generated dissector, run by tshark over a capture of every message of the API (commands from the
// per-class objects' encoder, responses and events through velmo's decoder), must name each message and
// show each parameter's value as velmo's log does; damaged packets are marked malformed, never a Lua error.
#include "capturefile.h"
#include "catalogue.h"
#include "cls_wifi.h"
#include "testmain.h"

#include <QMetaMethod>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace
{
struct Param {
    QString type, name;
};
struct Message {
    QString kind, className, name;
    int classId = 0, id = 0;
    QList<Param> params;
};

QList<Param> parseParams(const QString &text)
{
    QList<Param> out;
    for (const QString &p : text.split(',', Qt::SkipEmptyParts)) {
        const QStringList tn = p.trimmed().split(' ', Qt::SkipEmptyParts);
        if (tn.size() == 2) out.append({tn[0], tn[1]});
    }
    return out;
}

// Every command, response and event of the independent copy of the catalogue.
QList<Message> messages()
{
    QList<Message> out;
    int classId = 0;
    QString className;
    for (const QString &line : QString::fromLatin1(k_catalogue).split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split('|');
        const QStringList head = parts[0].trimmed().split(' ');
        if (head[0] == "class") {
            classId = head[1].toInt();
            className = head[2];
            continue;
        }
        if (head[0] == "cmd") {
            out.append({"cmd", className, head[2], classId, head[1].toInt(), parseParams(parts[1])});
            out.append({"rsp", className, head[2], classId, head[1].toInt(), parseParams(parts[2])});
        } else {
            out.append({"evt", className, head[2], classId, head[1].toInt(), parseParams(parts[1])});
        }
    }
    return out;
}

bool isArray(const QString &t)
{
    return t == "uint8array" || t == "uint16array";
}

bool isResult(const Message &m, const Param &p)
{
    return m.kind != "cmd" && p.type == "uint16" && (p.name == "result" || p.name == "reason");
}

// A sample per parameter in its QML form: negative values for the signed types, result codes with texts.
QVariant sample(const Message &m, const Param &p, int k)
{
    if (isResult(m, p)) return 0x0181 + k;
    if (p.type == "uint8") return int((0x11 * (k + 1) + 0x80) & 0xff);
    if (p.type == "int8") return -(k + 2);
    if (p.type == "uint16") return 0xa234 + k;
    if (p.type == "int16") return -300 - k;
    if (p.type == "uint32") return int(0x89abcdefu + uint(k));
    if (p.type == "int32") return -100000 - k;
    if (p.type == "ipv4") return int(0x0a01a8c0 + k);
    if (p.type == "hw_addr") return QString("0200000000a%1").arg(k);
    return QString("4142%1").arg(k, 2, 16, QChar('0')).repeated(k + 1);
}

int size(const QString &t)
{
    if (t == "uint8" || t == "int8" || t == "uint8array") return 1;
    if (t == "uint16" || t == "int16" || t == "uint16array") return 2;
    return t == "hw_addr" ? 6 : 4;
}

QByteArray packet(const Message &m, const QList<QVariant> &values)
{
    QByteArray payload, array;
    for (int k = 0; k < m.params.size(); ++k) {
        const Param &p = m.params[k];
        if (p.type == "hw_addr") {
            payload += QByteArray::fromHex(values[k].toString().toLatin1());
        } else if (isArray(p.type)) {
            array = QByteArray::fromHex(values[k].toString().toLatin1());
            payload += char(array.size());
            if (p.type == "uint16array") payload += char(array.size() >> 8);
        } else {
            for (int i = 0; i < size(p.type); ++i)
                payload += char(quint32(values[k].toInt()) >> (8 * i));
        }
    }
    payload += array;
    QByteArray out;
    out += char((m.kind == "evt" ? 0x88 : 0x08) | (payload.size() >> 8));
    out += char(payload.size());
    out += char(m.classId);
    out += char(m.id);
    return out + payload;
}

bool invoke(QObject *o, const QString &name, const QList<QVariant> &args)
{
    const QMetaObject *mo = o->metaObject();
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
        const QMetaMethod m = mo->method(i);
        if (QString::fromLatin1(m.name()) != name) continue;
        QGenericArgument a[8];
        for (int k = 0; k < args.size(); ++k)
            a[k] = QGenericArgument(args[k].typeName(), args[k].constData());
        return m.invoke(o, Qt::DirectConnection, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    }
    return false;
}

struct Field {
    QString name, show, showname;
};
struct Decoded {
    QList<Field> fields; // the nw300 protocol's own fields, in order
    QStringList experts; // expert info field names anywhere in the packet
    QString text;        // every showname, to look for a Lua error
};

QList<Decoded> readPdml(const QByteArray &xml)
{
    QList<Decoded> out;
    QXmlStreamReader r(xml);
    int depthInProto = -1, depth = 0;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            ++depth;
            const QString name = r.attributes().value("name").toString();
            if (r.name() == QLatin1String("packet")) out.append(Decoded());
            if (out.isEmpty()) continue;
            out.last().text += r.attributes().value("showname").toString() + '\n';
            if (r.name() == QLatin1String("proto") && name == "nw300") depthInProto = depth;
            if (r.name() == QLatin1String("field")) {
                const bool expert =
                    name == "nw300.malformed" || name == "nw300.unknown" || name == "nw300.noise";
                if (expert && !out.last().experts.contains(name))
                    out.last().experts << name;
                else if (depthInProto >= 0 && depth == depthInProto + 1 && name.startsWith("nw300."))
                    out.last().fields.append({name, r.attributes().value("show").toString(),
                                              r.attributes().value("showname").toString()});
            }
        } else if (r.isEndElement()) {
            if (depth == depthInProto) depthInProto = -1;
            --depth;
        }
    }
    return out;
}

// velmo's entry as (name, value) pairs: an item " name:..." starts a parameter, the items after it that do
// not start with a space (a command's bytes and octets) continue its value.
QList<QPair<QString, QString>> entryFields(const QStringList &entry)
{
    QList<QPair<QString, QString>> out;
    for (int i = 1; i < entry.size(); ++i) {
        const QString &item = entry[i];
        const int colon = item.indexOf(':');
        if (item.startsWith(' ') && colon > 0)
            out.append({item.mid(1, colon - 1), item.mid(colon + 1)});
        else if (!out.isEmpty())
            out.last().second += item;
    }
    return out;
}

QString withoutColons(QString s)
{
    return s.remove(':');
}

} // namespace

class TestDissector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { wifi_register_metatypes(); }

    void everyMessageAsVelmoShowsIt()
    {
        const QString tshark = QStandardPaths::findExecutable("tshark");
        if (tshark.isEmpty()) QSKIP("tshark is not installed");
        QVERIFY2(QFile::exists(NW_DISSECTOR), NW_DISSECTOR);
        QTemporaryDir dir;
        const QString path = dir.filePath("all.pcapng");
        CaptureFile file;
        QVERIFY(file.open(path));
        QCOMPARE(file.addInterface("/dev/ttyUSB0", 115200), 0);

        cls_wifi wifi;
        QSignalSpy tx(&wifi, &cls_wifi::tx_data);
        QSignalSpy log(&wifi, &cls_wifi::parsed_message_str);
        const QList<Message> all = messages();
        QCOMPARE(all.size(), 282);
        QList<QStringList> entries;
        qint64 t = 1700000000000000000ll;
        for (const Message &m : all) {
            QList<QVariant> values;
            for (int k = 0; k < m.params.size(); ++k)
                values << sample(m, m.params[k], k);
            tx.clear();
            log.clear();
            QByteArray bytes;
            if (m.kind == "cmd") {
                QVERIFY2(invoke(wifi.class_object(m.classId), "qml_cmd_" + m.name, values),
                         qPrintable(m.name));
                QCOMPARE(tx.size(), 1);
                bytes = tx[0][0].toByteArray();
            } else {
                bytes = packet(m, values);
                wifi.rx_data(bytes);
            }
            QCOMPARE(log.size(), 1);
            entries << log[0][0].toStringList();
            file.recordAt(0, t += 1000,
                          m.kind == "cmd" ? capture::Direction::Outbound : capture::Direction::Inbound,
                          bytes.constData(), bytes.size());
        }
        // Damage: a response cut inside its fixed part, an array longer than its packet, a payload longer
        // than its header says, an unknown message, line noise, and a lone byte.
        const QList<QByteArray> damaged = {QByteArray::fromHex("0801020081"),
                                           QByteArray::fromHex("880c030202000000000000000000000905"),
                                           QByteArray::fromHex("0800030000000000"),
                                           QByteArray::fromHex("08000c63"),
                                           QByteArray::fromHex("ff00ee"),
                                           QByteArray::fromHex("08")};
        for (const QByteArray &d : damaged)
            file.recordAt(0, t += 1000, capture::Direction::Inbound, d.constData(), d.size());
        file.close();

        QProcess p;
        p.start(tshark, {"-X", "lua_script:" NW_DISSECTOR, "-r", path, "-T", "pdml"});
        QVERIFY(p.waitForFinished(120000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(!err.contains("Lua") && !err.contains("lua"), err.constData());
        const QList<Decoded> decoded = readPdml(p.readAllStandardOutput());

        // The Info column: class, message and kind, then the parameters as velmo writes them, unpadded.
        p.start(tshark, {"-X", "lua_script:" NW_DISSECTOR, "-r", path, "-T", "fields", "-e", "_ws.col.Info",
                         "-c", "4"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).split('\n').mid(0, 4),
                 QStringList({"dfu reset command dfu:145 (0x91)", "dfu reset response",
                              "dfu flash_set_address command address:2309737967 (0x89abcdef)",
                              "dfu flash_set_address response result:0x0181 'Device is in wrong state to "
                              "accept command'"}));
        QCOMPARE(decoded.size(), all.size() + damaged.size());

        for (int i = 0; i < all.size(); ++i) {
            const Message &m = all[i];
            const Decoded &d = decoded[i];
            const QString where = QString("%1 %2 %3").arg(m.kind, m.className, m.name);
            QVERIFY2(d.experts.isEmpty(), qPrintable(where + ": " + d.experts.join(',')));
            QVERIFY2(!d.text.contains("Lua Error"), qPrintable(where));
            const QString head = entries[i].value(0);
            const QString prefix = QString("nw300.%1.%2.%3.").arg(m.kind, m.className, m.name);
            const auto message = std::find_if(d.fields.begin(), d.fields.end(),
                                              [](const Field &f) { return f.name == "nw300.message"; });
            QVERIFY2(message != d.fields.end(), qPrintable(where));
            QCOMPARE(message->show + '\t', head);
            QList<Field> params;
            for (const Field &f : d.fields)
                if (f.name.startsWith(prefix)) params << f;
            const QList<QPair<QString, QString>> expected = entryFields(entries[i]);
            QVERIFY2(params.size() == expected.size(), qPrintable(where));
            for (int k = 0; k < params.size(); ++k) {
                const Param &param = m.params[k];
                const QString name = expected[k].first;
                QString value = expected[k].second;
                QCOMPARE(params[k].name, prefix + name);
                const QString what = where + " " + name;
                if (isResult(m, param)) {
                    // " result:0x0181 [<font color=red>'text'</font>]"
                    QCOMPARE(params[k].show.toUInt(nullptr, 0), value.mid(2, 4).toUInt(nullptr, 16));
                    const QString text = value.section('\'', 1, 1);
                    QVERIFY2(!text.isEmpty() && params[k].showname.contains(text),
                             qPrintable(what + ": " + params[k].showname));
                } else if (param.type == "hw_addr" || isArray(param.type)) {
                    QVERIFY2(withoutColons(params[k].show) == value,
                             qPrintable(what + ": " + params[k].show + " / " + value));
                } else if (param.type == "ipv4") {
                    QVERIFY2(params[k].show == value,
                             qPrintable(what + ": " + params[k].show + " / " + value));
                } else {
                    // "%8d (0x..)": the decimal value.
                    QVERIFY2(params[k].show == value.section('(', 0, 0).trimmed(),
                             qPrintable(what + ": " + params[k].show + " / " + value));
                }
            }
        }
        const QStringList expectedExperts[] = {{"nw300.malformed"}, {"nw300.malformed"},
                                               {"nw300.malformed"}, {"nw300.unknown"},
                                               {"nw300.noise"},     {"nw300.noise", "nw300.malformed"}};
        for (int i = 0; i < damaged.size(); ++i) {
            const Decoded &d = decoded[all.size() + i];
            QVERIFY2(!d.text.contains("Lua Error"), qPrintable(damaged[i].toHex()));
            QCOMPARE(d.experts, expectedExperts[i]);
        }
    }
};

NW_TEST(TestDissector)
#include "tst_dissector.moc"
