// The inspector on the example as kirrup builds it (checked against the project's own files and against
// openssl), on images damaged in each way a file can be, and the extraction and comparison.
#include "filesblock.h"
#include "imagefile.h"
#include "imagesummary.h"
#include "inspectfixtures.h"
#include "inspection.h"
#include "scriptapi.h"
#include "testmain.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDomDocument>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace fixtures;
using namespace imagelayout;

namespace
{

QDomElement xmlRoot(const QString &path, QDomDocument &doc)
{
    doc.setContent(readFile(path));
    return doc.documentElement();
}

// Hexadecimal text as the USB file and the hardware file write it, compared by value.
quint32 number(const QString &text, int base = 0)
{
    return text.toUInt(nullptr, base);
}

// One files-section entry as the builder lays it out, padded from the start of the block.
void addFile(QByteArray &block, const QByteArray &name, const QByteArray &content)
{
    block.append(char(name.size() + 1)).append('/').append(name).append('\0');
    while (block.size() % 4)
        block.append('\0');
    QByteArray size(4, 0);
    putLe32(size, 0, quint32(content.size()));
    block.append(size).append(content);
}

QStringList openssl(const QStringList &args)
{
    const Run r = run(QStringLiteral("openssl"), args);
    return QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
}

// "notBefore=Dec  8 03:29:41 2026 GMT" as "2026-12-08 03:29:41 UTC".
QString opensslTime(const QString &line)
{
    QString t = line.section('=', 1).simplified();
    t.chop(4);
    return QDateTime::fromString(t, QStringLiteral("MMM d hh:mm:ss yyyy"))
               .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
           QStringLiteral(" UTC");
}

} // namespace

class TestInspection : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;
    QString example, changed; // two builds of the example, the second with one script line changed
    ScriptApi api;

    Inspection inspect(const QString &file) { return Inspection::of(ImageFile::fromFile(file), &api); }

private slots:
    void initTestCase()
    {
        QVERIFY(api.load(QStringLiteral(NW_SDK_DIR "/api/wifiapi.xml")));
        example = scratch.filePath("a");
        changed = scratch.filePath("b");
        QVERIFY(buildExample(example));
        QVERIFY(buildExample(changed, "ticks = ticks + 2"));
    }

    void exampleIsSound_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("raw") << "wifi.dfu";
        QTest::newRow("hex") << "wifi.hex";
    }

    void exampleIsSound()
    {
        QFETCH(QString, file);
        const Inspection i = inspect(example + '/' + file);
        QVERIFY2(i.problems.isEmpty(), qPrintable(i.problems.join('\n')));
        QVERIFY(i.accepted);
        QCOMPARE(i.json.value("sections").toArray().size(), 6);
        for (const QJsonValue &s : i.json.value("sections").toArray())
            QVERIFY(s.toObject().value("crc_ok").toBool());
        // Both files hold the same program flash.
        QCOMPARE(ImageFile::fromFile(example + "/wifi.hex").flash, readFile(example + "/wifi.dfu"));
    }

    void extractedFilesEqualTheProjects()
    {
        QTemporaryDir out;
        QStringList messages;
        QVERIFY2(extractFiles(ImageFile::fromFile(example + "/wifi.dfu"), out.path(), messages),
                 qPrintable(messages.join('\n')));
        QCOMPARE(readFile(out.filePath("index.html")), readFile(example + "/files/index.html"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"index.html"});
    }

    void certificateEqualsOpenssl()
    {
        const QString pem = example + "/certs/server.pem", der = scratch.filePath("server.der");
        openssl({"x509", "-in", pem, "-outform", "der", "-out", der});
        const QStringList md5 = openssl({"dgst", "-md5", "-r", der});
        QVERIFY(!md5.isEmpty());
        const QStringList info =
            openssl({"x509", "-in", pem, "-noout", "-subject", "-issuer", "-startdate", "-enddate"});
        QCOMPARE(info.size(), 4);
        const QJsonObject c =
            inspect(example + "/wifi.dfu").json.value("certificates").toArray().at(0).toObject();
        QCOMPARE(c.value("md5").toString(), md5.first().section(' ', 0, 0));
        QVERIFY(c.value("md5_matches").toBool());
        QCOMPARE(c.value("subject").toString(), info[0].section('=', 1).trimmed());
        QCOMPARE(c.value("issuer").toString(), info[1].section('=', 1).trimmed());
        QCOMPARE(c.value("not_before").toString(), opensslTime(info[2]));
        QCOMPARE(c.value("not_after").toString(), opensslTime(info[3]));
    }

    void hardwareEqualsTheHardwareFile()
    {
        QDomDocument doc;
        const QDomElement root = xmlRoot(example + "/hardware.xml", doc);
        const QJsonObject hw = inspect(example + "/wifi.dfu").json.value("hardware").toObject();
        int checked = 0;
        for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement(), ++checked) {
            const QString tag = e.tagName();
            if (tag == "uart") {
                const QJsonObject u = hw.value("uart").toArray().at(0).toObject();
                QCOMPARE(u.value("channel").toInt(), e.attribute("channel").toInt());
                QCOMPARE(u.value("baud").toInt(), e.attribute("baud").toInt());
                QCOMPARE(u.value("handshake").toBool(), e.attribute("handshake") == "true");
                QCOMPARE(u.value("api").toBool(), e.attribute("api") == "true");
            } else if (tag == "port") {
                const QJsonObject p =
                    hw.value("ports").toArray().at(e.attribute("index").toInt() - 1).toObject();
                QCOMPARE(number(p.value("tristate").toString()), number(e.attribute("tristate")));
                QCOMPARE(number(p.value("latch").toString()), number(e.attribute("latch")));
            } else if (tag == "timer") {
                const QJsonObject t = hw.value("timer").toArray().at(0).toObject();
                QCOMPARE(t.value("index").toInt(), e.attribute("index").toInt());
                QCOMPARE(t.value("prescale").toInt(), e.attribute("prescale").toInt());
                // A 16-bit timer keeps the period's low half.
                QCOMPARE(number(t.value("period").toString()), number(e.attribute("period")) & 0xFFFF);
            } else if (tag == "adc") {
                QCOMPARE(number(hw.value("adc").toObject().value("enabled_pins").toString()),
                         number(e.attribute("enabled_pins")));
            } else if (tag == "sleep") {
                const QJsonObject s = hw.value("sleep").toObject();
                QCOMPARE(s.value("delay").toInt(), e.attribute("delay").toInt());
                QCOMPARE(number(s.value("interrupts").toString()), number(e.attribute("interrupts")));
                QCOMPARE(s.value("wdt_wakeup").toBool(), e.attribute("wdt_wakeup") == "true");
            } else if (tag == "usb") {
                QVERIFY(hw.value("usb").toObject().value("enabled").toBool());
                QCOMPARE(hw.value("usb").toObject().value("api").toBool(), e.attribute("api") == "true");
            } else {
                QFAIL(
                    qPrintable("the example's hardware file has an element the test does not check: " + tag));
            }
        }
        QCOMPARE(checked, 6);
    }

    void usbEqualsTheUsbFile()
    {
        QDomDocument doc;
        const QDomElement root = xmlRoot(example + "/usb.xml", doc);
        const QJsonObject usb = inspect(example + "/wifi.dfu").json.value("usb").toObject();
        const QDomElement device = root.firstChildElement("device");
        const QJsonObject d = usb.value("device").toObject();
        for (const char *a :
             {"bcdUSB", "bDeviceClass", "bMaxPacketSize", "idVendor", "idProduct", "bcdDevice"})
            QCOMPARE(number(d.value(a).toString(), 16), number(device.attribute(a), 16));
        for (const char *a : {"iManufacturer", "iProduct", "iSerialNumber"})
            QCOMPARE(d.value(a).toString(), device.attribute(a));
        const QDomElement config = device.firstChildElement("configuration");
        const QJsonObject c = usb.value("configurations").toArray().at(0).toObject();
        QCOMPARE(c.value("iConfiguration").toString(), config.attribute("iConfiguration"));
        QCOMPARE(number(c.value("bMaxPower").toString(), 16), number(config.attribute("bMaxPower"), 16));
        const QDomElement iface = device.firstChildElement("interface");
        const QJsonObject i = c.value("interfaces").toArray().at(0).toObject();
        QCOMPARE(i.value("iInterface").toString(), iface.attribute("iInterface"));
        QCOMPARE(number(i.value("bInterfaceClass").toString(), 16),
                 number(iface.attribute("bInterfaceClass"), 16));
        const QJsonObject desc = i.value("descriptors").toArray().at(0).toObject();
        QCOMPARE(number(desc.value("Type").toString(), 16),
                 number(iface.firstChildElement("descriptor").attribute("Type"), 16));
        QCOMPARE(desc.value("data").toString(), iface.firstChildElement("descriptor").text().simplified());
        const QJsonArray endpoints = i.value("endpoints").toArray();
        int n = 0;
        for (QDomElement e = iface.firstChildElement("endpoint"); !e.isNull();
             e = e.nextSiblingElement("endpoint"), ++n) {
            const QJsonObject ep = endpoints.at(n).toObject();
            for (const char *a : {"bEndpointAddress", "bmAttributes", "wMaxPacketSize", "bInterval"})
                QCOMPARE(number(ep.value(a).toString(), 16), number(e.attribute(a), 16));
        }
        QCOMPARE(endpoints.size(), n);
    }

    void bootConfigurationEqualsTheProject()
    {
        QDomDocument doc;
        const QDomElement boot = xmlRoot(example + "/project.xml", doc).firstChildElement("bootloader");
        const QJsonObject b = inspect(example + "/wifi.hex").json.value("boot").toObject();
        QCOMPARE(b.value("WDTPS").toInt(), boot.attribute("WDTPS").toInt());
        QCOMPARE(b.value("oscillator").toInt(), boot.attribute("oscillator").toInt());
        QCOMPARE(b.value("default_mac").toString(), boot.attribute("default_mac"));
        QCOMPARE(b.value("watchdog_period").toString(), QStringLiteral("8.192 s"));
        QVERIFY(b.value("fallback_hardware").toString().contains("equal to the hardware section"));
        QVERIFY(!inspect(example + "/wifi.dfu").json.contains("boot"));
    }

    void diffNamesOnlyTheScript()
    {
        const ImageFile a = ImageFile::fromFile(example + "/wifi.dfu"),
                        b = ImageFile::fromFile(changed + "/wifi.dfu");
        const ImageDiff d = diffImages(a, b, &api);
        QCOMPARE(d.differing, QStringList{"script"});
        const QString text = d.text.join('\n');
        // The changed line paired with its new self, and only it marked.
        QVERIFY(text.contains(QRegularExpression("\\n  32BIT 1 +\\| 32BIT 2\\n")));
        QCOMPARE(text.count(QRegularExpression(" [|<>] ")), 1);
        QVERIFY(diffImages(a, ImageFile::fromFile(example + "/wifi.hex"), &api).same());
        // The program says the same through its exit status.
        QCOMPARE(run(NW_INSPECT, {"--diff", example + "/wifi.dfu", changed + "/wifi.hex"}).status, 1);
        QCOMPARE(run(NW_INSPECT, {"--diff", example + "/wifi.dfu", example + "/wifi.hex"}).status, 0);
    }

    void damagedImages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<bool>("accepted");
        const QByteArray good = readFile(example + "/wifi.dfu");
        auto record = [&](Record r, int field) { return int(recordOffset(r)) + 4 * field; };
        auto with = [&](int at, quint32 v) {
            QByteArray b = good;
            putLe32(b, at, v);
            return b;
        };
        QTest::newRow("truncated") << good.left(300000) << "cut short" << false;
        QTest::newRow("one byte long") << good + 'x' << "512001 bytes" << false;
        QByteArray script = good;
        const int at = int(readLe32(good, record(Script, 0)) + 20);
        script[at] = char(script[at] ^ 0x5A);
        QTest::newRow("wrong script CRC") << script << "script: CRC-32 is" << true;
        QByteArray software = good;
        software[100] = char(software[100] ^ 1);
        QTest::newRow("wrong software CRC") << software << "software: CRC-32 is" << false;
        QTest::newRow("files past the table")
            << with(record(Files, 1), 600000) << "files: 600000 bytes" << true;
        QTest::newRow("files at a huge offset") << with(record(Files, 0), 0xFFFFFFF0) << "reach past" << true;
        QTest::newRow("overlapping") << with(record(Script, 0), readLe32(good, record(Hardware, 0)))
                                     << "overlaps the hardware section" << true;
        QTest::newRow("usb address") << with(record(Usb, 0), 0x12345678) << "not in program flash" << true;
        QTest::newRow("layout version")
            << with(int(tableOffset + versionOffsetInTable), 4) << "layout version 4" << true;
        QTest::newRow("empty") << QByteArray() << "cut short" << false;
    }

    void damagedImages()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, problem);
        QFETCH(bool, accepted);
        const Inspection i = Inspection::of(ImageFile::fromBytes(bytes, "damaged"), &api);
        QVERIFY2(i.problems.join('\n').contains(problem), qPrintable(i.problems.join('\n')));
        QCOMPARE(i.accepted, accepted);
        // What is intact is still shown.
        if (bytes.size() >= flashSize) QVERIFY(i.json.contains("hardware"));
    }

    void damagedHex_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("problem");
        const QByteArray good = readFile(example + "/wifi.hex");
        QList<QByteArray> lines = good.split('\n');
        lines.removeAll(QByteArray());
        // Line 3 onwards: boot code at 0x1fc00000; the program flash follows the boot flash's records.
        const int flashLine = lines.indexOf(":020000041d00dd") + 1;
        QVERIFY(flashLine > 0);
        auto join = [](const QList<QByteArray> &l) { return l.join('\n') + '\n'; };
        QList<QByteArray> l = lines;
        l[flashLine].chop(2);
        l[flashLine] += l[flashLine].endsWith("00") ? "01" : "00";
        QTest::newRow("bad checksum") << join(l) << "bad checksum, record skipped";
        l = lines;
        l.insert(flashLine + 1, lines[flashLine]);
        QTest::newRow("overlapping records") << join(l) << "was already written";
        l = lines;
        l.removeAt(flashLine + 5);
        QTest::newRow("missing record") << join(l) << "program flash: 16 bytes have no record";
        l = lines;
        l.removeLast();
        QTest::newRow("no end record") << join(l) << "end-of-file record is missing";
        l = lines;
        l.insert(5, "hello");
        QTest::newRow("not a record") << join(l) << "line 6 is not a HEX record";
        QTest::newRow("cut in half") << good.left(good.size() / 2) << "have no record";
        l = lines;
        l.insert(0, ":020000040000fa");
        l.insert(1, ":0100000011ee");
        QTest::newRow("outside the flash") << join(l) << "lies outside boot and program flash";
    }

    void damagedHex()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, problem);
        const ImageFile image = ImageFile::fromBytes(text, "damaged.hex");
        QVERIFY(image.hex);
        QVERIFY(image.readable);
        const Inspection i = Inspection::of(image, &api);
        QVERIFY2(i.problems.join('\n').contains(problem), qPrintable(i.problems.join('\n')));
        QVERIFY(i.json.contains("boot"));
    }

    void hostileFileNames()
    {
        QByteArray files;
        addFile(files, "ok.txt", "fine");
        addFile(files, "../evil", "x");
        addFile(files, "/etc/evil", "x");
        addFile(files, "a\x1b[2Jb", "x");
        addFile(files, "sub/ok2.txt", "also fine");
        addFile(files, "sub/../../evil2", "x");
        addFile(files, "link/evil3", "x");
        addFile(files, "p%1q%2", "percent");
        files.append('\0');
        const QByteArray bytes = makeImage({{Software, QByteArray(64, 'S')},
                                            {Hardware, QByteArray(130, 0)},
                                            {Script, QByteArray(8, 0)},
                                            {Files, files},
                                            {Certificates, QByteArray(1, 0)}});
        const ImageFile image = ImageFile::fromBytes(bytes, "hostile");
        const Inspection i = Inspection::of(image, &api);
        const QString problems = i.problems.join('\n');
        QVERIFY(problems.contains("\"../evil\": the name climbs out"));
        QVERIFY(problems.contains("\"/etc/evil\": the name is an absolute path"));
        // The escape character never reaches the output as it is.
        QVERIFY(problems.contains("\"a\\x1b[2Jb\": the name holds control characters"));
        QVERIFY(!i.text.join('\n').contains(QChar(0x1b)));
        QVERIFY(i.text.contains("  /p%1q%2  7 bytes"));
        QVERIFY(!QJsonDocument(i.json).toJson().contains('\x1b'));

        QTemporaryDir root;
        const QString out = root.filePath("out");
        QDir().mkpath(out);
        // A link inside the folder that leads out of it.
        QVERIFY(QFile::link(root.filePath("elsewhere"), out + "/link"));
        QDir().mkpath(root.filePath("elsewhere"));
        QStringList messages;
        QVERIFY(!extractFiles(image, out, messages));
        QCOMPARE(readFile(out + "/ok.txt"), QByteArray("fine"));
        QCOMPARE(readFile(out + "/sub/ok2.txt"), QByteArray("also fine"));
        QCOMPARE(readFile(out + "/p%1q%2"), QByteArray("percent"));
        QCOMPARE(messages.filter("refused").size(), 5);
        QVERIFY(!QFile::exists(root.filePath("evil")) && !QFile::exists(root.filePath("evil2")));
        QVERIFY(QDir(root.filePath("elsewhere")).isEmpty());
    }

    void damagedBlocks_data()
    {
        QTest::addColumn<QByteArray>("files");
        QTest::addColumn<QByteArray>("certificates");
        QTest::addColumn<QString>("problem");
        QByteArray longFile;
        addFile(longFile, "a", "abc");
        putLe32(longFile, 4, 1000);
        QTest::newRow("file past the block")
            << longFile + '\0' << QByteArray(1, 0) << "runs past the block's end";
        QTest::newRow("files without end")
            << QByteArray() << QByteArray(1, 0) << "files: the block ends without";
        QByteArray cert = QByteArray(1, 16) + QByteArray(16, 'm');
        QByteArray length(4, 0);
        putLe32(length, 0, 5);
        QTest::newRow("certificate not X.509")
            << QByteArray(1, 0) << cert + length + "hello" + '\0' << "not a readable X.509 certificate";
        QTest::newRow("certificate MD5 wrong")
            << QByteArray(1, 0) << cert + length + "hello" + '\0' << "does not match its DER";
        putLe32(length, 0, 0x7FFFFFFF);
        QTest::newRow("certificate past the block")
            << QByteArray(1, 0) << cert + length + '\0' << "runs past the block's end";
        QTest::newRow("digest not MD5")
            << QByteArray(1, 0) << QByteArray(1, 20) + QByteArray(30, 0) << "20-byte digest";
    }

    void damagedBlocks()
    {
        QFETCH(QByteArray, files);
        QFETCH(QByteArray, certificates);
        QFETCH(QString, problem);
        const QByteArray bytes = makeImage({{Software, QByteArray(64, 'S')},
                                            {Hardware, QByteArray(130, 0)},
                                            {Script, QByteArray(8, 0)},
                                            {Files, files},
                                            {Certificates, certificates}});
        const Inspection i = Inspection::of(ImageFile::fromBytes(bytes, "blocks"), &api);
        QVERIFY2(i.problems.join('\n').contains(problem), qPrintable(i.problems.join('\n')));
        QVERIFY(i.accepted);
    }

    // Each peripheral through kirrup and back: the values read back are the hardware file's.
    void hardwareRoundTrip_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QStringList>("expected"); // path=value, the path through the JSON
        QTest::newRow("uart 1, 9600, even, 2 stop bits")
            << "<uart channel=\"1\" baud=\"9600\" parity=\"even\" stopbits=\"2\"/>"
            << QStringList{"uart/0/channel=1",  "uart/0/baud=9600",       "uart/0/parity=even",
                           "uart/0/stopbits=2", "uart/0/high_speed=true", "uart/0/handshake=false",
                           "uart/0/api=false"};
        QTest::newRow("spi 4, slave")
            << "<spi channel=\"4\" divisor=\"7\" mode=\"slave\" slave_select=\"true\" "
               "clock_idle_polarity=\"high\" clock_edge=\"1\" api=\"true\"/>"
            << QStringList{"spi/0/channel=4",
                           "spi/0/divisor=7",
                           "spi/0/mode=slave",
                           "spi/0/slave_select=true",
                           "spi/0/clock_idle_polarity=high",
                           "spi/0/clock_edge=1",
                           "spi/0/api=true"};
        QTest::newRow("spi 4, slave, idle high")
            << "<spi channel=\"4\" mode=\"slave\" clock_idle_polarity=\"high\"/>"
            << QStringList{"spi/0/mode=slave", "spi/0/slave_select=false", "spi/0/clock_idle_polarity=high"};
        QTest::newRow("spi 3, master")
            << "<spi channel=\"3\" slave_select=\"true\"/>"
            << QStringList{"spi/0/mode=master", "spi/0/divisor=15", "spi/0/slave_select=true",
                           "spi/0/clock_idle_polarity=low", "spi/0/clock_edge=0"};
        QTest::newRow("i2c 3") << "<i2c channel=\"3\" brg=\"100\"/>"
                               << QStringList{"i2c/0/channel=3", "i2c/0/brg=100"};
        QTest::newRow("timer 4, 32 bits")
            << "<timer index=\"4\" prescale=\"8\" bits=\"32\" clock_source=\"external\" "
               "period=\"0x12345678\"/>"
            << QStringList{"timer/0/index=4", "timer/0/prescale=8", "timer/0/bits=32",
                           "timer/0/clock_source=external", "timer/0/period=0x12345678"};
        QTest::newRow("notify") << "<notify port=\"4\" bit=\"5\"/>"
                                << QStringList{"notify/port=4", "notify/bit=5"};
        QTest::newRow("sdhc") << "<sdhc enable=\"1\" spi_port=\"4\" cs_port=\"2\" cs_pin=\"14\"/>"
                              << QStringList{"sdhc/enable=1", "sdhc/spi_port=4", "sdhc/cs_port=2",
                                             "sdhc/cs_pin=14"};
        QTest::newRow("sleep") << "<sleep interrupts=\"0x1c\"/>"
                               << QStringList{"sleep/interrupts=0x1c", "sleep/delay=none",
                                              "sleep/wdt_wakeup=true"};
        QTest::newRow("ethernet") << "<ethernet enable=\"1\"/>" << QStringList{"ethernet/enable=1"};
        QTest::newRow("port latch and open drain")
            << "<port index=\"6\" tristate=\"0xff00\" latch=\"0x0f\" open_drain=\"0x3\"/>"
            << QStringList{"ports/5/port=G", "ports/5/tristate=0xff00", "ports/5/latch=0xf",
                           "ports/5/open_drain=0x3"};
    }

    void hardwareRoundTrip()
    {
        QFETCH(QString, element);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("project.xml"),
                          ("<project><hardware>" + element + "</hardware></project>").toUtf8()));
        const Run r = run(NW_KIRRUP, {"project.xml", NW_SDK_DIR, NW_TOLLAN}, dir.path());
        QVERIFY2(r.status == 0, r.out + r.err);
        const QJsonObject hw = inspect(dir.filePath("wifi.dfu")).json.value("hardware").toObject();
        for (const QString &e : expected) {
            QJsonValue v = hw;
            for (const QString &step : e.section('=', 0, 0).split('/')) {
                bool index = false;
                const int n = step.toInt(&index);
                v = index ? v.toArray().at(n) : v.toObject().value(step);
            }
            const QString got = v.isBool()     ? (v.toBool() ? "true" : "false")
                                : v.isDouble() ? QString::number(qint64(v.toDouble()))
                                               : v.toString();
            QVERIFY2(got == e.section('=', 1), qPrintable(e + ", read back " + got));
        }
    }

    // USB blocks that do not hold together: what reads is shown, the fault named.
    void damagedUsb_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("product");
        // A device descriptor naming string 2, then the language list and two strings ("A", "Bc").
        const QByteArray device = QByteArray::fromHex("1201000200000040f0ff0003000101020300");
        const QByteArray strings = QByteArray::fromHex("04030904"
                                                       "04034100"
                                                       "0603420063 00");
        QTest::newRow("sound") << device + strings + '\0' << ""
                               << "Bc";
        QTest::newRow("no closing byte") << device + strings << "ends without its closing 0 byte"
                                         << "Bc";
        QTest::newRow("descriptor past the end") << device + QByteArray::fromHex("ff03") << "cut short"
                                                 << "(string 2 missing)";
        QTest::newRow("length one") << device + QByteArray::fromHex("0103") << "cut short"
                                    << "(string 2 missing)";
    }

    void damagedUsb()
    {
        QFETCH(QByteArray, block);
        QFETCH(QString, problem);
        QFETCH(QString, product);
        const QByteArray bytes = makeImage({{Software, QByteArray(64, 'S')},
                                            {Hardware, QByteArray(130, 0)},
                                            {Script, QByteArray(8, 0)},
                                            {Files, QByteArray(1, 0)},
                                            {Certificates, QByteArray(1, 0)},
                                            {Usb, block}});
        const Inspection i = Inspection::of(ImageFile::fromBytes(bytes, "usb"), &api);
        const QJsonObject device = i.json.value("usb").toObject().value("device").toObject();
        QCOMPARE(device.value("idVendor").toString(), QStringLiteral("fff0"));
        QCOMPARE(device.value("iProduct").toString(), product);
        if (problem.isEmpty())
            QVERIFY2(i.problems.isEmpty(), qPrintable(i.problems.join('\n')));
        else
            QVERIFY2(i.problems.filter(QRegularExpression("^usb: .*" + QRegularExpression::escape(problem)))
                             .size() == 1,
                     qPrintable(i.problems.join('\n')));
    }

    // The short account the upload pages show.
    void summary()
    {
        const ImageSummary good = ImageSummary::of(example + "/wifi.dfu", &api);
        QVERIFY(good.accepted);
        QCOMPARE(good.verdict, QStringLiteral("valid"));
        QCOMPARE(good.events, (QStringList{"system_boot", "hardware_soft_timer"}));
        QCOMPARE(good.fileCount, 1);
        QCOMPARE(good.hardware, qint64(130));
        QCOMPARE(good.certificateSubjects, QStringList{"C = FI, O = NW300 Example, CN = nw300.example"});
        QCOMPARE(good.oneLine(),
                 QStringLiteral("wifi.dfu: valid; software %1 bytes, script %2 bytes (2 events), 1 files, "
                                "1 certificates")
                     .arg(good.software)
                     .arg(good.script));
        QByteArray bad = readFile(example + "/wifi.dfu");
        bad[10] = char(bad[10] ^ 0xFF);
        QVERIFY(writeFile(scratch.filePath("bad.dfu"), bad));
        const ImageSummary refused = ImageSummary::of(scratch.filePath("bad.dfu"), &api);
        QVERIFY(!refused.accepted);
        QVERIFY(refused.lines().first().startsWith("Not accepted: the software block's CRC-32"));
        QVERIFY(ImageSummary::of(scratch.filePath("none.dfu"), &api).verdict.startsWith("cannot open"));
        // A device that never ends is refused, not read into memory without bound.
        QVERIFY(ImageSummary::of("/dev/zero", &api).verdict.contains("larger than any image file"));
    }

    // The program: status by soundness, JSON that parses, usage errors with status 2.
    void commandLine()
    {
        const Run text = run(NW_INSPECT, {example + "/wifi.hex"});
        QCOMPARE(text.status, 0);
        QVERIFY(text.out.contains("hardware_soft_timer:"));
        const Run json = run(NW_INSPECT, {"--json", example + "/wifi.dfu"});
        QCOMPARE(json.status, 0);
        QJsonParseError error;
        QJsonDocument::fromJson(json.out, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const Run missing = run(NW_INSPECT, {scratch.filePath("missing.dfu")});
        QCOMPARE(missing.status, 1);
        QVERIFY(missing.out.contains("cannot open"));
        const Run usage = run(NW_INSPECT, {});
        QCOMPARE(usage.status, 2);
        QVERIFY(usage.err.contains("Try 'nwinspect --help'"));
        QCOMPARE(run(NW_INSPECT, {"--diff", example + "/wifi.dfu"}).status, 2);
        QCOMPARE(run(NW_INSPECT, {"-a", scratch.filePath("none.xml"), example + "/wifi.dfu"}).status, 2);
        const QString out = scratch.filePath("extracted");
        QCOMPARE(run(NW_INSPECT, {"--extract", out, example + "/wifi.dfu"}).status, 0);
        QCOMPARE(readFile(out + "/index.html"), readFile(example + "/files/index.html"));
    }
};

NW_TEST(TestInspection)
#include "tst_inspection.moc"
