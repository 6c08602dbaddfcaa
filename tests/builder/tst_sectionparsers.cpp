#include "builderfixtures.h"
#include "testmain.h"

#include "bootparser.h"
#include "certificateparser.h"
#include "console.h"
#include "fileparser.h"
#include "softwareparser.h"

#include <QProcess>
#include <QtTest>

using namespace fixtures;

namespace
{

bool run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (8 * i));
    return b;
}

} // namespace

class SectionParsersTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_certs;
    QByteArray m_der;
    QByteArray m_md5;

private slots:
    void initTestCase()
    {
        // The certificate, its DER form and its MD5 come from openssl, not from the code under test.
        const QString pem = m_certs.filePath("cert.pem");
        const QString der = m_certs.filePath("cert.der");
        const QString md5 = m_certs.filePath("cert.md5");
        QVERIFY(
            run("openssl", {"req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout",
                            m_certs.filePath("key.pem"), "-days", "1", "-subj", "/CN=test", "-out", pem}));
        QVERIFY(run("openssl", {"x509", "-in", pem, "-outform", "der", "-out", der}));
        QVERIFY(run("openssl", {"dgst", "-md5", "-binary", "-out", md5, der}));
        m_der = readFile(der);
        m_md5 = readFile(md5);
        QCOMPARE(m_md5.size(), 16);

        // The same certificate in the other shapes files come in.
        const QByteArray text = readFile(pem);
        const QByteArray begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
        QByteArray crlf = text;
        QByteArray spaced = text;
        QByteArray x509 = text;
        QVERIFY(writeFile(m_certs.filePath("crlf.pem"), crlf.replace("\n", "\r\n")));
        QVERIFY(writeFile(m_certs.filePath("notes.pem"), "Subject: test\n" + text + "notes after\n"));
        QVERIFY(writeFile(m_certs.filePath("spaces.pem"), spaced.replace(begin + "\n", begin + "   \n")));
        QVERIFY(writeFile(m_certs.filePath("bad-then-good.pem"), begin + "\nAAAA\n" + end + "\n" + text));
        QVERIFY(writeFile(m_certs.filePath("trailing.der"), m_der + "more bytes"));
        QVERIFY(writeFile(m_certs.filePath("x509.pem"), x509.replace(" CERTIFICATE", " X509 CERTIFICATE")));
        QVERIFY(writeFile(m_certs.filePath("glued.pem"), text.trimmed() + "glued\n"));
    }

    // ---- software

    void softwareFallsBackToSdkRoot()
    {
        ScratchDir project;
        QTemporaryDir sdk;
        QVERIFY(writeFile(sdk.filePath("fw/wifi.juo"), "sdk default"));
        QVERIFY(writeFile(sdk.filePath("fw/other.juo"), "sdk other"));
        QVERIFY(writeFile(project.file("fw/other.juo"), "project other"));

        struct Case {
            const char *xml;
            QByteArray block;
        } cases[] = {
            {"<software/>", "sdk default"},
            {"<software><binary in='fw/other.juo'/></software>", "project other"},
            {"<software><binary in='fw/other.juo'/><binary in='fw/wifi.juo'/></software>", "sdk default"},
        };
        for (const Case &c : cases) {
            Console console;
            SoftwareParser parser(console, sdk.path());
            QByteArray out;
            QVERIFY(parser.parse(Xml(c.xml).root(), out));
            QCOMPARE(out, c.block);
        }
        Console console;
        SoftwareParser parser(console, sdk.path());
        QByteArray out;
        QVERIFY(parser.parse(QDomElement(), out));
        QCOMPARE(out, QByteArray("sdk default"));
        QCOMPARE(console.capturedOut(), QString(" in         :fw/wifi.juo\n"));

        QFile::remove(project.file("fw/other.juo"));
        QVERIFY(parser.parse(Xml("<software><binary in='fw/other.juo'/></software>").root(), out));
        QCOMPARE(out, QByteArray("sdk other"));

        Console missing;
        SoftwareParser p2(missing, sdk.path());
        QVERIFY(!p2.parse(Xml("<software><binary in='fw/none.juo'/></software>").root(), out));
        QCOMPARE(missing.capturedOut(), " in         :fw/none.juo\nUnable to open:" +
                                            QDir(sdk.path()).filePath("fw/none.juo") + "\n");
        // An absolute path is never looked up under the SDK root.
        Console absolute;
        SoftwareParser p3(absolute, sdk.path());
        QVERIFY(!p3.parse(Xml("<software><binary in='/fw/wifi.juo'/></software>").root(), out));
        QVERIFY(absolute.capturedOut().endsWith("Unable to open:/fw/wifi.juo\n"));
    }

    // ---- files

    void filesExample()
    {
        ScratchDir dir;
        QVERIFY(writeFile("data/a.txt", "hello"));
        QVERIFY(writeFile("data/b.bin", "xyz"));
        Console console;
        FileParser parser(console);
        QByteArray out;
        QVERIFY(parser.parse(Xml("<files><file path='data/a.txt' include_path='false'/><other/>"
                                 "<file path='data/b.bin' include_path='yes'/></files>")
                                 .root(),
                             out));
        // 6 "/a.txt" 0 (8 bytes), size 5, "hello" ends at 17; then 11 "/data/b.bin" 0 ends at 30,
        // padded to 32 from the block start, size 3, "xyz", the closing 0.
        const QByteArray expected = QByteArray("\x06/a.txt\0", 8) + le32(5) + "hello" +
                                    QByteArray("\x0b/data/b.bin\0\0\0", 15) + le32(3) + "xyz" +
                                    QByteArray(1, '\0');
        QCOMPARE(out.toHex(' '), expected.toHex(' '));
        QCOMPARE(console.capturedOut(), QString("FILE  :a.txt  size:5\nFILE  :data/b.bin  size:3\n"));
    }

    void filesEdgeCases()
    {
        ScratchDir dir;
        QVERIFY(writeFile(QString::fromUtf8("\xc3\xa4.txt"), "1"));
        QVERIFY(writeFile("empty.txt", ""));
        Console console;
        FileParser parser(console);
        QByteArray out;
        QVERIFY(parser.parse(QDomElement(), out));
        QCOMPARE(out, QByteArray(1, '\0'));

        // The length byte counts the stored UTF-8 bytes: "/" and 6 bytes.
        QVERIFY(
            parser.parse(Xml(QString::fromUtf8("<files><file path='\xc3\xa4.txt'/></files>")).root(), out));
        QCOMPARE(out.toHex(' '), (QByteArray("\x07/\xc3\xa4.txt\0", 9) + QByteArray(3, '\0') + le32(1) + "1" +
                                  QByteArray(1, '\0'))
                                     .toHex(' '));

        struct Case {
            const char *xml;
            QString err;
        } cases[] = {
            {"<files><file/></files>", "Expected path for file\n"},
            {"<files><file path='nope.txt'/></files>", "Unable to open file:nope.txt\n"},
            {"<files><file path='empty.txt'/></files>", "Read error while reading file:empty.txt\n"},
        };
        for (const Case &c : cases) {
            Console failing;
            FileParser p(failing);
            QVERIFY(!p.parse(Xml(c.xml).root(), out));
            QCOMPARE(failing.capturedErr(), c.err);
        }
    }

    // ---- certificates

    void certificates_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("format");
        QTest::newRow("pem, default format") << "cert.pem"
                                             << "";
        QTest::newRow("pem, any other format word") << "cert.pem"
                                                    << "format='x509'";
        QTest::newRow("der") << "cert.der"
                             << "format='der'";
        QTest::newRow("pem with CRLF line ends") << "crlf.pem"
                                                 << "";
        QTest::newRow("pem with text around it") << "notes.pem"
                                                 << "";
        QTest::newRow("pem with spaces after the marker") << "spaces.pem"
                                                          << "";
        QTest::newRow("pem whose first block does not decode") << "bad-then-good.pem"
                                                               << "";
        QTest::newRow("der with bytes after it") << "trailing.der"
                                                 << "format='der'";
    }

    void certificates()
    {
        QFETCH(QString, file);
        QFETCH(QString, format);
        const QString path = m_certs.filePath(file);
        Console console;
        CertificateParser parser(console);
        QByteArray out;
        QVERIFY2(
            parser.parse(
                Xml("<certificates><certificate path='" + path + "' " + format + "/></certificates>").root(),
                out),
            qPrintable(console.capturedErr()));
        const QByteArray expected =
            QByteArray(1, char(16)) + m_md5 + le32(quint32(m_der.size())) + m_der + QByteArray(1, '\0');
        QCOMPARE(out.toHex(), expected.toHex());
        QCOMPARE(console.capturedOut(),
                 "CERT  :" + path + "  size:" + QString::number(QFileInfo(path).size()) + "\n");
    }

    void certificateFailures()
    {
        const QString der = m_certs.filePath("cert.der");
        struct Case {
            QString xml;
            QString err;
        } cases[] = {
            // Only the exact word "der" selects DER; "DER" reads the file as PEM and fails.
            {"<certificates><certificate path='" + der + "' format='DER'/></certificates>",
             "Unable to parse certificate file:" + der + "\n"},
            {"<certificates><certificate path='" + m_certs.filePath("key.pem") + "'/></certificates>",
             "Unable to parse certificate file:" + m_certs.filePath("key.pem") + "\n"},
            // Only the plain certificate markers, each on a line of its own.
            {"<certificates><certificate path='" + m_certs.filePath("x509.pem") + "'/></certificates>",
             "Unable to parse certificate file:" + m_certs.filePath("x509.pem") + "\n"},
            {"<certificates><certificate path='" + m_certs.filePath("glued.pem") + "'/></certificates>",
             "Unable to parse certificate file:" + m_certs.filePath("glued.pem") + "\n"},
            {"<certificates><certificate/></certificates>", "Expected path for file\n"},
            {"<certificates><certificate path='/no/such.pem'/></certificates>",
             "Unable to open file:/no/such.pem\n"},
        };
        for (const Case &c : cases) {
            Console console;
            CertificateParser parser(console);
            QByteArray out;
            QVERIFY(!parser.parse(Xml(c.xml).root(), out));
            QCOMPARE(console.capturedErr(), c.err);
        }
        Console console;
        CertificateParser parser(console);
        QByteArray out;
        QVERIFY(parser.parse(QDomElement(), out));
        QCOMPARE(out, QByteArray(1, '\0'));
    }

    // ---- bootloader

    void bootloader_data()
    {
        QTest::addColumn<QString>("attributes");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QByteArray>("mac");
        QTest::addColumn<int>("pll");
        QTest::addColumn<int>("wdt");
        QTest::newRow("WDTPS 13 only")
            << "WDTPS='13'"
            << " WDTPS      :13 (8.192s)\n F/UPLLIDIV :1 (8 MHz)\n default_mac:02a4c0ffffff\n"
            << QByteArray::fromHex("02a4c0ffffff") << 1 << 13;
        QTest::newRow("limits")
            << "WDTPS='0' oscillator='48' default_mac='0A0b0C0d0E0fextra'"
            << " WDTPS      :0 (0.001s)\n F/UPLLIDIV :7 (48 MHz)\n default_mac:0a0b0c0d0e0f\n"
            << QByteArray::fromHex("0a0b0c0d0e0f") << 7 << 0;
        QTest::newRow("20 and 4 MHz")
            << "WDTPS='20' oscillator='4'"
            << " WDTPS      :20 (1048.576s)\n F/UPLLIDIV :0 (4 MHz)\n default_mac:02a4c0ffffff\n"
            << QByteArray::fromHex("02a4c0ffffff") << 0 << 20;
    }

    void bootloader()
    {
        QFETCH(QString, attributes);
        QFETCH(QString, report);
        QFETCH(QByteArray, mac);
        QFETCH(int, pll);
        QFETCH(int, wdt);
        QTemporaryDir sdk;
        QByteArray image(12288, char(0xFF));
        // Upper bits that must survive the patches.
        image[0x2FF4] = char(0xA8);
        image[0x2FF5] = char(0x57);
        image[0x2FFA] = char(0xE0);
        QVERIFY(writeFile(sdk.filePath("fw/boot.juo"), image));

        Console console;
        BootParser parser(console, sdk.path());
        QByteArray out;
        QVERIFY2(parser.parse(Xml("<bootloader " + attributes + "/>").root(), out),
                 qPrintable(console.capturedErr()));
        QCOMPARE(console.capturedOut(),
                 "BOOTLOADER:\n in         :" + sdk.path() + "/fw/boot.juo\n" + report);
        QByteArray expected = image;
        expected.replace(1282, 6, mac);
        expected[0x2FF4] = char(0xA8 | pll);
        expected[0x2FF5] = char(0x50 | pll);
        expected[0x2FFA] = char(0xE0 | wdt);
        QCOMPARE(out.size(), 12288);
        QVERIFY(out == expected);
    }

    void bootloaderFailures_data()
    {
        QTest::addColumn<QString>("attributes");
        QTest::addColumn<QString>("err");
        QTest::newRow("oscillator 10") << "oscillator='10'"
                                       << "invalid oscillator:10\n";
        QTest::newRow("oscillator text") << "oscillator='8MHz'"
                                         << "failed to parse oscillator\n";
        QTest::newRow("WDTPS 21") << "WDTPS='21'"
                                  << "invalid postscaler:21\n";
        QTest::newRow("WDTPS -1") << "WDTPS='-1'"
                                  << "invalid postscaler:-1\n";
        QTest::newRow("WDTPS hex") << "WDTPS='0xd'"
                                   << "failed to parse WDTPS\n";
        QTest::newRow("MAC of 11 digits") << "default_mac='02a4c0fffff'"
                                          << "failed to parse MAC address\n";
        QTest::newRow("MAC not hex") << "default_mac='02a4c0ffffgg'"
                                     << "failed to parse MAC address\n";
        QTest::newRow("missing file") << "in='no/boot.juo'"
                                      << "Unable to open:no/boot.juo\n";
        QTest::newRow("short file") << "in='short.juo'"
                                    << "Bootloader image too short:short.juo\n";
    }

    void bootloaderFailures()
    {
        QFETCH(QString, attributes);
        QFETCH(QString, err);
        ScratchDir dir;
        QVERIFY(writeFile("short.juo", QByteArray(12287, char(0xFF))));
        Console console;
        BootParser parser(console, dir.path());
        QByteArray out;
        QVERIFY(!parser.parse(Xml("<bootloader " + attributes + "/>").root(), out));
        QCOMPARE(console.capturedErr(), err);
    }
};

NW_TEST(SectionParsersTest)

#include "tst_sectionparsers.moc"
