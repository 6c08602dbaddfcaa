#include "logview.h"
#include "mainwindow.h"
#include "simdevice.h"
#include "simline.h"
#include "testmain.h"

#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace
{


// The message name of each decoded entry, and "RX"/"TX" for the raw lines, in log order.
QStringList kinds(const QList<QStringList> &entries)
{
    QStringList out;
    for (const QStringList &e : entries) {
        if (e.size() > 1) {
            out << e.at(1).trimmed();
        } else if (e.first().contains(QLatin1String("</b> RX: "))) {
            out << "RX";
        } else if (e.first().contains(QLatin1String("</b> TX: "))) {
            out << "TX";
        }
    }
    return out;
}

} // namespace

// velmo's own objects against the simulated module on a pseudo-terminal, with the shipped interface.
class TestEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

private slots:
    void initTestCase()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        QSettings::setDefaultFormat(QSettings::NativeFormat);
    }

    void sessionWithTheSimulatedModule()
    {
        SimDevice device;
        SimLine line(&device, SimOptions());
        QVERIFY(line.openPty());

        MainWindow w(std::make_unique<FixedPortEnumerator>());
        auto *log = w.findChild<LogView *>(QStringLiteral("textDebug"));
        QQuickItem *root = w.qmlView()->rootObject();
        QVERIFY(log && root);
        QSignalSpy attached(&w, &MainWindow::attached);
        w.open_port(QStringLiteral("simulated"), line.path(), 115200);
        QCOMPARE(attached.count(), 1);
        QCOMPARE(attached.takeFirst(), (QVariantList{true, "simulated", "115200"}));
        log->clearLog();

        // Wi-Fi on: the command, its response and the radio's event, each decoded before its raw line.
        QSignalSpy radioOn(&w.api().sme, SIGNAL(qml_evt_wifi_is_on(int)));
        w.api().sme.qml_cmd_wifi_on();
        QTRY_COMPARE(radioOn.count(), 1);
        QTRY_COMPARE(kinds(log->logEntries()),
                     (QStringList{"wifi_cmd_sme_wifi_on", "TX", "wifi_rsp_sme_wifi_on", "RX",
                                  "wifi_evt_sme_wifi_is_on", "RX"}));
        auto *radio = root->findChild<QQuickItem *>(QStringLiteral("radioStatus"));
        QCOMPARE(radio->property("text").toString(), QStringLiteral("OK  radio on"));

        // A scan: every access point of the module once in the list, then the end of the scan.
        log->clearLog();
        const int points = int(SimDevice::accessPoints().size());
        QSignalSpy scanned(&w.api().sme, SIGNAL(qml_evt_scanned(int)));
        w.api().sme.qml_cmd_start_scan(0, QString());
        QTRY_COMPARE(scanned.count(), 1);
        const QStringList k = kinds(log->logEntries());
        QCOMPARE(k.count(QStringLiteral("wifi_evt_sme_scan_result")), points);
        QCOMPARE(k.count(QStringLiteral("RX")), points + 2);
        QCOMPARE(k.last(), QStringLiteral("RX"));
        auto *networks = root->findChild<QQuickItem *>(QStringLiteral("networkList"));
        QCOMPARE(networks->property("count").toInt(), points);

        // The module hangs up: the port is closed once, with its reason in red, and the interface
        // forgets the module's networks.
        log->clearLog();
        line.hangUp();
        QTRY_COMPARE(attached.count(), 1);
        QTest::qWait(300);
        QCOMPARE(attached.count(), 1);
        QCOMPARE(attached.first(), (QVariantList{false, QString(), QString()}));
        QCOMPARE(networks->property("count").toInt(), 0);
        const QList<QStringList> lines = log->logEntries();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(
            lines.first().first().contains(QStringLiteral("<font color=red>Port %1 lost").arg(line.path())),
            qPrintable(lines.first().first()));

        // A port that cannot be opened names the system's reason.
        QSignalSpy failed(&w, &MainWindow::open_failed);
        w.open_port(QStringLiteral("gone"), line.path() + QStringLiteral("-gone"), 115200);
        QCOMPARE(attached.count(), 1);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(),
                 QStringLiteral("Could not open %1-gone: %2")
                     .arg(line.path(), QString::fromLocal8Bit(strerror(ENOENT))));
    }
};

NW_TEST(TestEndToEnd)
#include "tst_endtoend.moc"
