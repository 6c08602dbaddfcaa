// The capture writer and reader: files checked by tshark and capinfos, hand-built files in either
// byte order and in classic pcap, every kind of damage, and a writer that loses its disk.
#include "capturefile.h"
#include "capturereader.h"
#include "testmain.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using capture::Direction;

namespace
{
// Capture files written by hand, in either byte order, independent of the writer.
struct Builder {
    bool big = false;
    QByteArray out;

    QByteArray n16(quint16 v) const
    {
        char b[2] = {char(big ? v >> 8 : v), char(big ? v : v >> 8)};
        return QByteArray(b, 2);
    }
    QByteArray n32(quint32 v) const
    {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i)
            b[big ? 3 - i : i] = char(v >> (8 * i));
        return b;
    }
    static QByteArray padded(QByteArray b)
    {
        while (b.size() % 4)
            b.append('\0');
        return b;
    }
    QByteArray option(quint16 code, const QByteArray &value) const
    {
        return n16(code) + n16(quint16(value.size())) + padded(value);
    }
    void block(quint32 type, const QByteArray &body)
    {
        const QByteArray b = padded(body);
        out += n32(type) + n32(quint32(b.size() + 12)) + b + n32(quint32(b.size() + 12));
    }
    void section()
    {
        block(0x0A0D0D0A, n32(0x1A2B3C4D) + n16(1) + n16(0) + n32(0xFFFFFFFF) + n32(0xFFFFFFFF));
    }
    void interface(quint16 linkType, const QByteArray &name, char tsresol = 6)
    {
        block(1,
              n16(linkType) + n16(0) + n32(0) + option(2, name) + option(9, QByteArray(1, tsresol)) + n32(0));
    }
    void packet(quint32 iface, quint64 ticks, const QByteArray &data, quint32 flags)
    {
        block(6, n32(iface) + n32(quint32(ticks >> 32)) + n32(quint32(ticks)) + n32(quint32(data.size())) +
                     n32(quint32(data.size())) + padded(data) + option(2, n32(flags)) + n32(0));
    }
};

const QByteArray syncResponse = QByteArray::fromHex("08000100");
const QByteArray getMac = QByteArray::fromHex("0801030003"); // one payload byte
const QByteArray bootEvent = QByteArray::fromHex("8802010001020300");

QByteArray standardCapture(bool big)
{
    Builder b;
    b.big = big;
    b.section();
    b.interface(147, "/dev/ttyUSB0");
    b.block(0x00000BAD, QByteArray("whatever a newer tool writes"));
    b.packet(0, 1700000000123456ull, getMac, 2);
    b.packet(0, 1700000000123999ull, syncResponse, 1);
    b.packet(0, 1700000000200000ull, bootEvent, 1);
    return b.out;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) return QString();
    return path;
}

struct ReadAll {
    QList<CapturedPacket> packets;
    CaptureReader::Result last = CaptureReader::Result::End;
    QString error;
    QStringList warnings;
    qint64 ignored = 0;
};

ReadAll readAll(const QString &path)
{
    ReadAll r;
    CaptureReader reader;
    if (!reader.open(path)) {
        r.last = CaptureReader::Result::Failed;
        r.error = reader.errorString();
        return r;
    }
    CapturedPacket p;
    while ((r.last = reader.next(p)) == CaptureReader::Result::Packet)
        r.packets << p;
    r.error = reader.errorString();
    r.warnings = reader.warnings();
    r.ignored = reader.ignoredBytes();
    return r;
}

QString run(const QString &program, const QStringList &args, int *status = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    if (status) *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void writtenFileReadByTshark()
    {
        const QString tshark = QStandardPaths::findExecutable("tshark");
        if (tshark.isEmpty()) QSKIP("tshark is not installed");
        const QString path = dir.filePath("session.pcapng");
        {
            CaptureFile file;
            QVERIFY2(file.open(path), qPrintable(file.errorString()));
            QCOMPARE(file.addInterface("/dev/ttyUSB0", 115200), 0);
            QCOMPARE(file.addInterface("/dev/ttyUSB1", 921600), 1);
            file.recordAt(0, 1700000000123456789ll, Direction::Outbound, getMac.constData(), getMac.size());
            file.recordAt(1, 1700000000500000000ll, Direction::Inbound, bootEvent.constData(),
                          bootEvent.size());
            const QByteArray noise = QByteArray::fromHex("ff00ee");
            file.recordDiscarded(0, noise.constData(), noise.size());
            QCOMPARE(file.packetCount(), qint64(3));
        }
        int status = 0;
        const QString info = run(QStandardPaths::findExecutable("capinfos"),
                                 {"-T", "-r", "-M", "-c", "-E", "-F", path}, &status);
        QCOMPARE(status, 0);
        // Link type, time resolution, packets, and the writing program.
        QCOMPARE(info, path + "\tuser0\tnanoseconds\t3\t\t\tNW300 tools\n");
        const QString out =
            run(tshark,
                {"-r", path, "-T", "fields", "-E", "separator=|", "-e", "frame.interface_name", "-e",
                 "frame.interface_description", "-e", "frame.time_epoch", "-e",
                 "frame.packet_flags_direction", "-e", "frame.cap_len", "-e", "frame.comment"},
                &status);
        QCOMPARE(status, 0);
        const QStringList lines = out.trimmed().split('\n');
        QVERIFY2(lines.size() == 3, qPrintable(out));
        QCOMPARE(lines[0],
                 QString("/dev/ttyUSB0|NW300 serial line, 115200 baud|1700000000.123456789|0x00000002|5|"));
        QCOMPARE(lines[1],
                 QString("/dev/ttyUSB1|NW300 serial line, 921600 baud|1700000000.500000000|0x00000001|8|"));
        QVERIFY2(lines[2].startsWith("/dev/ttyUSB0|NW300 serial line, 115200 baud|"), qPrintable(lines[2]));
        QVERIFY2(lines[2].endsWith("|0x00000001|3|bytes discarded while resynchronising"),
                 qPrintable(lines[2]));
        // The packet bytes as tshark dumps them.
        const QString hex = run(tshark, {"-r", path, "-x", "-c", "2"});
        QVERIFY2(hex.contains("0000  08 01 03 00 03"), qPrintable(hex));
        QVERIFY2(hex.contains("0000  88 02 01 00 01 02 03 00"), qPrintable(hex));
    }

    void roundTrip()
    {
        const QString path = dir.filePath("round.pcapng");
        CaptureFile file;
        QVERIFY(file.open(path));
        QCOMPARE(file.addInterface("/dev/pts/7", 57600), 0);
        file.recordAt(0, 5, Direction::Outbound, getMac.constData(), getMac.size());
        file.recordDiscarded(0, "\xff\xfe", 2);
        file.recordAt(0, 1700000000999999999ll, Direction::Inbound, syncResponse.constData(),
                      syncResponse.size());
        // An interface that is not described is not written to.
        file.recordAt(3, 7, Direction::Inbound, syncResponse.constData(), syncResponse.size());
        file.close();
        const ReadAll r = readAll(path);
        QCOMPARE(r.error, QString());
        QCOMPARE(r.warnings, QStringList());
        QCOMPARE(r.packets.size(), 3);
        QCOMPARE(r.packets[0].data, getMac);
        QCOMPARE(r.packets[0].timeNs, qint64(5));
        QCOMPARE(r.packets[0].direction, Direction::Outbound);
        QVERIFY(!r.packets[0].isDiscarded());
        QCOMPARE(r.packets[1].data, QByteArray("\xff\xfe"));
        QVERIFY(r.packets[1].isDiscarded());
        QCOMPARE(r.packets[2].timeNs, 1700000000999999999ll);
        QCOMPARE(r.packets[2].direction, Direction::Inbound);
    }

    void handBuiltFiles_data()
    {
        // The last block of the standard capture, the event: 28 bytes of header, 8 of data, 8 of flags,
        // 4 of end of options, 4 of trailing length.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("packets");
        QTest::addColumn<qint64>("ignored");
        QTest::addColumn<QString>("message"); // error, or the first warning

        const QByteArray little = standardCapture(false);
        const QByteArray big = standardCapture(true);
        QTest::newRow("little-endian, unknown block skipped") << little << 3 << qint64(0) << QString();
        QTest::newRow("big-endian") << big << 3 << qint64(0) << QString();
        QTest::newRow("cut in the last block")
            << little.left(little.size() - 10) << 2 << qint64(42)
            << "the file ends in the middle of a block: its last 42 bytes were ignored";
        QTest::newRow("cut inside a block header")
            << little + QByteArray("\x06\0\0", 3) << 3 << qint64(3)
            << "the file ends in the middle of a block: its last 3 bytes were ignored";
        QByteArray runsPast = little;
        runsPast += QByteArray::fromHex("06000000") + QByteArray::fromHex("00010000") + QByteArray(40, '\0');
        QTest::newRow("length runs past the end")
            << runsPast << 3 << qint64(48)
            << "the file ends in the middle of a block: its last 48 bytes were ignored";
        QByteArray absurd = little;
        absurd += QByteArray::fromHex("06000000") + QByteArray::fromHex("f0ffff7f") + QByteArray(64, '\0');
        QTest::newRow("absurd length")
            << absurd << 3 << qint64(0)
            << QString("the block at offset %1 has an impossible length (2147483632 bytes)")
                   .arg(little.size());
        QByteArray odd = little;
        odd += QByteArray::fromHex("06000000") + QByteArray::fromHex("0d000000") + QByteArray(16, '\0');
        QTest::newRow("length not a multiple of 4")
            << odd << 3 << qint64(0)
            << QString("the block at offset %1 has an impossible length (13 bytes)").arg(little.size());
        QByteArray lengthsDiffer = little;
        lengthsDiffer[lengthsDiffer.size() - 4] = 0x7c;
        QTest::newRow("trailing length differs")
            << lengthsDiffer << 2 << qint64(0)
            << QString("the block at offset %1 is damaged: its two lengths differ (%2 and 124)")
                   .arg(little.size() - 52)
                   .arg(52);
        Builder wrong;
        wrong.section();
        wrong.interface(1, "eth0");
        wrong.interface(147, "/dev/ttyUSB0");
        wrong.packet(0, 1, QByteArray(60, 'e'), 1);
        wrong.packet(1, 2, syncResponse, 1);
        wrong.packet(0, 3, QByteArray(60, 'e'), 1);
        QTest::newRow("another link type")
            << wrong.out << 1 << qint64(0)
            << "interface 0 (eth0) has link type 1, not the module's packets (147): its packets were skipped";
        Builder unknownInterface;
        unknownInterface.section();
        unknownInterface.interface(147, "/dev/ttyUSB0");
        unknownInterface.packet(4, 1, syncResponse, 1);
        QTest::newRow("packet of an undescribed interface")
            << unknownInterface.out << 0 << qint64(0)
            << QString(
                   "the packet block before offset %1 names interface 4, which the file does not describe")
                   .arg(unknownInterface.out.size());
        // Two sections of different byte orders, as a concatenation of two tools' files gives.
        QTest::newRow("sections in both byte orders") << little + big << 6 << qint64(0) << QString();
    }

    void handBuiltFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, packets);
        QFETCH(qint64, ignored);
        QFETCH(QString, message);
        const QString path = writeFile(dir, "hand.pcapng", content);
        const ReadAll r = readAll(path);
        QCOMPARE(r.packets.size(), packets);
        QCOMPARE(r.ignored, ignored);
        const bool failed = r.last == CaptureReader::Result::Failed;
        QCOMPARE(failed ? r.error : r.warnings.value(0), message);
        if (packets >= 3 && content.startsWith(standardCapture(false).left(4))) {
            QCOMPARE(r.packets[0].data, getMac);
            QCOMPARE(r.packets[0].direction, Direction::Outbound);
            QCOMPARE(r.packets[0].timeNs, 1700000000123456000ll);
            QCOMPARE(r.packets[2].data, bootEvent);
            QCOMPARE(r.packets[2].direction, Direction::Inbound);
        }
    }

    void classicPcap_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("secondTime");
        QTest::addColumn<QString>("error");
        auto pcap = [](bool big, quint32 magic, quint32 link, quint32 fraction) {
            Builder b;
            b.big = big;
            b.out = b.n32(magic) + b.n16(2) + b.n16(4) + b.n32(0) + b.n32(0) + b.n32(65535) + b.n32(link);
            b.out += b.n32(1700000000) + b.n32(1) + b.n32(4) + b.n32(4) + syncResponse;
            b.out += b.n32(1700000001) + b.n32(fraction) + b.n32(8) + b.n32(8) + bootEvent;
            return b.out;
        };
        QTest::newRow("microseconds, little-endian")
            << pcap(false, 0xA1B2C3D4, 147, 250000) << 1700000001250000000ll << QString();
        QTest::newRow("nanoseconds, big-endian")
            << pcap(true, 0xA1B23C4D, 147, 250000) << 1700000001000250000ll << QString();
        QTest::newRow("modified format")
            << pcap(false, 0xA1B2CD34, 147, 0) << qint64(0)
            << "%1 is in a modified pcap format that is not read here; save it as pcapng";
        QTest::newRow("text") << QByteArray("hello, this is not a capture\n") << qint64(0)
                              << "%1 is not a capture file (neither pcapng nor pcap)";
        QTest::newRow("empty") << QByteArray() << qint64(0) << "%1 is not a capture file: it is too short";
        QTest::newRow("cut pcap header")
            << pcap(false, 0xA1B2C3D4, 147, 0).left(10) << qint64(0) << "%1 is cut inside its pcap header";
    }

    void classicPcap()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, secondTime);
        QFETCH(QString, error);
        const QString path = writeFile(dir, "classic.pcap", content);
        const ReadAll r = readAll(path);
        if (!error.isEmpty()) {
            QCOMPARE(r.last, CaptureReader::Result::Failed);
            QCOMPARE(r.error, error.arg(path));
            return;
        }
        QCOMPARE(r.error, QString());
        QCOMPARE(r.packets.size(), 2);
        QCOMPARE(r.packets[0].data, syncResponse);
        QCOMPARE(r.packets[1].data, bootEvent);
        QCOMPARE(r.packets[0].timeNs, 1700000000000000000ll + (secondTime % 1000000000 == 250000 ? 1 : 1000));
        QCOMPARE(r.packets[1].timeNs, secondTime);
    }

    void refusedTargets()
    {
        const QString input = writeFile(dir, "input.dfu", "firmware");
        const QString link = dir.filePath("link-to-input");
        QVERIFY(QFile::link(input, link));
        const QString fifo = dir.filePath("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        struct Case {
            QString path;
            QString error;
        };
        const Case cases[] = {
            {dir.path(), dir.path() + " is a directory"},
            {input, input + " is an input of this run; the capture would overwrite it"},
            {link, link + " is an input of this run; the capture would overwrite it"},
            {fifo, fifo + " is a pipe or socket, not a file a capture can be written to"},
            {dir.filePath("missing/x.pcapng"),
             "cannot write " + dir.filePath("missing/x.pcapng") + ": No such file or directory"},
            {"/dev/full", "writing /dev/full failed: No space left on device"},
        };
        for (const Case &c : cases) {
            CaptureFile file;
            QVERIFY2(!file.open(c.path, {input}), qPrintable(c.path));
            QCOMPARE(file.errorString(), c.error);
            QVERIFY(!file.isRecording());
            QCOMPARE(file.addInterface("/dev/ttyUSB0", 115200), -1);
        }
        QFile in(input);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), QByteArray("firmware"));
    }

    void diskFullStopsCaptureAtAWholeBlock()
    {
        // A file-size limit stands in for a full disk: the write that crosses it is cut short.
        const QString path = dir.filePath("full.pcapng");
        struct rlimit old;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        CaptureFile file;
        QSignalSpy failed(&file, &CaptureFile::failed);
        QVERIFY(file.open(path));
        QCOMPARE(file.addInterface("/dev/ttyUSB0", 115200), 0);
        struct rlimit small = old;
        small.rlim_cur = 10000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const QByteArray payload = QByteArray::fromHex("0864010000") + QByteArray(99, 'x');
        for (int i = 0; i < 200; ++i)
            file.record(0, Direction::Inbound, payload.constData(), payload.size());
        const bool flushed = file.flush();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!flushed);
        QVERIFY(!file.isRecording());
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed[0][0].toString(), "capture stopped: writing " + path + " failed: File too large");
        file.record(0, Direction::Inbound, payload.constData(), payload.size());
        file.close();
        QCOMPARE(failed.size(), 1);
        // What reached the disk is whole blocks only.
        const ReadAll r = readAll(path);
        QCOMPARE(r.error, QString());
        QCOMPARE(r.ignored, qint64(0));
        QVERIFY(QFileInfo(path).size() <= 10000);
        for (const CapturedPacket &p : r.packets)
            QCOMPARE(p.data, payload);
    }

    void flushedWhileRunning()
    {
        // A reader sees the packets within a second, with the capture still open: a crash keeps them.
        const QString path = dir.filePath("live.pcapng");
        CaptureFile file;
        QVERIFY(file.open(path));
        file.addInterface("/dev/ttyUSB0", 115200);
        file.record(0, Direction::Inbound, bootEvent.constData(), bootEvent.size());
        QTRY_COMPARE_WITH_TIMEOUT(readAll(path).packets.size(), 1, 3000);
        QVERIFY(file.isRecording());
    }

    void threadsKeepBlocksWhole()
    {
        const QString path = dir.filePath("threads.pcapng");
        CaptureFile file;
        QVERIFY(file.open(path));
        // Enough to span several of the reader's buffer fills.
        constexpr int lines = 4, each = 20000;
        for (int i = 0; i < lines; ++i)
            QCOMPARE(file.addInterface(QString("/dev/ttyUSB%1").arg(i), 115200), i);
        std::vector<std::thread> threads;
        for (int i = 0; i < lines; ++i)
            threads.emplace_back([&file, i] {
                QByteArray packet = QByteArray::fromHex("88000300") + QByteArray(i * 3, char(i));
                packet[1] = char(i * 3);
                for (int n = 0; n < each; ++n)
                    file.record(i, Direction::Inbound, packet.constData(), packet.size());
            });
        for (std::thread &t : threads)
            t.join();
        file.close();
        const ReadAll r = readAll(path);
        QCOMPARE(r.packets.size(), lines * each);
        int counts[lines] = {};
        qint64 lastTime = 0;
        for (const CapturedPacket &p : r.packets) {
            QCOMPARE(p.data.size(), 4 + p.interfaceId * 3);
            // Times follow the file's order across threads too.
            QVERIFY(p.timeNs >= lastTime);
            lastTime = p.timeNs;
            ++counts[p.interfaceId];
        }
        for (int i = 0; i < lines; ++i)
            QCOMPARE(counts[i], each);
    }
};

NW_TEST(TestCapture)
#include "tst_capture.moc"
