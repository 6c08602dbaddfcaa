// nwflash as a user runs it, against simulated modules on pseudo-terminals served by this test's
// event loop.
#include "capturereader.h"
#include "pty.h"
#include "simdevice.h"
#include "simline.h"
#include "testmain.h"
#include "uploadfixtures.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace fixtures;

namespace
{

struct Module {
    explicit Module(const SimOptions &o) : device(o), line(&device, o) { line.openPty(); }
    // A command packet handed to the module as if it came over the line (its answer goes unread).
    void preset(const QByteArray &command) { device.receive(command); }
    SimDevice device;
    SimLine line;
};

} // namespace

class TestNwflash : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qRegisterMetaType<QProcess::ExitStatus>();
    }

    void run_data()
    {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("modules");
        QTest::addColumn<bool>("updateState"); // the module starts in its update state
        QTest::addColumn<int>("rejectUpload");
        QTest::addColumn<int>("muteAfter");
        QTest::addColumn<int>("hangupAfter");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stderrHas");

        QTest::newRow("window 4") << QStringList{"-w", "4"} << 1 << true << 0 << -1 << -1 << 0 << "";
        QTest::newRow("window 1") << QStringList{"-w", "1"} << 1 << true << 0 << -1 << -1 << 0 << "";
        QTest::newRow("two modules at once") << QStringList{} << 2 << true << 0 << -1 << -1 << 0 << "";
        QTest::newRow("reset into the update state first")
            << QStringList{"--enter-dfu"} << 1 << false << 0 << -1 << -1 << 0 << "";
        QTest::newRow("erase keys, keep the MAC")
            << QStringList{"-e"} << 1 << true << 0 << -1 << -1 << 0 << "";
        // The 100th chunk starts at 99 * 128.
        QTest::newRow("chunk rejected") << QStringList{} << 1 << true << 100 << -1 << -1 << 1
                                        << "rejected the data at offset 12672: result 0x";
        // Set-address and 49 chunks answered, then silence.
        QTest::newRow("module falls silent")
            << QStringList{"-t", "0.5"} << 1 << true << 0 << 50 << -1 << 1 << "no response from the module";
        QTest::newRow("port lost") << QStringList{} << 1 << true << 0 << -1 << 200 << 1 << "lost";
        QTest::newRow("no answer to the reset into the update state")
            << QStringList{"--enter-dfu", "-t", "0.5"} << 1 << false << 0 << 0 << -1 << 1
            << "no response from the module after the reset into its update state";
        // The reset is answered, then the line goes before the module has started again.
        QTest::newRow("port lost during the reset")
            << QStringList{"--enter-dfu"} << 1 << false << 0 << -1 << 1 << 1 << " lost: the device hung up";
    }
    void run()
    {
        QFETCH(QStringList, flags);
        QFETCH(int, modules);
        QFETCH(bool, updateState);
        QFETCH(int, rejectUpload);
        QFETCH(int, muteAfter);
        QFETCH(int, hangupAfter);
        QFETCH(int, status);
        QFETCH(QString, stderrHas);

        const QByteArray content = image();
        const QString file = dir.filePath("wifi.dfu");
        QVERIFY(writeFile(file, content));
        SimOptions o;
        o.startInUpdateState = updateState;
        o.rejectUpload = rejectUpload;
        o.rejectResult = 0x0186;
        o.muteAfter = muteAfter;
        o.hangupAfter = hangupAfter;
        std::vector<std::unique_ptr<Module>> sims;
        QStringList args = flags << file;
        const QByteArray mac = QByteArray::fromHex("021122334455");
        for (int i = 0; i < modules; ++i) {
            sims.push_back(std::make_unique<Module>(o));
            QVERIFY(sims.back()->line.isOpen());
            args << sims.back()->line.path();
            // A key and a MAC of the module's own, which the erase must not take.
            sims.back()->preset(packet(false, 7, 3, u16(0x10) + QByteArray::fromHex("03616263")));
            sims.back()->preset(cmdSetMac(0, mac));
        }

        QList<QByteArray> received;
        connect(&sims[0]->line, &SimLine::received, this, [&received](const QByteArray &p) { received << p; });

        QProcess flasher;
        QSignalSpy ended(&flasher, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        flasher.start(QStringLiteral(NW_SDK_DIR "/bin/nwflash"), args);
        QVERIFY(ended.wait(60000));
        const QString err = QString::fromLocal8Bit(flasher.readAllStandardError());
        const QStringList out = QString::fromLocal8Bit(flasher.readAllStandardOutput()).split('\n');
        QVERIFY2(flasher.exitCode() == status, qPrintable(err));
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
        // Not a terminal: a line about the image, then plain lines, each naming its port, nothing of the
        // link's among them.
        QCOMPARE(out.last(), QString());
        QVERIFY2(out.first().startsWith("wifi.dfu: "), qPrintable(out.first()));
        // Several modules end with a summary.
        const int summary = modules > 1 ? 1 : 0;
        if (summary) QVERIFY2(out[out.size() - 2].endsWith(" modules flashed") || out[out.size() - 2].contains("; failed: "),
                              qPrintable(out[out.size() - 2]));
        for (const QString &line : out.mid(1, out.size() - 2 - summary)) {
            bool named = false;
            for (const auto &sim : sims)
                named = named || line.startsWith(sim->line.path() + ": ");
            QVERIFY2(named && !line.contains("\x1b") && !line.contains("ERROR"), qPrintable(line));
        }
        if (hangupAfter >= 0)
            QVERIFY2(err.contains("nwflash: " + sims[0]->line.path() + ": ERROR: ReadFile failed:5\n"),
                     qPrintable(err));
        // The module is reset into its update state (system reset, argument 1), and the image goes to
        // flash address 0, set once.
        if (flags.contains("--enter-dfu"))
            QCOMPARE(received.value(0).toHex(), QByteArray("0801010101"));
        if (status == 0) QCOMPARE(received.count(QByteArray::fromHex("0804000100000000")), 1);
        if (modules == 1 && status == 0) {
            QStringList expected;
            if (flags.contains("--enter-dfu")) expected << "resetting into the update state";
            expected << "uploading 512000 bytes";
            for (int tenth = 1; tenth <= 10; ++tenth)
                expected << QStringLiteral("%1% (%2/512000 bytes)").arg(tenth * 10).arg(tenth * 51200);
            expected << "sent, waiting for the module to start";
            const QString port = sims[0]->line.path() + ": ";
            QStringList seen;
            for (const QString &line : out.mid(1, out.size() - 2))
                seen << line.mid(port.size());
            QVERIFY(seen.size() == expected.size() + 1);
            QCOMPARE(seen.mid(0, expected.size()), expected);
            QVERIFY2(seen.last().startsWith("booted: 512000 bytes in "), qPrintable(seen.last()));
            QCOMPARE(seen.last().endsWith(", key store erased, MAC kept"), flags.contains("-e"));
        }
        if (status != 0) return;
        for (const auto &sim : sims) {
            QVERIFY(sim->device.flash() == content);
            QCOMPARE(sim->device.keys().isEmpty(), flags.contains("-e"));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(sim->device.mac().addr), 6), mac);
        }
    }

    // A module lost half-way is flashed again on the retry, when the port's name leads to a module again
    // (a replug behind a stable link name).
    void retryAfterALostPort()
    {
        const QByteArray content = image();
        const QString file = dir.filePath("retry.dfu");
        QVERIFY(writeFile(file, content));
        SimOptions lost, fine;
        lost.startInUpdateState = fine.startInUpdateState = true;
        lost.hangupAfter = 200;
        Module first(lost), second(fine);
        const QString port = dir.filePath("ttyRetry");
        QFile::remove(port);
        QVERIFY(QFile::link(first.line.path(), port));
        QSignalSpy hungUp(&first.line, &SimLine::hungUp);
        connect(&first.line, &SimLine::hungUp, this, [&] {
            QFile::remove(port);
            QFile::link(second.line.path(), port);
        });

        QProcess flasher;
        QSignalSpy ended(&flasher, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        flasher.start(QStringLiteral(NW_SDK_DIR "/bin/nwflash"), {"--retries", "1", file, port});
        QVERIFY(ended.wait(60000));
        const QString err = QString::fromLocal8Bit(flasher.readAllStandardError());
        QVERIFY2(flasher.exitCode() == 0, qPrintable(err));
        QCOMPARE(hungUp.count(), 1);
        QVERIFY(first.device.flash() != content);
        QVERIFY(second.device.flash() == content);
    }

    void captureEqualsTheSimulatorsTrace()
    {
        // Two modules, one of them with line noise before every packet; one chunk in flight, so the host
        // and the modules see one order.
        const QString file = dir.filePath("cap.dfu");
        QVERIFY(writeFile(file, image()));
        const QString capturePath = dir.filePath("session.pcapng");
        SimOptions quiet, noisy;
        noisy.garbage = 3;
        Module a(quiet), b(noisy);
        struct Traced {
            capture::Direction direction;
            QByteArray packet;
        };
        QList<Traced> trace[2];
        Module *modules[2] = {&a, &b};
        for (int i = 0; i < 2; ++i) {
            QList<Traced> *t = &trace[i];
            connect(&modules[i]->line, &SimLine::received, [t](const QByteArray &p) {
                t->append({capture::Direction::Outbound, p});
            });
            connect(&modules[i]->line, &SimLine::sent, [t](const QByteArray &p) {
                t->append({capture::Direction::Inbound, p});
            });
        }
        QProcess flasher;
        QSignalSpy ended(&flasher, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        flasher.start(
            QStringLiteral(NW_SDK_DIR "/bin/nwflash"),
            {"-w", "1", "--enter-dfu", "--capture", capturePath, file, a.line.path(), b.line.path()});
        QVERIFY(ended.wait(60000));
        QVERIFY2(flasher.exitCode() == 0, flasher.readAllStandardError().constData());

        CaptureReader reader;
        QVERIFY2(reader.open(capturePath), qPrintable(reader.errorString()));
        QList<CapturedPacket> packets;
        CapturedPacket p;
        while (reader.next(p) == CaptureReader::Result::Packet)
            packets << p;
        QCOMPARE(reader.errorString(), QString());
        QCOMPARE(reader.warnings(), QStringList());
        const QVector<CaptureInterface> ports = reader.interfaces();
        QCOMPARE(ports.size(), 2);
        qint64 last = 0;
        QList<Traced> recorded[2];
        qint64 noise[2] = {0, 0};
        for (const CapturedPacket &c : packets) {
            QVERIFY(c.timeNs >= last);
            last = c.timeNs;
            const int m = ports[c.interfaceId].name == a.line.path() ? 0 : 1;
            QCOMPARE(ports[c.interfaceId].name, modules[m]->line.path());
            QCOMPARE(ports[c.interfaceId].description, QString("NW300 serial line, 115200 baud"));
            if (c.isDiscarded())
                noise[m] += c.data.size();
            else
                recorded[m].append({c.direction, c.data});
        }
        for (int m = 0; m < 2; ++m) {
            QVERIFY(trace[m].size() > 100);
            QCOMPARE(recorded[m].size(), trace[m].size());
            for (int i = 0; i < trace[m].size(); ++i) {
                QCOMPARE(recorded[m][i].direction, trace[m][i].direction);
                QCOMPARE(recorded[m][i].packet, trace[m][i].packet);
            }
        }
        // The noisy module's garbage, every byte of it, and none from the quiet one.
        QCOMPARE(noise[0], qint64(0));
        int sent = 0;
        for (const Traced &t : trace[1])
            sent += t.direction == capture::Direction::Inbound;
        QCOMPARE(noise[1], qint64(3) * sent);
    }

    void captureTargetRefused()
    {
        const QString file = dir.filePath("ref.dfu");
        QVERIFY(writeFile(file, image()));
        Module sim{SimOptions()};
        QProcess flasher;
        flasher.start(QStringLiteral(NW_SDK_DIR "/bin/nwflash"), {"--capture", file, file, sim.line.path()});
        QVERIFY(flasher.waitForFinished(30000));
        QCOMPARE(flasher.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(flasher.readAllStandardError()),
                 "nwflash: " + file + " is an input of this run; the capture would overwrite it\n");
        QCOMPARE(sim.line.packetsReceived(), 0);
    }

    void refusals_data()
    {
        QTest::addColumn<bool>("goodImage");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("wrong CRC") << false << ""
                                   << "not a valid image";
        QTest::newRow("port cannot be opened") << true << "/dev/nw-no-such-port"
                                               << "No such file or directory";
    }
    void refusals()
    {
        QFETCH(bool, goodImage);
        QFETCH(QString, port);
        QFETCH(QString, stderrHas);
        QVERIFY(writeFile(dir.filePath("r.dfu"), goodImage ? image() : image(512000, 0, 1000, 0x1234)));
        Module sim{SimOptions()};
        QProcess flasher;
        QSignalSpy ended(&flasher, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        flasher.start(QStringLiteral(NW_SDK_DIR "/bin/nwflash"),
                      {dir.filePath("r.dfu"), port.isEmpty() ? sim.line.path() : port});
        QVERIFY(ended.wait(30000));
        const QString err = QString::fromLocal8Bit(flasher.readAllStandardError());
        QCOMPARE(flasher.exitCode(), 1);
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
        QCOMPARE(sim.line.packetsReceived(), 0);
    }

    // On a terminal every drawing of a failed port gives the reason with it.
    void terminalShowsTheReason()
    {
        QVERIFY(writeFile(dir.filePath("t.dfu"), image()));
        SimOptions o;
        o.startInUpdateState = true;
        o.rejectUpload = 10;
        o.rejectResult = 0x0186;
        Module sim(o);
        Pty screen;
        QVERIFY(screen.ok());
        QProcess flasher;
        flasher.setStandardOutputFile(screen.path);
        QSignalSpy ended(&flasher, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        flasher.start(QStringLiteral(NW_SDK_DIR "/bin/nwflash"), {dir.filePath("t.dfu"), sim.line.path()});
        QByteArray shown;
        while (ended.isEmpty()) {
            shown += screen.readIdle(20);
            QCoreApplication::processEvents();
        }
        shown += screen.readIdle(200);
        QCOMPARE(flasher.exitCode(), 1);
        const QString text = QString::fromLocal8Bit(shown);
        QVERIFY2(text.contains("\x1b[K"), qPrintable(text)); // drawn in place, not as plain lines
        const QStringList frames = text.split("FAILED: ").mid(1);
        QVERIFY(!frames.isEmpty());
        for (const QString &after : frames)
            QVERIFY2(after.startsWith("the module rejected the data at offset 1152"), qPrintable(after));
    }

    // Each port that is not there is reported on its own; the ones that are there are flashed.
    void missingPortsAmongPresentOnes()
    {
        const QByteArray content = image();
        QVERIFY(writeFile(dir.filePath("m.dfu"), content));
        SimOptions o;
        o.startInUpdateState = true;
        Module sim(o);
        QProcess flasher;
        QSignalSpy ended(&flasher, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        flasher.start(QStringLiteral(NW_SDK_DIR "/bin/nwflash"),
                      {dir.filePath("m.dfu"), "/dev/nw-missing-1", sim.line.path(), "/dev/nw-missing-2"});
        QVERIFY(ended.wait(60000));
        const QString err = QString::fromLocal8Bit(flasher.readAllStandardError());
        QCOMPARE(flasher.exitCode(), 1);
        QVERIFY2(!err.contains("twice"), qPrintable(err));
        for (const char *port : {"/dev/nw-missing-1", "/dev/nw-missing-2"})
            QVERIFY2(err.contains(QStringLiteral("nwflash: %1: Could not open %1: No such file").arg(port)),
                     qPrintable(err));
        QVERIFY(sim.device.flash() == content);

        // The same missing port twice is still a usage error.
        flasher.start(QStringLiteral(NW_SDK_DIR "/bin/nwflash"),
                      {dir.filePath("m.dfu"), "/dev/nw-missing-1", "/dev/nw-missing-1"});
        QVERIFY(ended.wait(30000));
        QCOMPARE(flasher.exitCode(), 2);
        QVERIFY(flasher.readAllStandardError().contains("port given twice: /dev/nw-missing-1"));
    }
};

NW_TEST(TestNwflash)
#include "tst_nwflash.moc"
