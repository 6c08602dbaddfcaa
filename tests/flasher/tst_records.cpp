// Bench records and the MAC pool, on a SQLite file and on a private PostgreSQL server: no address is ever
// handed out twice, by one bench, by two benches at once, or after a bench is killed mid-way.
#include "pgserver.h"
#include "recordstore.h"
#include "testmain.h"

#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <signal.h>

namespace
{

quint64 mac(const char *text)
{
    return *mac48::parse(QString::fromLatin1(text));
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    PgServer server;
    int fileCount = 0;

    // Runs statements on the database of the current row, as another program would.
    bool execute(const QString &database, const QStringList &statements)
    {
        QFETCH_GLOBAL(QString, engine);
        bool ok = false;
        {
            QSqlDatabase db;
            if (engine == QLatin1String("sqlite")) {
                db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("admin"));
                db.setDatabaseName(database);
            } else {
                db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
                db.setHostName(QStringLiteral("127.0.0.1"));
                db.setPort(server.port());
                db.setDatabaseName(QStringLiteral("postgres"));
                db.setUserName(PgServer::user());
                db.setPassword(PgServer::password());
            }
            ok = db.open();
            for (const QString &sql : statements) {
                QSqlQuery query(db);
                if (ok && !query.exec(sql)) {
                    qWarning() << sql << query.lastError().text();
                    ok = false;
                }
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("admin"));
        return ok;
    }

    // A database nobody has used yet on the engine of the current row.
    QString freshDatabase()
    {
        QFETCH_GLOBAL(QString, engine);
        if (engine == QLatin1String("sqlite")) return dir.filePath(QStringLiteral("r%1.sqlite").arg(++fileCount));
        execute(server.url(), {QStringLiteral("DROP TABLE IF EXISTS nw_records, nw_macs, nw_pools, nw_schema")});
        return server.url();
    }

    // Runs the worker; its printed addresses.
    static QStringList runWorker(const QString &db, const QString &bench, int count, int delayMs = 0)
    {
        QProcess p;
        p.start(QStringLiteral(NW_RECORDS_WORKER),
                {db, QStringLiteral("02:00:00:00:10:00"), QStringLiteral("02:00:00:00:10:ff"), QString::number(count),
                 bench, QString::number(delayMs)});
        if (!p.waitForFinished(120000) || p.exitCode() != 0) {
            qWarning() << p.readAllStandardError();
            return {};
        }
        return QString::fromLatin1(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QString why;
        QVERIFY2(server.start(&why), qPrintable(why));
    }

    void initTestCase_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

    void macText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value"); // -1: refused
        QTest::newRow("colons") << "02:00:5e:10:aa:FF" << qint64(0x02005e10aaffLL);
        QTest::newRow("dashes") << "02-00-5e-10-aa-ff" << qint64(0x02005e10aaffLL);
        QTest::newRow("plain") << "02005e10aaff" << qint64(0x02005e10aaffLL);
        QTest::newRow("highest") << "ff:ff:ff:ff:ff:ff" << qint64(0xffffffffffffLL);
        QTest::newRow("mixed separators") << "02:00-5e:10:aa:ff" << qint64(-1);
        QTest::newRow("five bytes") << "02:00:5e:10:aa" << qint64(-1);
        QTest::newRow("seven bytes") << "02:00:5e:10:aa:ff:01" << qint64(-1);
        QTest::newRow("not hex") << "02:00:5e:10:aa:fg" << qint64(-1);
    }
    void macText()
    {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        const auto parsed = mac48::parse(text);
        QCOMPARE(parsed.has_value(), value >= 0);
        if (parsed) {
            QCOMPARE(qint64(*parsed), value);
            QCOMPARE(mac48::format(*parsed), text.toLower().replace(QLatin1Char('-'), QLatin1Char(':')).length() == 17
                                                 ? text.toLower().replace(QLatin1Char('-'), QLatin1Char(':'))
                                                 : QStringLiteral("02:00:5e:10:aa:ff"));
        }
    }

    void poolsAreChecked()
    {
        RecordStore store;
        QString why;
        QVERIFY2(store.open(freshDatabase(), &why), qPrintable(why));
        QVERIFY(!store.pool(mac("02:00:00:00:00:10"), mac("02:00:00:00:00:0f"), &why));
        QCOMPARE(why, "the pool 02:00:00:00:00:10-02:00:00:00:00:0f is empty: its first address is above its last");
        QVERIFY(!store.pool(mac("01:00:00:00:00:00"), mac("01:00:00:00:00:0f"), &why));
        QVERIFY(why.contains("group (multicast)"));
        QVERIFY(!store.pool(mac("02:ff:ff:ff:ff:f0"), mac("03:00:00:00:00:0f"), &why));
        QVERIFY(why.contains("group (multicast)"));
        QVERIFY(!store.pool(0, quint64(1) << 48, &why));
        QCOMPARE(why, "a MAC address has 48 bits");

        const auto a = store.pool(mac("02:00:00:00:01:00"), mac("02:00:00:00:01:ff"), &why);
        QVERIFY2(a, qPrintable(why));
        // The same range again is the same pool; a range touching it in one address is another bench's pool.
        const auto again = store.pool(mac("02:00:00:00:01:00"), mac("02:00:00:00:01:ff"), &why);
        QVERIFY(again);
        QCOMPARE(again->id, a->id);
        QVERIFY(!store.pool(mac("02:00:00:00:01:ff"), mac("02:00:00:00:02:ff"), &why));
        QCOMPARE(why, "the pool 02:00:00:00:01:ff-02:00:00:00:02:ff overlaps the pool "
                      "02:00:00:00:01:00-02:00:00:00:01:ff of this database");
        QVERIFY(store.pool(mac("02:00:00:00:02:00"), mac("02:00:00:00:02:00"), &why));
    }

    // Reservation order, exhaustion, release and what each outcome does to an address.
    void addressLifecycle()
    {
        RecordStore store;
        QString why;
        QVERIFY2(store.open(freshDatabase(), &why), qPrintable(why));
        const auto pool = store.pool(mac("02:00:00:00:00:01"), mac("02:00:00:00:00:04"), &why);
        QVERIFY(pool);
        QList<quint64> got;
        for (int i = 0; i < 4; ++i) {
            const auto m = store.reserve(*pool, QStringLiteral("bench-a"), QStringLiteral("/dev/ttyUSB0"), &why);
            QVERIFY2(m, qPrintable(why));
            got << *m;
        }
        QCOMPARE(got, (QList<quint64>{mac("02:00:00:00:00:01"), mac("02:00:00:00:00:02"), mac("02:00:00:00:00:03"),
                                      mac("02:00:00:00:00:04")}));
        QVERIFY(!store.reserve(*pool, QStringLiteral("bench-a"), QStringLiteral("/dev/ttyUSB0"), &why));
        QCOMPARE(why, "the MAC pool 02:00:00:00:00:01-02:00:00:00:00:04 is exhausted");

        BenchRecord ok;
        ok.time = QDateTime::currentDateTimeUtc();
        ok.bench = QStringLiteral("bench-a");
        ok.ok = true;
        ok.assignedMac = got[0];
        QVERIFY2(store.commit(ok, &why), qPrintable(why));
        BenchRecord mismatch = ok;
        mismatch.ok = false;
        mismatch.macMismatch = true;
        mismatch.assignedMac = got[1];
        QVERIFY(store.commit(mismatch, &why));
        BenchRecord failed = ok;
        failed.ok = false;
        failed.assignedMac = got[2];
        QVERIFY(store.commit(failed, &why));

        QStringList states;
        for (const MacReservation &r : store.reservations())
            states << r.state;
        QCOMPARE(states, (QStringList{"assigned", "mismatch", "failed", "reserved"}));

        // Only an operator's release brings an address back, and never one a module carries.
        QVERIFY(!store.release(got[0], &why));
        QCOMPARE(why, "02:00:00:00:00:01 is assigned to a module; it is not released");
        QVERIFY(!store.release(mac("02:00:00:00:00:09"), &why));
        QCOMPARE(why, "02:00:00:00:00:09 was never handed out from a pool of this database");
        QVERIFY(store.release(got[3], &why));
        QVERIFY(store.release(got[1], &why));
        const auto first = store.reserve(*pool, QStringLiteral("bench-b"), QStringLiteral("/dev/ttyUSB1"), &why);
        const auto second = store.reserve(*pool, QStringLiteral("bench-b"), QStringLiteral("/dev/ttyUSB1"), &why);
        QVERIFY(first && second);
        QCOMPARE(*first, got[1]);
        QCOMPARE(*second, got[3]);
        QVERIFY(!store.reserve(*pool, QStringLiteral("bench-b"), QStringLiteral("/dev/ttyUSB1"), &why));

        // Settling an address that was never reserved is refused, and takes the record with it.
        BenchRecord stray = ok;
        stray.assignedMac = mac("02:00:00:00:00:77");
        QVERIFY(!store.commit(stray, &why));
        QCOMPARE(store.records().size(), 3);
    }

    void recordsRoundTripAndCsv()
    {
        RecordStore store;
        QString why;
        QVERIFY2(store.open(freshDatabase(), &why), qPrintable(why));
        BenchRecord r;
        r.time = QDateTime(QDate(2026, 12, 8), QTime(13, 5, 7, 250), Qt::UTC);
        r.bench = QStringLiteral("host1");
        r.benchId = QStringLiteral("line 2, \"east\"");
        r.port = QStringLiteral("/dev/ttyUSB3");
        r.usbSerial = QStringLiteral("A50285BI");
        r.imageName = QStringLiteral("wifi.dfu");
        r.imageSize = 512000;
        r.imageCrc = 0x89abcdef;
        r.macBefore = QStringLiteral("00:07:80:00:00:01");
        r.reason = QStringLiteral("no response\nfrom the module");
        r.durationMs = 1234;
        r.retries = 2;
        QVERIFY2(store.commit(r, &why), qPrintable(why));

        const QList<BenchRecord> back = store.records();
        QCOMPARE(back.size(), 1);
        QCOMPARE(back[0].time, r.time);
        QCOMPARE(back[0].benchId, r.benchId);
        QCOMPARE(back[0].imageCrc, r.imageCrc);
        QCOMPARE(back[0].reason, r.reason);
        QCOMPARE(back[0].retries, 2);
        QVERIFY(!back[0].ok);
        QVERIFY(!back[0].assignedMac);

        QString csv;
        QTextStream out(&csv);
        QVERIFY(store.exportCsv(out, &why));
        QCOMPARE(csv, QStringLiteral("time,bench,bench_id,port,usb_serial,image,image_size,image_crc32,mac_before,"
                                     "mac_after,assigned_mac,result,reason,duration_ms,retries\r\n"
                                     "2026-12-08T13:05:07.250Z,host1,\"line 2, \"\"east\"\"\",/dev/ttyUSB3,A50285BI,"
                                     "wifi.dfu,512000,89abcdef,00:07:80:00:00:01,,,failed,\"no response\nfrom the "
                                     "module\",1234,2\r\n"));
    }

    // Two benches drawing from one pool at once, then one killed mid-way: every address once.
    void benchesShareOnePool()
    {
        const QString db = freshDatabase();
        {
            RecordStore init; // tables made before the race, as an operator's first run would
            QString why;
            QVERIFY2(init.open(db, &why), qPrintable(why));
        }
        QProcess a, b;
        for (QProcess *p : {&a, &b})
            p->start(QStringLiteral(NW_RECORDS_WORKER),
                     {db, QStringLiteral("02:00:00:00:10:00"), QStringLiteral("02:00:00:00:10:ff"), QStringLiteral("8"),
                      p == &a ? QStringLiteral("bench-a") : QStringLiteral("bench-b")});
        QStringList all;
        for (QProcess *p : {&a, &b}) {
            QVERIFY(p->waitForFinished(120000));
            QCOMPARE(p->exitCode(), 0);
            all += QString::fromLatin1(p->readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        }
        QCOMPARE(all.size(), 16);
        QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), 16);

        // A bench killed between reserving and recording keeps its reservation out of use.
        QProcess dying;
        dying.start(QStringLiteral(NW_RECORDS_WORKER),
                    {db, QStringLiteral("02:00:00:00:10:00"), QStringLiteral("02:00:00:00:10:ff"), QStringLiteral("8"),
                     QStringLiteral("bench-dead"), QStringLiteral("3000")});
        QVERIFY(dying.waitForReadyRead(60000));
        const QString held = QString::fromLatin1(dying.readLine()).trimmed();
        ::kill(pid_t(dying.processId()), SIGKILL);
        QVERIFY(dying.waitForFinished(10000));

        const QStringList after = runWorker(db, QStringLiteral("bench-c"), 8);
        QCOMPARE(after.size(), 8);
        QStringList every = all + after + QStringList{held};
        QCOMPARE(QSet<QString>(every.begin(), every.end()).size(), 25);

        RecordStore store;
        QString why;
        QVERIFY(store.open(db, &why));
        const QList<MacReservation> reserved = store.reservations(QStringLiteral("reserved"));
        QCOMPARE(reserved.size(), 1);
        QCOMPARE(mac48::format(reserved[0].mac), held);
        QCOMPARE(reserved[0].bench, "bench-dead");
        QCOMPARE(store.records().size(), 24);
    }

    void badTargets()
    {
        QFETCH_GLOBAL(QString, engine);
        RecordStore store;
        QString why;
        if (engine == QLatin1String("sqlite")) {
            QVERIFY(!store.open(dir.path(), &why));
            QCOMPARE(why, "cannot open the record database " + dir.path() + ": " + dir.path() + " is not a regular file");
            QVERIFY(!store.open(dir.filePath("missing/records.sqlite"), &why));
            QCOMPARE(why, "cannot open the record database " + dir.filePath("missing/records.sqlite") +
                              ": the folder " + dir.filePath("missing") + " does not exist");
        } else {
            QVERIFY(!store.open(server.url(QStringLiteral("wrong")), &why));
            QVERIFY2(why.contains("password authentication failed"), qPrintable(why));
            QVERIFY(!store.open(QStringLiteral("postgresql://nwtest@127.0.0.1"), &why));
            QVERIFY(why.contains("not a database URL"));
        }
    }

    // A database whose tables another program (or a newer nwflash) made is refused with the reason.
    void foreignContentsAreRefused()
    {
        QString why;
        const QString newer = freshDatabase();
        {
            RecordStore store;
            QVERIFY2(store.open(newer, &why), qPrintable(why));
        }
        QVERIFY(execute(newer, {QStringLiteral("UPDATE nw_schema SET version = %1").arg(RecordStore::schemaVersion + 1)}));
        RecordStore store;
        QVERIFY(!store.open(newer, &why));
        QVERIFY2(!why.contains(PgServer::password()), qPrintable(why));
        QVERIFY2(why.endsWith(QStringLiteral("its records were written by a newer nwflash (schema %1, this one reads %2)")
                                  .arg(RecordStore::schemaVersion + 1)
                                  .arg(RecordStore::schemaVersion)),
                 qPrintable(why));

        const QString foreign = freshDatabase();
        QVERIFY(execute(foreign, {QStringLiteral("CREATE TABLE nw_pools (id INTEGER, owner TEXT)")}));
        RecordStore other;
        QVERIFY2(other.open(foreign, &why), qPrintable(why));
        why.clear();
        QVERIFY(!other.pool(mac("02:00:00:00:00:01"), mac("02:00:00:00:00:04"), &why));
        QVERIFY2(why.contains(QLatin1String("first_mac")), qPrintable(why));
    }

    // A SQLite file another process holds locked is waited for a bounded time, then named as locked.
    void lockedFileIsWaitedFor()
    {
        QFETCH_GLOBAL(QString, engine);
        if (engine != QLatin1String("sqlite")) return;
        const QString path = freshDatabase();
        RecordStore store;
        QString why;
        QVERIFY(store.open(path, &why));
        const auto pool = store.pool(mac("02:00:00:00:00:01"), mac("02:00:00:00:00:04"), &why);
        QVERIFY(pool);
        QProcess holder;
        holder.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import sqlite3,sys,time\nc=sqlite3.connect(sys.argv[1],isolation_level=None)\n"
                                     "c.execute('BEGIN EXCLUSIVE')\nprint('locked',flush=True)\ntime.sleep(30)"),
                      path});
        QVERIFY(holder.waitForReadyRead(20000));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!store.reserve(*pool, QStringLiteral("b"), QStringLiteral("p"), &why));
        QCOMPARE(why, "the database is locked by another process (waited 5 s)");
        QVERIFY(timer.elapsed() >= RecordStore::busyTimeoutMs - 500);
        holder.kill();
        holder.waitForFinished();
        QVERIFY(store.reserve(*pool, QStringLiteral("b"), QStringLiteral("p"), &why));
    }
};

NW_TEST(TestRecords)
#include "tst_records.moc"
