// nwflash on a production bench: addresses from a pool shared through a real database (SQLite, and a private
// PostgreSQL server), records, two benches at once with one killed, and the habits a user meets first.
#include "pgserver.h"
#include "pty.h"
#include "simdevice.h"
#include "simline.h"
#include "testmain.h"
#include "uploadfixtures.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

using namespace fixtures;

namespace
{

struct BenchModule {
    explicit BenchModule(const SimOptions &o) : device(o), line(&device, o) { line.openPty(); }
    SimDevice device;
    SimLine line;
};

QString macText(const hw_addr &mac)
{
    return QByteArray(reinterpret_cast<const char *>(mac.addr), 6).toHex(':');
}

const QString nwflash = QStringLiteral(NW_SDK_DIR "/bin/nwflash");

// Runs nwflash to its end while the modules of this process answer.
struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run runFlasher(const QStringList &args, int timeoutMs = 60000)
{
    QProcess p;
    QSignalSpy ended(&p, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    p.start(nwflash, args);
    Run r;
    if (!ended.wait(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// The data lines of --export-csv: column name to value, one map per record.
QList<QHash<QString, QString>> exportRecords(const QString &db)
{
    const Run r = runFlasher({QStringLiteral("--record=") + db, QStringLiteral("--export-csv"), QStringLiteral("-")});
    QList<QHash<QString, QString>> records;
    const QStringList lines = r.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    if (r.status != 0 || lines.isEmpty()) return records;
    const QStringList names = lines[0].split(QLatin1Char(','));
    for (const QString &line : lines.mid(1)) {
        // The fields compared here never need quoting.
        const QStringList values = line.split(QLatin1Char(','));
        QHash<QString, QString> record;
        for (int i = 0; i < names.size() && i < values.size(); ++i)
            record.insert(names[i], values[i]);
        records << record;
    }
    return records;
}

} // namespace

class TestBench : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    PgServer server;
    QString imagePath;
    int databases = 0;

    QString freshDatabase(const QString &engine)
    {
        if (engine == QLatin1String("sqlite")) return dir.filePath(QStringLiteral("bench%1.sqlite").arg(++databases));
        // A database of its own on the server for each use.
        const QString name = QStringLiteral("bench%1").arg(++databases);
        QProcess psql;
        psql.setProcessEnvironment([] {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PGPASSWORD"), PgServer::password());
            return env;
        }());
        psql.start(QStringLiteral("psql"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                           QString::number(server.port()), QStringLiteral("-U"), PgServer::user(),
                                           QStringLiteral("-d"), QStringLiteral("postgres"), QStringLiteral("-c"),
                                           QStringLiteral("CREATE DATABASE ") + name});
        psql.waitForFinished(30000);
        return server.url().replace(QStringLiteral("/postgres"), QLatin1Char('/') + name);
    }

    static SimOptions updateState()
    {
        SimOptions o;
        o.startInUpdateState = true;
        o.bootDelayMs = 10;
        return o;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qRegisterMetaType<QProcess::ExitStatus>();
        QString why;
        QVERIFY2(server.start(&why), qPrintable(why));
        imagePath = dir.filePath(QStringLiteral("wifi.dfu"));
        QVERIFY(writeFile(imagePath, image()));
    }

    // Two benches draw from one pool at once; a third bench later, after one of them was killed with an
    // address reserved: every address once, and the dead bench's reservations still out of use.
    void twoBenchesOnePool_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }
    void twoBenchesOnePool()
    {
        QFETCH(QString, engine);
        const QString db = freshDatabase(engine);
        const QString pool = QStringLiteral("--mac-pool=02:4e:57:10:00:00-02:4e:57:10:00:ff");
        // Bench B's modules answer up to their first get_mac after the boot and then fall silent: B is
        // killed while it waits for set_mac's answer, its addresses reserved but never confirmed.
        SimOptions silentAfterReserve = updateState();
        silentAfterReserve.muteAfter = 1 + 4000 + 1 + 1 + 1;
        std::vector<std::unique_ptr<BenchModule>> a, b;
        QStringList portsA, portsB;
        for (int i = 0; i < 8; ++i) {
            a.push_back(std::make_unique<BenchModule>(updateState()));
            b.push_back(std::make_unique<BenchModule>(silentAfterReserve));
            portsA << a.back()->line.path();
            portsB << b.back()->line.path();
        }
        QProcess benchA, benchB;
        benchA.start(nwflash, QStringList{QStringLiteral("--record=") + db, pool, QStringLiteral("--bench-id=a"),
                                         QStringLiteral("--json"), imagePath} + portsA);
        benchB.start(nwflash, QStringList{QStringLiteral("--record=") + db, pool, QStringLiteral("--bench-id=b"),
                                         QStringLiteral("--json"), QStringLiteral("-t"), QStringLiteral("60"),
                                         imagePath} + portsB);
        // B has reserved for all eight once each of its modules has taken its set_mac.
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(b.begin(), b.end(),
                                             [](const auto &m) { return m->line.packetsReceived() >= 4005; }),
                                 90000);
        ::kill(pid_t(benchB.processId()), SIGKILL);
        QVERIFY(benchB.waitForFinished(10000));
        QSignalSpy endedA(&benchA, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        QVERIFY(benchA.state() == QProcess::NotRunning || endedA.wait(90000));
        QVERIFY2(benchA.exitCode() == 0, benchA.readAllStandardError().constData());

        QSet<QString> given;
        for (const auto &m : a)
            given.insert(macText(m->device.mac()));
        QCOMPARE(given.size(), 8);
        // Bench A's JSON names the address each of its modules got; the modules carry exactly those.
        QSet<QString> announced;
        for (const QByteArray &line : benchA.readAllStandardOutput().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("ok").toBool()) announced.insert(o.value("mac_assigned").toString());
        }
        QCOMPARE(announced, given);

        const Run listed = runFlasher({QStringLiteral("--record=") + db, QStringLiteral("--reservations")});
        QCOMPARE(listed.status, 0);
        const QStringList held = listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(held.size(), 8);
        QSet<QString> heldMacs;
        for (const QString &line : held) {
            QVERIFY2(line.contains(QStringLiteral("reserved")) && line.contains(QStringLiteral("/b ")), qPrintable(line));
            heldMacs.insert(line.section(QLatin1Char(' '), 0, 0));
        }
        QVERIFY(!heldMacs.intersects(given));

        // A later bench gets neither A's addresses nor the dead bench's.
        std::vector<std::unique_ptr<BenchModule>> c;
        QStringList portsC;
        for (int i = 0; i < 8; ++i) {
            c.push_back(std::make_unique<BenchModule>(updateState()));
            portsC << c.back()->line.path();
        }
        const Run runC = runFlasher(QStringList{QStringLiteral("--record=") + db, pool, QStringLiteral("-q"), imagePath} + portsC, 90000);
        QVERIFY2(runC.status == 0, qPrintable(runC.err));
        QSet<QString> all = given + heldMacs;
        for (const auto &m : c)
            all.insert(macText(m->device.mac()));
        QCOMPARE(all.size(), 24);

        const auto records = exportRecords(db);
        QCOMPARE(records.size(), 16);
        for (const auto &r : records) {
            QCOMPARE(r.value("result"), "ok");
            QCOMPARE(r.value("image"), "wifi.dfu");
            QCOMPARE(r.value("image_size"), "512000");
            QCOMPARE(r.value("image_crc32"), QString::number(crc32Reference(image(), 0, 512000), 16).rightJustified(8, '0'));
            QCOMPARE(r.value("mac_before"), "02:4e:57:00:00:01");
            QCOMPARE(r.value("mac_after"), r.value("assigned_mac"));
        }
    }

    // The pool runs dry: the module is flashed, refused an address, and its record says why.
    void exhaustedPool()
    {
        const QString db = freshDatabase(QStringLiteral("sqlite"));
        BenchModule first(updateState()), second(updateState());
        const Run r = runFlasher({QStringLiteral("--record=") + db, QStringLiteral("--mac-pool=02:4e:57:20:00:00-02:4e:57:20:00:00"),
                                  imagePath, first.line.path(), second.line.path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("the MAC pool 02:4e:57:20:00:00-02:4e:57:20:00:00 is exhausted")),
                 qPrintable(r.err));
        QVERIFY(r.out.contains(QStringLiteral("1 of 2 modules flashed; failed: ")));
        QVERIFY(first.device.flash() == image() && second.device.flash() == image());
        const auto records = exportRecords(db);
        QCOMPARE(records.size(), 2);
        int failed = 0;
        for (const auto &rec : records)
            if (rec.value("result") == QLatin1String("failed")) {
                ++failed;
                QVERIFY(rec.value("reason").contains("exhausted"));
                QVERIFY(rec.value("assigned_mac").isEmpty());
            }
        QCOMPARE(failed, 1);
    }

    // A module that refuses its address, or answers as if it took it and keeps its own: the record says
    // so, and the address, which the module may or may not hold, never goes to another module.
    void macNotTaken_data()
    {
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << true << "the module refused the MAC address 02:4e:57:40:00:00: result 0x0180";
        QTest::newRow("kept its own")
            << false << "the module reports the MAC address 02:4e:57:00:00:01 after it was set to 02:4e:57:40:00:00";
    }
    void macNotTaken()
    {
        QFETCH(bool, refuse);
        QFETCH(QString, reason);
        const QString db = freshDatabase(QStringLiteral("sqlite"));
        const QStringList pool = {QStringLiteral("--record=") + db,
                                  QStringLiteral("--mac-pool=02:4e:57:40:00:00-02:4e:57:40:00:0f"), imagePath};
        SimOptions faulty = updateState();
        if (refuse) faulty.refuseMacResult = 0x0180;
        else faulty.keepMac = true;
        BenchModule bad(faulty);
        Run r = runFlasher(pool + QStringList{bad.line.path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        QCOMPARE(macText(bad.device.mac()), QStringLiteral("02:4e:57:00:00:01"));

        BenchModule good(updateState());
        // A key of the module's own, which reading and setting its address after the upload must not take.
        good.device.receive(fixtures::packet(false, 7, 3, fixtures::u16(0x10) + QByteArray::fromHex("03616263")));
        r = runFlasher(pool + QStringList{good.line.path()});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(macText(good.device.mac()), QStringLiteral("02:4e:57:40:00:01"));
        QVERIFY(!good.device.keys().isEmpty());
        const auto records = exportRecords(db);
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].value("result"), QStringLiteral("failed"));
        QCOMPARE(records[0].value("reason"), reason);
        QCOMPARE(records[0].value("assigned_mac"), QStringLiteral("02:4e:57:40:00:00"));
        QCOMPARE(records[1].value("result"), QStringLiteral("ok"));
    }

    // A database that cannot be opened stops the run before any module is touched.
    void unreachableDatabase_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("errHas");
        QTest::newRow("a folder") << "DIR" << "is not a regular file";
        QTest::newRow("wrong password") << "PGWRONG" << "password authentication failed";
    }
    void unreachableDatabase()
    {
        QFETCH(QString, target);
        QFETCH(QString, errHas);
        if (target == QLatin1String("DIR")) target = dir.path();
        if (target == QLatin1String("PGWRONG")) target = server.url(QStringLiteral("wrong"));
        BenchModule module(updateState());
        const Run r = runFlasher({QStringLiteral("--record=") + target, imagePath, module.line.path()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(errHas), qPrintable(r.err));
        QCOMPARE(module.line.packetsReceived(), 0);
    }

    // What a new user meets: each slip named, with the right status, nothing sent.
    void habits_data()
    {
        QTest::addColumn<QStringList>("args"); // PORT and IMAGE stand for a module's port and a good image
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errHas");
        QTest::newRow("arguments swapped") << QStringList{"PORT", "IMAGE"} << 2 << "the arguments seem swapped";
        QTest::newRow("unknown option") << QStringList{"--frobnicate", "IMAGE", "PORT"} << 2
                                        << "Try 'nwflash --help'.";
        QTest::newRow("no port") << QStringList{"IMAGE"} << 2 << "Try 'nwflash --help'.";
        QTest::newRow("time-out too short") << QStringList{"-t", "0.05", "IMAGE", "PORT"} << 2
                                            << "not a time-out from 0.1 to 3600 seconds: 0.05";
        QTest::newRow("pool without records") << QStringList{"--mac-pool=02:00:00:00:00:01-02:00:00:00:00:02", "IMAGE", "PORT"}
                                              << 2 << "need --record";
        QTest::newRow("reversed pool") << QStringList{"--record=DB", "--mac-pool=02:00:00:00:00:09-02:00:00:00:00:01", "IMAGE", "PORT"}
                                       << 1 << "is empty: its first address is above its last";
        QTest::newRow("pool past 48 bits") << QStringList{"--record=DB", "--mac-pool=02:00:00:00:00:01-1:02:00:00:00:00:02", "IMAGE", "PORT"}
                                           << 2 << "not a pool of two MAC addresses";
        QTest::newRow("a FIFO as the image") << QStringList{"FIFO", "PORT"} << 1 << "is not a regular file";
        QTest::newRow("port twice") << QStringList{"IMAGE", "PORT", "PORT"} << 2 << "port given twice";
    }
    void habits()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, errHas);
        BenchModule module(updateState());
        const QString fifo = dir.filePath(QStringLiteral("fifo.dfu"));
        ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
        const QHash<QString, QString> values{{"IMAGE", imagePath},
                                             {"PORT", module.line.path()},
                                             {"FIFO", fifo},
                                             {"--record=DB", "--record=" + freshDatabase(QStringLiteral("sqlite"))}};
        for (QString &a : args)
            a = values.value(a, a);
        const Run r = runFlasher(args, 20000);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(errHas), qPrintable(r.err));
        QCOMPARE(module.line.packetsReceived(), 0);
    }

    // Plain output ends each port with its 100 % line and result, and two ports with a summary; a second
    // program on a module's port is refused by the lock, naming it, even for root.
    void plainOutputAndLock()
    {
        SimOptions slow = updateState();
        slow.flashWriteUs = 500; // the holder keeps the port for about two seconds
        BenchModule one(updateState()), two(slow);
        QProcess holder;
        holder.start(nwflash, {QStringLiteral("-t"), QStringLiteral("30"), imagePath, two.line.path()});
        // The holder has the port once the module saw its first command.
        QTRY_VERIFY_WITH_TIMEOUT(two.line.packetsReceived() > 0, 20000);
        const Run locked = runFlasher({imagePath, two.line.path()});
        QCOMPARE(locked.status, 1);
        // Root passes the exclusive flag, so it meets the lock; anyone else is stopped by the flag first.
        QVERIFY2(locked.err.contains(QStringLiteral("another program holds the port's lock (flock on ")) ||
                     (geteuid() != 0 && locked.err.contains(QStringLiteral("another program has the port open"))),
                 qPrintable(locked.err));
        QSignalSpy holderDone(&holder, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        QVERIFY(holder.state() == QProcess::NotRunning || holderDone.wait(30000));
        QCOMPARE(holder.exitCode(), 0);

        BenchModule three(updateState());
        const Run r = runFlasher({imagePath, one.line.path(), three.line.path()});
        QCOMPARE(r.status, 0);
        for (const QString &port : {one.line.path(), three.line.path()}) {
            QVERIFY2(r.out.contains(port + QStringLiteral(": 100% (512000/512000 bytes)\n")), qPrintable(r.out));
            QVERIFY(r.out.contains(port + QStringLiteral(": booted: 512000 bytes in ")));
        }
        QVERIFY(r.out.endsWith(QStringLiteral("2 of 2 modules flashed\n")));
    }

    // On an 80-column terminal every redrawn line fits, however long the port's name, so the redraw lands
    // on its own lines instead of stacking wrapped copies.
    void terminalLinesFit()
    {
        Pty terminal;
        QVERIFY(terminal.ok());
        const int slave = ::open(QFile::encodeName(terminal.path).constData(), O_RDWR | O_NOCTTY);
        winsize ws{};
        ws.ws_col = 80;
        ws.ws_row = 24;
        QVERIFY(::ioctl(slave, TIOCSWINSZ, &ws) == 0);
        BenchModule one(updateState()), two(updateState());
        const QString longName =
            dir.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0-a-long-by-id-name"));
        QVERIFY(QFile::link(one.line.path(), longName));
        QProcess p;
        p.setStandardOutputFile(terminal.path);
        QSignalSpy ended(&p, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        p.start(nwflash, {imagePath, longName, two.line.path()});
        QVERIFY(ended.wait(60000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray screen = terminal.readIdle(500);
        ::close(slave);
        QVERIFY(screen.contains("booted"));
        // Each drawn line: from a carriage return to the clear-to-end that closes it.
        const QList<QByteArray> lines = screen.split('\r');
        int drawn = 0;
        for (QByteArray line : lines) {
            const int end = line.indexOf("\x1b[K");
            if (end < 0) continue;
            ++drawn;
            QVERIFY2(QString::fromUtf8(line.left(end)).size() < 80, line.constData());
        }
        QVERIFY(drawn >= 4);
        // The name keeps its end, where by-id names differ.
        QVERIFY(screen.contains("\r..." + longName.right(80 / 3 - 3).toUtf8() + "  "));
    }

    // A bench waits for a module, flashes it, waits for it to go, and takes the next one on the same port,
    // until Ctrl-C; then its summary.
    void benchMode()
    {
        const QString db = freshDatabase(QStringLiteral("sqlite"));
        const QString port = dir.filePath(QStringLiteral("ttyBench"));
        QFile::remove(port);
        QProcess p;
        p.start(nwflash, {QStringLiteral("--bench"), QStringLiteral("--record=") + db,
                          QStringLiteral("--mac-pool=02:4e:57:30:00:00-02:4e:57:30:00:0f"), imagePath, port});
        QVERIFY(p.waitForStarted());
        QList<QString> macs;
        QString seen;
        for (int i = 0; i < 2; ++i) {
            BenchModule module(updateState());
            QVERIFY(QFile::link(module.line.path(), port));
            QTRY_VERIFY_WITH_TIMEOUT(macText(module.device.mac()).startsWith(QStringLiteral("02:4e:57:30")), 60000);
            macs << macText(module.device.mac());
            // The record is written before the bench looks for the next module.
            QTRY_COMPARE_WITH_TIMEOUT(exportRecords(db).size(), i + 1, 20000);
            QVERIFY(QFile::remove(port));
            // Unplugged: the bench waits for the next module before one is plugged in.
            QTRY_VERIFY_WITH_TIMEOUT((seen += QString::fromLocal8Bit(p.readAllStandardOutput()))
                                             .count(QStringLiteral(": waiting for a module\n")) == i + 2,
                                     20000);
        }
        QCOMPARE(macs, (QList<QString>{"02:4e:57:30:00:00", "02:4e:57:30:00:01"}));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 130);
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        QVERIFY2(out.contains(QRegularExpression(QStringLiteral("2 modules ok, 0 failed, [0-9.]+ modules per hour\n$"))),
                 qPrintable(out));
    }

    // SIGTERM half-way closes the ports and names the module left with part of an image; a reader that goes
    // away does not end the upload.
    void signalsAndPipes()
    {
        SimOptions slow = updateState();
        slow.flashWriteUs = 500; // about two seconds for the image
        BenchModule module(slow);
        QProcess p;
        p.start(nwflash, {imagePath, module.line.path()});
        QTRY_VERIFY_WITH_TIMEOUT(module.line.packetsReceived() > 200, 20000);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 143);
        QVERIFY(QString::fromLocal8Bit(p.readAllStandardError())
                    .contains(module.line.path() + QStringLiteral(": interrupted before the module confirmed")));

        BenchModule piped(updateState());
        QProcess shell;
        QSignalSpy ended(&shell, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("set -o pipefail; '%1' '%2' '%3' | head -c 1; "
                                                                                "echo \" ${PIPESTATUS[0]}\"")
                                                                    .arg(nwflash, imagePath, piped.line.path())});
        QVERIFY(ended.wait(60000));
        QVERIFY(QString::fromLocal8Bit(shell.readAllStandardOutput()).endsWith(QStringLiteral(" 0\n")));
        QVERIFY(piped.device.flash() == image());
    }
};

NW_TEST(TestBench)
#include "tst_bench.moc"
