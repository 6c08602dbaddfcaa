#include "builderfixtures.h"
#include "testmain.h"

#include "console.h"
#include "intelhexwriter.h"
#include "projectbuilder.h"
#include "xmlfile.h"

#include "pty.h"

#include <QProcess>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <thread>

using namespace fixtures;

namespace
{

const int Table = 511924;

// A scratch project folder (the working directory) and an SDK folder with a firmware and an erased
// bootloader of its own.
class Workspace
{
public:
    explicit Workspace(const QByteArray &firmware = "FIRMWARE",
                       const QByteArray &boot = QByteArray(12288, char(0xFF)))
    {
        writeFile(sdk.filePath("fw/wifi.juo"), firmware);
        writeFile(sdk.filePath("fw/boot.juo"), boot);
    }

    int build(const QString &projectXml, const QString &compiler = "/nonexistent/tollan")
    {
        writeFile("project.xml", projectXml.toUtf8());
        return ProjectBuilder(console).buildProject("project.xml", compiler, sdk.path());
    }

    ScratchDir project;
    QTemporaryDir sdk;
    Console console;
};

struct Record {
    quint32 location, size, crc;
};

Record record(const QByteArray &image, int offset)
{
    return {word(image, Table + offset), word(image, Table + offset + 4), word(image, Table + offset + 8)};
}

bool objcopy(const QStringList &arguments)
{
    QProcess p;
    p.start("objcopy", arguments);
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

} // namespace

class ProjectBuilderTest : public QObject
{
    Q_OBJECT

private slots:
    void rootMustBeProject()
    {
        Workspace ws;
        QCOMPARE(ws.build("<Project><hardware/></Project>"), 1);
        QCOMPARE(ws.console.capturedErr(), QString("Do not know how to parse document type:Project\n"));
        QVERIFY(!QFile::exists("wifi.dfu"));
        QVERIFY(!QFile::exists("wifi.hex"));
    }

    void projectFileFailures()
    {
        Workspace ws;
        ProjectBuilder builder(ws.console);
        QCOMPARE(builder.buildProject("missing.xml", "tollan", ws.sdk.path()), 1);
        QCOMPARE(ws.console.capturedErr(), QString("Unable to open:missing.xml\n"));
        Console c2;
        writeFile("bad.xml", "<project>\n<hardware>\n</project>");
        QCOMPARE(ProjectBuilder(c2).buildProject("bad.xml", "tollan", ws.sdk.path()), 1);
        QVERIFY(c2.capturedErr().startsWith("Parsing bad.xml 3:"));
        QVERIFY(c2.capturedErr().contains(" xml failed:"));
        Console c3;
        writeFile("nohw.xml", "<project><software/></project>");
        QCOMPARE(ProjectBuilder(c3).buildProject("nohw.xml", "tollan", ws.sdk.path()), 1);
        QCOMPARE(c3.capturedErr(), QString("Failed to parse <hardware>\n"));
    }

    void onlyEmptyHardware()
    {
        Workspace ws("FIRMWARE");
        QCOMPARE(ws.build("<project><hardware/></project>"), 0);
        const QByteArray dfu = readFile("wifi.dfu");
        QCOMPARE(dfu.size(), 512000);

        // Firmware 8 bytes at 0; hardware 130 at 8, padded to 140; script 8 zeros at 140; files "\0" at
        // 148; certificates "\0" at 152; erased up to the table.
        QCOMPARE(dfu.left(8), QByteArray("FIRMWARE"));
        const QByteArray hardware = dfu.mid(8, 130);
        QCOMPARE(half(hardware, 31), 0xFFFFu);
        QCOMPARE(dfu.mid(138, 2), QByteArray(2, char(0xFF)));
        QCOMPARE(dfu.mid(140, 8), QByteArray(8, '\0'));
        QCOMPARE(dfu.mid(148, 4), QByteArray("\0\xff\xff\xff", 4));
        QCOMPARE(dfu.at(152), '\0');
        QCOMPARE(dfu.mid(153, Table - 153), QByteArray(Table - 153, char(0xFF)));

        const QByteArray one(1, '\0');
        const Record files = record(dfu, 0), certs = record(dfu, 12), script = record(dfu, 24),
                     usb = record(dfu, 36), hw = record(dfu, 48), sw = record(dfu, 60);
        QCOMPARE(files.location, 148u);
        QCOMPARE(files.size, 1u);
        QCOMPARE(files.crc, crc32Reference(one));
        QCOMPARE(certs.location, 152u);
        QCOMPARE(certs.crc, 0xD202EF8Du); // CRC-32 of one zero byte
        QCOMPARE(script.location, 140u);
        QCOMPARE(script.size, 8u);
        QCOMPARE(script.crc, crc32Reference(QByteArray(8, '\0')));
        QCOMPARE(usb.location, 0u);
        QCOMPARE(usb.size, 0u);
        QCOMPARE(usb.crc, 0u);
        QCOMPARE(hw.location, 8u);
        QCOMPARE(hw.size, 130u);
        QCOMPARE(hw.crc, crc32Reference(hardware));
        QCOMPARE(sw.location, 0u);
        QCOMPARE(sw.size, 8u);
        QCOMPARE(sw.crc, crc32Reference("FIRMWARE"));
        QCOMPARE(word(dfu, Table + 72), 5u);

        QVERIFY(ws.console.capturedOut().endsWith("\nMemory used:\nSW    :8\nHW    :130\nUSB   :0\nScript:8\n"
                                                  "Files :1\nCerts :1\nFree  :511852/512000(100%)\n"));
    }

    void placementPadsWithErasedBytes()
    {
        Workspace ws("12345");
        QCOMPARE(ws.build("<project><hardware/></project>"), 0);
        const QByteArray dfu = readFile("wifi.dfu");
        QCOMPARE(dfu.mid(5, 3), QByteArray(3, char(0xFF)));
        QCOMPARE(record(dfu, 48).location, 8u);
        QCOMPARE(record(dfu, 24).location, 140u);
    }

    void emptyFirmwareBlock()
    {
        Workspace ws("");
        QCOMPARE(ws.build("<project><hardware/></project>"), 0);
        const QByteArray dfu = readFile("wifi.dfu");
        const Record sw = record(dfu, 60);
        QCOMPARE(sw.location, 0u);
        QCOMPARE(sw.size, 0u);
        QCOMPARE(sw.crc, 0u);
        QCOMPARE(record(dfu, 48).location, 0u);
    }

    void memoryReport_data()
    {
        QTest::addColumn<qint64>("software");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<QString>("tail");
        QTest::newRow("100000") << qint64(100000 - 140) << true << "Free  :412000/512000(80%)\n";
        QTest::newRow("exactly full") << qint64(512000 - 140) << true << "Free  :0/512000(0%)\n";
        QTest::newRow("one byte over") << qint64(512001 - 140) << false
                                       << "Error, not enough flash.\nrequired:512001\nFlash   :512000\n";
        // 2560 bytes free is exactly half a percent: rounded up.
        QTest::newRow("half a percent") << qint64(512000 - 2560 - 140) << true << "Free  :2560/512000(1%)\n";
        QTest::newRow("just under half") << qint64(512000 - 2559 - 140) << true << "Free  :2559/512000(0%)\n";
    }

    void memoryReport()
    {
        QFETCH(qint64, software);
        QFETCH(bool, fits);
        QFETCH(QString, tail);
        ProjectBuilder::Sizes sizes;
        sizes.software = software;
        sizes.hardware = 130;
        sizes.script = 8;
        sizes.files = 1;
        sizes.certificates = 1;
        Console console;
        QCOMPARE(ProjectBuilder::printMemoryReport(console, sizes), fits);
        QCOMPARE(console.capturedOut(), "Memory used:\nSW    :" + QString::number(software) +
                                            "\nHW    :130\nUSB   :0\nScript:8\nFiles :1\nCerts :1\n" + tail);
    }

    void hexStructure()
    {
        Workspace ws;
        QCOMPARE(ws.build("<project><hardware/><image out='out/img.bin' out_hex='out/img.hex'/></project>"),
                 1);
        QDir().mkpath("out");
        QCOMPARE(ws.build("<project><hardware/><image out='out/img.bin' out_hex='out/img.hex'/></project>"),
                 0);
        const QList<QByteArray> lines = readFile("out/img.hex").split('\n');
        QCOMPARE(lines.last(), QByteArray()); // ends with a line feed
        QCOMPARE(lines.at(0), QByteArray(":020000041fc01b"));
        QVERIFY(lines.at(1).startsWith(":102ff000"));
        QCOMPARE(lines.at(2), QByteArray(":020000041fc01b"));
        QVERIFY(lines.at(3).startsWith(":10000000"));
        QCOMPARE(lines.at(lines.size() - 2), QByteArray(":00000001ff"));

        QStringList upper;
        for (const QByteArray &line : lines) {
            if (line.isEmpty()) continue;
            QVERIFY(line.startsWith(':'));
            QCOMPARE(line, line.toLower());
            const QByteArray bytes = QByteArray::fromHex(line.mid(1));
            QCOMPARE(bytes.size(), quint8(bytes.at(0)) + 5);
            QVERIFY(quint8(bytes.at(0)) <= 16);
            quint8 sum = 0;
            for (char b : bytes)
                sum += quint8(b);
            QCOMPARE(sum, quint8(0));
            if (bytes.at(3) == 4) upper << QString::fromLatin1(line.mid(9, 4));
        }
        QCOMPARE(upper, QStringList({"1fc0", "1fc0", "1d00", "1d01", "1d02", "1d03", "1d04", "1d05", "1d06",
                                     "1d07"}));
        // 1 + 767 records of boot flash, 32000 of program flash, 10 address records and the end.
        QCOMPARE(lines.size() - 1, 1 + 767 + 32000 + 10 + 1);
    }

    void hexSplitsChunksAtPageBoundaries()
    {
        // Not a layout of the module's images, but the writer must split a chunk that runs over a
        // 64 KiB boundary, and must not write an empty record when a chunk ends on one.
        const QByteArray data = QByteArray(8, char(0x11)) + QByteArray(8, char(0x22));
        IntelHexWriter crossing;
        crossing.addRegion(0xFFF8, data.constData(), data.size());
        crossing.finish();
        QCOMPARE(crossing.text(), QByteArray(":020000040000fa\n"
                                             ":08fff800111111111111111179\n"
                                             ":020000040001f9\n"
                                             ":080000002222222222222222e8\n"
                                             ":00000001ff\n"));
        IntelHexWriter ending;
        ending.addRegion(0x1234FFF0, data.constData(), data.size());
        QCOMPARE(ending.text(), QByteArray(":020000041234b4\n"
                                           ":10fff0001111111111111111222222222222222269\n"
                                           ":020000041235b3\n"));
    }

    void hexRegionsReadBack_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("size");
        QTest::newRow("one page, ending on the boundary") << 0x00000000u << 0x10000;
        QTest::newRow("odd start, over two boundaries") << 0x1D00FFF7u << 0x20013;
        QTest::newRow("last byte of a page") << 0x0000FFFFu << 1;
        QTest::newRow("chunks split at every boundary") << 0x1D000008u << 0x30000;
        QTest::newRow("configuration words") << 0x1FC02FF0u << 16;
    }

    void hexRegionsReadBack()
    {
        // The writer formats into memory reserved from maxRegionLength, so that bound must hold for
        // any alignment, and the records must carry the bytes back unchanged.
        QFETCH(quint32, address);
        QFETCH(int, size);
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = char((i * 131 + (i >> 8)) ^ 0x5A);
        IntelHexWriter hex;
        hex.addRegion(address, data.constData(), size);
        const int length = hex.text().size();
        QVERIFY2(length <= IntelHexWriter::maxRegionLength(address, size),
                 qPrintable(QString::number(length)));
        hex.finish();
        ScratchDir dir;
        QVERIFY(writeFile("region.hex", hex.text()));
        QVERIFY(objcopy({"-I", "ihex", "-O", "binary", "region.hex", "region.bin"}));
        QVERIFY(readFile("region.bin") == data);
    }

    void hexWriterGrowsWithoutReserve()
    {
        // Regions appended without reserving first: the text moves to larger memory and must come
        // out as the regions written one by one.
        QByteArray data(150000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i % 251);
        const quint32 addresses[] = {0x1FC02FF0, 0x1FC00000, 0x1D000000};
        const int sizes[] = {16, 0x2FF0, 150000};
        IntelHexWriter all;
        QByteArray expected;
        for (int r = 0; r < 3; ++r) {
            all.addRegion(addresses[r], data.constData(), sizes[r]);
            IntelHexWriter one;
            one.addRegion(addresses[r], data.constData(), sizes[r]);
            expected += one.text();
        }
        all.finish();
        expected += ":00000001ff\n";
        QVERIFY(all.text() == expected);
    }

    void certificatesPlacedInTheImage()
    {
        // The block is the one openssl derives: 16, MD5 of the DER form, its length, the DER bytes.
        Workspace ws("FW");
        const QString pem = QStringLiteral(NW_SOURCE_DIR "/sdk/example/certs/server.pem");
        QProcess der;
        der.start("openssl", {"x509", "-in", pem, "-outform", "der"});
        QVERIFY(der.waitForFinished(60000) && der.exitCode() == 0);
        const QByteArray derBytes = der.readAllStandardOutput();
        QProcess md5;
        md5.start("openssl", {"dgst", "-md5", "-binary"});
        md5.write(derBytes);
        md5.closeWriteChannel();
        QVERIFY(md5.waitForFinished(60000) && md5.exitCode() == 0);
        QByteArray length(4, '\0');
        for (int i = 0; i < 4; ++i)
            length[i] = char(derBytes.size() >> (8 * i));
        const QByteArray block = '\x10' + md5.readAllStandardOutput() + length + derBytes + '\0';

        QCOMPARE(ws.build("<project><hardware/><certificates><certificate path='" + pem +
                          "'/></certificates></project>"),
                 0);
        const QByteArray dfu = readFile("wifi.dfu");
        const Record certs = record(dfu, 12);
        // Firmware 2 bytes at 0, hardware 130 at 4, script 8 at 136, files 1 at 144, certificates at 148.
        QCOMPARE(certs.location, 148u);
        QCOMPARE(certs.size, quint32(block.size()));
        QCOMPARE(dfu.mid(148, block.size()).toHex(), block.toHex());
        QCOMPARE(certs.crc, crc32Reference(block));
    }

    void hexMatchesObjcopy()
    {
        QByteArray boot(12288, '\0');
        for (int i = 0; i < boot.size(); ++i)
            boot[i] = char(i * 7 + 3);
        Workspace ws("0123456789abcdefXYZ", boot);
        QCOMPARE(ws.build("<project><hardware><uart baud='9600'/></hardware></project>"), 0);
        const QByteArray dfu = readFile("wifi.dfu");
        // binutils reads the HEX back: one section per address record, the first two for boot flash.
        QVERIFY(
            objcopy({"-I", "ihex", "-O", "binary", "-R", ".sec1", "-R", ".sec2", "wifi.hex", "flash.bin"}));
        QVERIFY(objcopy({"-I", "ihex", "-O", "binary", "-j", ".sec1", "wifi.hex", "config.bin"}));
        QVERIFY(objcopy({"-I", "ihex", "-O", "binary", "-j", ".sec2", "wifi.hex", "code.bin"}));
        QVERIFY(readFile("flash.bin") == dfu);
        // The configuration words with the 8 MHz divider code 1 and the postscaler 13 patched in.
        QByteArray config = boot.mid(0x2FF0);
        config[4] = char((quint8(config.at(4)) & 0xF8) | 1);
        config[5] = char((quint8(config.at(5)) & 0xF8) | 1);
        config[10] = char((quint8(config.at(10)) & 0xE0) | 13);
        QCOMPARE(readFile("config.bin").toHex(), config.toHex());
        const QByteArray code = readFile("code.bin");
        QCOMPARE(code.size(), 0x2FF0);
        // The boot code carries the MAC and the fallback copy of the hardware block.
        QCOMPARE(code.mid(1282, 6).toHex(), QByteArray("02a4c0ffffff"));
        QCOMPARE(code.mid(0, 1282), boot.mid(0, 1282));
        QVERIFY(code.mid(11896, 130) != dfu.mid(20, 130)); // boot code was not erased: no copy
    }

    void fallbackCopy()
    {
        Workspace ws;
        QCOMPARE(ws.build("<project><hardware><adc enabled_pins='0x3'/></hardware></project>"), 0);
        QVERIFY(!ws.console.capturedOut().contains("Warning"));
        const QByteArray dfu = readFile("wifi.dfu");
        QVERIFY(objcopy({"-I", "ihex", "-O", "binary", "-j", ".sec2", "wifi.hex", "code.bin"}));
        const QByteArray code = readFile("code.bin");
        QCOMPARE(code.mid(11896, 130), dfu.mid(8, 130));
        QCOMPARE(word(code, 12028), 132u);
        QCOMPARE(code.mid(12032).toHex(), QByteArray(0x2FF0 - 12032, char(0xFF)).toHex());
    }

    void fallbackNeedsErasedRoom_data()
    {
        QTest::addColumn<int>("dirty");
        QTest::addColumn<bool>("copied");
        QTest::newRow("first byte not examined") << 11897 << true;
        QTest::newRow("first byte examined") << 11898 << false;
        QTest::newRow("last byte of the size word") << 12031 << false;
        QTest::newRow("above the size word") << 12032 << true;
    }

    void fallbackNeedsErasedRoom()
    {
        QFETCH(int, dirty);
        QFETCH(bool, copied);
        QByteArray boot(12288, char(0xFF));
        boot[dirty] = 0x00;
        const QByteArray before = boot;
        const QByteArray hardware(130, 'h');
        QCOMPARE(ProjectBuilder::storeFallbackSettings(boot, hardware), copied);
        if (copied) {
            QCOMPARE(boot.mid(11896, 130), hardware);
            QCOMPARE(boot.mid(12028, 4), QByteArray("\x84\0\0\0", 4));
        } else {
            QVERIFY(boot == before);
        }
    }

    void warningWhenNoRoom()
    {
        QByteArray boot(12288, char(0xFF));
        boot[12000] = 0x12;
        Workspace ws("FW", boot);
        QCOMPARE(ws.build("<project><hardware/></project>"), 0);
        QVERIFY(ws.console.capturedOut().contains(
            "\nWarning, not enough space in bootloader for fallback settings.\n\nMemory used:\n"));
    }

    void usbBlockBelowTheTable()
    {
        Workspace ws;
        writeFile("usb.xml", "<usb><device iProduct='Module'><configuration/><interface>"
                             "<endpoint/><endpoint/></interface></device></usb>");
        QCOMPARE(ws.build("<project><hardware><usb descriptor='usb.xml'/></hardware></project>"), 0);
        const QByteArray dfu = readFile("wifi.dfu");
        const int n = 18 + 32 + 4 + 14 + 1;
        const Record usb = record(dfu, 36);
        QCOMPARE(usb.location, quint32(0x9D000000 + Table - n));
        QCOMPARE(usb.size, quint32(n));
        QCOMPARE(usb.crc, crc32Reference(dfu.mid(Table - n, n)));
        QCOMPARE(dfu.mid(Table - n, 2), QByteArray("\x12\x01"));
        QCOMPARE(quint8(dfu.at(Table - n - 1)), quint8(0xFF));
        QVERIFY(ws.console.capturedOut().contains("\nUSB   :69\n"));
    }

    void badUsbFileFailsTheBuild_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("err");
        QTest::newRow("not well-formed") << QByteArray("<usb>") << "Parsing usb.xml 1:";
        QTest::newRow("wrong root") << QByteArray("<device/>") << "Expected usb tag as root of usb.xml\n";
        QTest::newRow("missing") << QByteArray() << "Unable to open:usb.xml\n";
    }

    void badUsbFileFailsTheBuild()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, err);
        Workspace ws;
        if (!content.isEmpty()) writeFile("usb.xml", content);
        QCOMPARE(ws.build("<project><hardware><usb descriptor='usb.xml'/></hardware></project>"), 1);
        QVERIFY2(ws.console.capturedErr().startsWith(err), qPrintable(ws.console.capturedErr()));
        QVERIFY(!QFile::exists("wifi.dfu"));
        QVERIFY(!QFile::exists("wifi.hex"));
    }

    void paddedLayoutMustFit()
    {
        // Raw sizes 511780 + 130 + 8 + 1 + 1 = 511920 fit, but the blocks end at 511925 (certificates
        // at 511924), into the table.
        Workspace ws(QByteArray(511780, 'f'));
        writeFile("wifi.dfu", "previous image");
        writeFile("wifi.hex", "previous hex");
        QCOMPARE(ws.build("<project><hardware/></project>"), -1);
        QVERIFY(ws.console.capturedOut().endsWith(
            "Free  :80/512000(0%)\nError, not enough flash.\nrequired:512004\nFlash   :512000\n"));
        QCOMPARE(readFile("wifi.dfu"), QByteArray("previous image"));
        QCOMPARE(readFile("wifi.hex"), QByteArray("previous hex"));

        // Four bytes less and the certificates end at 511924: it fits.
        Workspace fits(QByteArray(511776, 'f'));
        QCOMPARE(fits.build("<project><hardware/></project>"), 0);
        QCOMPARE(readFile("wifi.dfu").size(), 512000);
    }

    void fullFlashWritesNothing()
    {
        Workspace ws(QByteArray(512000, 'f'));
        QCOMPARE(ws.build("<project><hardware/></project>"), -1);
        QVERIFY(ws.console.capturedOut().endsWith(
            "Error, not enough flash.\nrequired:512140\nFlash   :512000\n"));
        QVERIFY(!QFile::exists("wifi.dfu"));
        QVERIFY(!QFile::exists("wifi.hex"));
    }

    void failingScriptFailsTheBuild()
    {
        Workspace ws;
        writeFile("old.dfu", "old");
        const QString compiler = ws.project.file("fail.sh");
        writeFile(compiler, "#!/bin/sh\necho 'x.script:Error, syntax error in line 1'\nexit 255\n");
        QFile::setPermissions(compiler, QFile::permissions(compiler) | QFile::ExeOwner);
        QCOMPARE(ws.build("<project><hardware/><scripting><script in='x.script'/></scripting></project>",
                          compiler),
                 1);
        QVERIFY(ws.console.capturedOut().endsWith(
            "x.script:Error, syntax error in line 1\nscript compiler failed\n"));
        QVERIFY(!QFile::exists("wifi.dfu"));
    }

    void sectionOrderAndImageNames()
    {
        Workspace ws("SW");
        writeFile("a.txt", "abc");
        const QString compiler = ws.project.file("ok.sh");
        writeFile(compiler, "#!/bin/sh\nprintf 'BYTECODE' > \"$2\"\necho 7 > variable_memory_usage.txt\n");
        QFile::setPermissions(compiler, QFile::permissions(compiler) | QFile::ExeOwner);
        QCOMPARE(ws.build("<project><files><file path='a.txt'/></files><scripting><script in='s' stack='16'/>"
                          "</scripting><hardware/><image out='x.dfu'/><image out='y.dfu'/></project>",
                          compiler),
                 0);
        QVERIFY(QFile::exists("x.dfu"));
        QVERIFY(QFile::exists("wifi.hex"));
        QVERIFY(!QFile::exists("y.dfu"));
        const QByteArray dfu = readFile("x.dfu");
        // software 2 at 0; hardware at 4 (to 134, padded 136); script 8 + 8 at 136; files at 152.
        QCOMPARE(record(dfu, 24).location, 136u);
        QCOMPARE(dfu.mid(136, 16), QByteArray("\x10\0\0\0\x07\0\0\0BYTECODE", 16));
        QCOMPARE(record(dfu, 0).location, 152u);
        // Files: 6 "/a.txt" 0, size word, "abc", closing 0: 16 bytes.
        QCOMPARE(record(dfu, 0).size, 16u);
        QCOMPARE(record(dfu, 12).location, 168u);
        const QString out = ws.console.capturedOut();
        QVERIFY(out.indexOf(" in         :fw/wifi.juo") < out.indexOf("port:b"));
        QVERIFY(out.indexOf("port:g") < out.indexOf("\nscript\n"));
        QVERIFY(out.contains(" variables  :7\n\nFILE  :a.txt  size:3\n\nBOOTLOADER:\n"));
    }

    void deepNestingRefused_data()
    {
        QTest::addColumn<QString>("nested");   // the file whose root holds the nested elements
        QTest::addColumn<int>("depth");        // levels below the root
        QTest::addColumn<QByteArray>("inner"); // between the opening and the closing tags
        QTest::addColumn<int>("status");
        QTest::newRow("project") << "project.xml" << 30000 << QByteArray() << 1;
        QTest::newRow("hardware file") << "hw.xml" << 30000 << QByteArray() << 1;
        QTest::newRow("usb file") << "usb.xml" << 30000 << QByteArray() << 1;
        // Not UTF-8: the DOM parser recurses into the elements before it finds that fault.
        QTest::newRow("usb file, badly encoded further on")
            << "usb.xml" << 30000 << QByteArray("\x9e\xc2<b a='x") << 1;
        QTest::newRow("hardware file at the limit")
            << "hw.xml" << 999 << QByteArray("<!-- <c> --><d/><![CDATA[<e>]]>") << 0;
        QTest::newRow("hardware file one over") << "hw.xml" << 1000 << QByteArray() << 1;
    }

    void deepNestingRefused()
    {
        QFETCH(QString, nested);
        QFETCH(int, depth);
        QFETCH(QByteArray, inner);
        QFETCH(int, status);
        Workspace ws;
        const QByteArray deep =
            QByteArray("<a>").repeated(depth) + inner + QByteArray("</a>").repeated(depth);
        auto in = [&](const char *file) { return nested == file ? deep : QByteArray(); };
        writeFile("hw.xml", "<hardware><usb descriptor='usb.xml'/>" + in("hw.xml") + "</hardware>");
        writeFile("usb.xml", "<usb>" + in("usb.xml") + "</usb>");
        QCOMPARE(ws.build(QString::fromUtf8("<project><hardware in='hw.xml'/>" + in("project.xml") +
                                            "</project>")),
                 status);
        if (status == 0) return;
        QVERIFY2(ws.console.capturedErr().startsWith("Parsing " + nested + " 1:"),
                 qPrintable(ws.console.capturedErr()));
        QVERIFY(ws.console.capturedErr().contains(" xml failed:"));
        QVERIFY(!QFile::exists("wifi.dfu"));
        QVERIFY(!QFile::exists("wifi.hex"));
    }

    void oversizedInputRefused_data()
    {
        QTest::addColumn<QString>("sections");
        QTest::newRow("software") << "<software><binary in='big.bin'/></software>";
        QTest::newRow("files") << "<files><file path='big.bin'/></files>";
        QTest::newRow("certificates")
            << "<certificates><certificate path='big.bin' format='der'/></certificates>";
        QTest::newRow("bootloader") << "<bootloader in='big.bin'/>";
    }

    void oversizedInputRefused()
    {
        // 2 GiB, sparse: a size no byte array can hold.
        QFETCH(QString, sections);
        Workspace ws;
        QFile big("big.bin");
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(2) << 30));
        big.close();
        QCOMPARE(ws.build("<project><hardware/>" + sections + "</project>"), 1);
        QVERIFY2(ws.console.capturedErr().endsWith("file too large:big.bin\n"),
                 qPrintable(ws.console.capturedErr()));
        QVERIFY(!QFile::exists("wifi.dfu"));
    }

    void inputSizeLimit_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("size"); // of the file written first; -1 for none
        QTest::addColumn<bool>("read");
        QTest::newRow("the size of the flash") << "f.bin" << qint64(512000) << true;
        QTest::newRow("one byte more") << "f.bin" << qint64(512001) << false;
        QTest::newRow("a device without size") << "/dev/zero" << qint64(-1) << false;
    }

    void inputSizeLimit()
    {
        QFETCH(QString, path);
        QFETCH(qint64, size);
        QFETCH(bool, read);
        ScratchDir dir;
        if (size >= 0) QVERIFY(writeFile(path, QByteArray(int(size), 'x')));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        Console console;
        QByteArray content;
        QCOMPARE(XmlFile::readAll(file, content, console), read);
        QCOMPARE(content.size(), read ? int(size) : 0);
        QCOMPARE(console.capturedErr(), read ? QString() : "file too large:" + path + "\n");
    }

    void outputClashesRefused_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("message");
        QTest::newRow("out is the project") << "out='project.xml'"
                                            << "Output file is also an input:project.xml";
        QTest::newRow("out_hex is the project by a detour")
            << "out_hex='sub/../project.xml'"
            << "Output file is also an input:sub/../project.xml";
        QTest::newRow("both outputs the same file") << "out='a.bin' out_hex='./a.bin'"
                                                    << "Output file named twice:a.bin";
        QTest::newRow("out is a file of the files section") << "out='data.txt'"
                                                            << "Output file is also an input:data.txt";
        QTest::newRow("out_hex is the hardware file") << "out_hex='hw.xml'"
                                                      << "Output file is also an input:hw.xml";
        QTest::newRow("out is a link to the firmware") << "out='fw.lnk'"
                                                       << "Output file is also an input:fw.lnk";
        QTest::newRow("out is the compiler's report")
            << "out='variable_memory_usage.txt'"
            << "Output file is also an input:variable_memory_usage.txt";
    }

    void outputClashesRefused()
    {
        QFETCH(QString, image);
        QFETCH(QString, message);
        Workspace ws;
        QDir().mkpath("sub");
        writeFile("data.txt", "data");
        writeFile("hw.xml", "<hardware/>");
        QVERIFY(QFile::link(ws.sdk.filePath("fw/wifi.juo"), "fw.lnk"));
        const QString project =
            "<project><hardware in='hw.xml'/><files><file path='data.txt'/></files><image " + image +
            "/></project>";
        QCOMPARE(ws.build(project), 1);
        QCOMPARE(ws.console.capturedErr(), message + "\n");
        QCOMPARE(readFile("project.xml"), project.toUtf8());
        QCOMPARE(readFile("data.txt"), QByteArray("data"));
        QCOMPARE(readFile("hw.xml"), QByteArray("<hardware/>"));
        QCOMPARE(readFile("fw.lnk"), QByteArray("FIRMWARE"));
        QVERIFY(!QFile::exists("a.bin"));
        QVERIFY(!QFile::exists("wifi.dfu"));
        QVERIFY(!QFile::exists("wifi.hex"));
    }

    void writeFailureSaysWhy()
    {
        // A file-size limit makes the writes fail as a full disk would; the earlier pair stays.
        Workspace ws;
        writeFile("wifi.hex", "previous hex");
        rlimit previous;
        QVERIFY(getrlimit(RLIMIT_FSIZE, &previous) == 0);
        rlimit small = previous;
        small.rlim_cur = 100000;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const int status = ws.build("<project><hardware/></project>");
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(status, 1);
        QCOMPARE(ws.console.capturedErr(), QString("Unable to write:wifi.hex, wifi.dfu: ") +
                                               QString::fromLocal8Bit(std::strerror(EFBIG)) + "\n");
        QCOMPARE(readFile("wifi.hex"), QByteArray("previous hex"));
        QVERIFY(!QFile::exists("wifi.dfu"));
        QCOMPARE(QDir().entryList({"wifi*"}, QDir::Files), QStringList{"wifi.hex"});
    }

    void outputThatCannotBeAFile_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("err");
        QTest::newRow("empty name") << "out=''"
                                    << "Unable to open:\n";
        QTest::newRow("a folder") << "out_hex='images'"
                                  << "Unable to open:images\n";
        QTest::newRow("in a missing folder") << "out='none/x.dfu'"
                                             << "Unable to open:none/x.dfu\n";
    }

    void outputThatCannotBeAFile()
    {
        QFETCH(QString, image);
        QFETCH(QString, err);
        Workspace ws;
        QDir().mkpath("images");
        QCOMPARE(ws.build("<project><hardware/><image " + image + "/></project>"), 1);
        QCOMPARE(ws.console.capturedErr(), err);
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList({"images", "project.xml"}));
        QVERIFY(QDir("images").isEmpty());
    }

    void outputsReplacedInPlace()
    {
        // A replaced output keeps its permissions, a new one gets what the mask allows, and an output
        // that is a link replaces the file it points to.
        Workspace ws;
        QDir().mkpath("images");
        writeFile("images/flash.bin", "old");
        QVERIFY(QFile::setPermissions("images/flash.bin",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(QFile::link("images/flash.bin", "flash.lnk"));
        const mode_t mask = umask(022);
        const int status =
            ws.build("<project><hardware/><image out='flash.lnk' out_hex='new.hex'/></project>");
        umask(mask);
        QCOMPARE(status, 0);
        QVERIFY(QFileInfo("flash.lnk").isSymLink());
        QCOMPARE(readFile("images/flash.bin").size(), 512000);
        QCOMPARE(QFile::permissions("images/flash.bin") & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QCOMPARE(QFile::permissions("new.hex") & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        QCOMPARE(QDir("images").entryList(QDir::Files), QStringList{"flash.bin"});
    }

    // A name that is not a regular file is never renamed over: a character device (here a terminal)
    // receives the image in place, a FIFO or a socket is refused and stays what it was.
    void deviceNodesAreNotReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("character device") << "chr";
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("socket") << "socket";
    }
    void deviceNodesAreNotReplaced()
    {
        QFETCH(QString, kind);
        Workspace ws;
        Pty pty;
        QVERIFY(pty.ok());
        termios raw;
        QVERIFY(tcgetattr(pty.master, &raw) == 0);
        cfmakeraw(&raw);
        QVERIFY(tcsetattr(pty.master, TCSANOW, &raw) == 0);
        int sock = -1;
        if (kind == "chr") {
            QVERIFY(QFile::link(pty.path, "node"));
        } else if (kind == "fifo") {
            QVERIFY(mkfifo("node", 0600) == 0);
        } else {
            sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strcpy(addr.sun_path, "node");
            QVERIFY(::bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0);
        }
        QByteArray received;
        std::thread reader([&] {
            if (kind == "chr") received = pty.read(512000, 5000);
        });
        const int status = ws.build("<project><hardware/><image out='node' out_hex='n.hex'/></project>");
        reader.join();
        if (sock >= 0) ::close(sock);
        struct stat st;
        QVERIFY(::stat("node", &st) == 0);
        if (kind == "chr") {
            QCOMPARE(status, 0);
            QVERIFY(QFileInfo("node").isSymLink());
            QVERIFY(S_ISCHR(st.st_mode));
            QCOMPARE(ws.build("<project><hardware/><image out='plain.dfu' out_hex='p.hex'/></project>"), 0);
            QCOMPARE(received, readFile("plain.dfu"));
            QCOMPARE(readFile("n.hex"), readFile("p.hex"));
        } else {
            QCOMPARE(status, 1);
            QCOMPARE(ws.console.capturedErr(), QString("Unable to open:node\n"));
            QVERIFY(kind == "fifo" ? S_ISFIFO(st.st_mode) : S_ISSOCK(st.st_mode));
            QVERIFY(!QFileInfo::exists("n.hex"));
        }
        // No temporary file left behind.
        QCOMPARE(QDir().entryList(QStringList("*.??????"), QDir::Files | QDir::System), QStringList());
    }

    void exampleProjectWithTheCompiler()
    {
        const QString tollan = QStringLiteral(NW_SDK_DIR "/bin/tollan");
        if (!QFileInfo(tollan).isExecutable()) QSKIP("tollan is not built in this tree");
        ScratchDir dir;
        const QString example = QStringLiteral(NW_SDK_DIR "/example");
        for (const char *f : {"project.xml", "hardware.xml", "usb.xml", "example.script", "files/index.html",
                              "certs/server.pem"})
            QVERIFY(writeFile(f, readFile(example + "/" + QLatin1String(f))));
        Console console;
        QCOMPARE(ProjectBuilder(console).buildProject("project.xml", tollan, NW_SDK_DIR), 0);
        const QByteArray dfu = readFile("wifi.dfu");
        const Record script = record(dfu, 24);
        QVERIFY(script.size > 8);
        QCOMPARE(script.crc, crc32Reference(dfu.mid(int(script.location), int(script.size))));
        QCOMPARE(word(dfu, int(script.location)), 0x200u);
        QVERIFY(!console.capturedOut().contains("failed"));
    }
};

NW_TEST(ProjectBuilderTest)

#include "tst_projectbuilder.moc"
