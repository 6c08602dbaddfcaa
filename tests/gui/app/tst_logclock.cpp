#include "logclock.h"
#include "testmain.h"

#include <QDateTime>
#include <QtTest>
#include <time.h>

// The cached offset against Qt's own local time, through daylight-saving changes and a change of
// the zone, with one clock for all rows so the cache carries over from row to row.
class TestLogClock : public QObject
{
    Q_OBJECT

    LogClock clock;
    QByteArray savedTz;

    void setZone(const QByteArray &tz)
    {
        qputenv("TZ", tz);
        tzset();
    }

private slots:
    void initTestCase() { savedTz = qgetenv("TZ"); }
    void cleanupTestCase()
    {
        if (savedTz.isEmpty())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedTz);
        tzset();
    }

    void matchesLocalTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("utc");

        QTest::newRow("before spring forward") << QByteArray("Europe/Berlin") << "2026-03-29T00:59:59.999Z";
        QTest::newRow("after spring forward") << QByteArray("Europe/Berlin") << "2026-03-29T01:00:00.000Z";
        QTest::newRow("last summer minute") << QByteArray("Europe/Berlin") << "2026-10-25T00:59:30.500Z";
        QTest::newRow("first winter minute") << QByteArray("Europe/Berlin") << "2026-10-25T01:00:00.005Z";
        // The zone changes: the next minute is in the new one.
        QTest::newRow("zone changed") << QByteArray("America/New_York") << "2026-10-25T01:01:00.040Z";
        QTest::newRow("quarter-hour zone") << QByteArray("Asia/Kathmandu") << "2026-10-25T01:02:59.999Z";
        QTest::newRow("new year") << QByteArray("Asia/Kathmandu") << "2025-12-31T18:15:00.000Z";
        QTest::newRow("UTC") << QByteArray("UTC") << "2026-01-01T00:00:00.001Z";
    }

    void matchesLocalTime()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, utc);
        setZone(zone);
        const qint64 msecs = QDateTime::fromString(utc, Qt::ISODateWithMs).toMSecsSinceEpoch();
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecs);
        const QString expected = "<b>" + local.toString(QStringLiteral("yyyy.MM.dd HH:mm:ss")) + ".0" +
                                 local.toString("zzz") + "</b> ";
        QCOMPARE(clock.prefix(msecs), expected);
    }

    // Now, as the window stamps its lines.
    void now()
    {
        setZone("Europe/Berlin");
        const QDateTime before = QDateTime::currentDateTime();
        const QString stamp = clock.prefix();
        const QDateTime after = QDateTime::currentDateTime();
        const QString fmt = QStringLiteral("'<b>'yyyy.MM.dd HH:mm:ss.0zzz'</b> '");
        QVERIFY2(stamp == before.toString(fmt) || stamp == after.toString(fmt) ||
                     (stamp > before.toString(fmt) && stamp < after.toString(fmt)),
                 qPrintable(stamp));
    }
};

NW_TEST(TestLogClock)
#include "tst_logclock.moc"
