// velmo's captures against the simulated module: the recorded session equals what the module traced,
// and playing the file back gives the live session's log entries with the recorded times.
#include "capturereader.h"
#include "logclock.h"
#include "logview.h"
#include "mainwindow.h"
#include "simdevice.h"
#include "simline.h"
#include "testmain.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QPushButton>
#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
// A log entry without its timestamp: the item after it for decoded messages, the text after the
// bold prefix for plain lines.
QString body(const QStringList &entry)
{
    if (entry.size() > 1) return entry.mid(1).join('|');
    QString line = entry.first();
    if (line.endsWith(QLatin1String("<br>"))) line.chop(4);
    return line.mid(line.indexOf(QLatin1String("</b> ")) + 5);
}

QString stamp(const QStringList &entry)
{
    if (entry.size() > 1) return entry.first();
    const QString &line = entry.first();
    return line.left(line.indexOf(QLatin1String("</b> ")) + 5);
}

// What playing back can reproduce: the module's decoded answers and the raw lines of both directions.
// A command's own entry is made by the operation that sends it, which a capture does not hold.
QStringList traffic(const QList<QStringList> &entries)
{
    QStringList out;
    for (const QStringList &e : entries) {
        const QString b = body(e);
        if (b.startsWith("wifi_rsp") || b.startsWith("wifi_evt") || b.startsWith("RX: ") ||
            b.startsWith("TX: "))
            out << b;
    }
    return out;
}

} // namespace

class TestCaptureWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

private slots:
    void initTestCase()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        QSettings::setDefaultFormat(QSettings::NativeFormat);
    }

    void recordAndPlayBack()
    {
        const QString path = home.filePath("session.pcapng");
        SimOptions noisy;
        noisy.garbage = 2;
        SimDevice device(noisy);
        SimLine line(&device, noisy);
        QVERIFY(line.openPty());
        struct Traced {
            capture::Direction direction;
            QByteArray packet;
        };
        QList<Traced> trace;
        connect(&line, &SimLine::received, [&](const QByteArray &p) {
            trace.append({capture::Direction::Outbound, p});
        });
        connect(&line, &SimLine::sent, [&](const QByteArray &p) {
            trace.append({capture::Direction::Inbound, p});
        });

        QList<QStringList> live;
        {
            MainWindow w(std::make_unique<FixedPortEnumerator>());
            auto *log = w.findChild<LogView *>(QStringLiteral("textDebug"));
            QSignalSpy changed(&w, &MainWindow::captureChanged);
            QVERIFY(w.startCapture(path));
            QCOMPARE(w.captureFileName(), path);
            QCOMPARE(changed.size(), 1);
            // Shown in the window while it runs, and the button stops it.
            auto *status = w.findChild<QLabel *>(QStringLiteral("captureStatus"));
            auto *button = w.findChild<QPushButton *>(QStringLiteral("captureButton"));
            QVERIFY(status && button);
            QVERIFY(!status->isHidden());
            QCOMPARE(status->text(), QString::fromUtf8("● Capturing to ") + path);
            QCOMPARE(button->text(), QString("Stop capture"));
            auto *open = w.findChild<QPushButton *>(QStringLiteral("openCaptureButton"));
            QVERIFY(open && open->isEnabled());
            w.open_port(QStringLiteral("simulated"), line.path(), 115200);
            QVERIFY(!open->isEnabled()); // a capture is not played into a live session
            log->clearLog();
            QSignalSpy radioOn(&w.api().sme, SIGNAL(qml_evt_wifi_is_on(int)));
            QSignalSpy scanned(&w.api().sme, SIGNAL(qml_evt_scanned(int)));
            w.api().sme.qml_cmd_wifi_on();
            QTRY_COMPARE(radioOn.count(), 1);
            w.api().sme.qml_cmd_start_scan(0, QString());
            QTRY_COMPARE(scanned.count(), 1);
            w.api().config.qml_cmd_get_mac(0);
            QTRY_VERIFY(traffic(log->logEntries()).last().startsWith("RX: 8807"));
            // Commands with an address, an array and a negative number, each answered before the next,
            // so the host and the module see one order.
            QSignalSpy macSet(&w.api().config, SIGNAL(qml_rsp_set_mac(int, int)));
            w.api().config.qml_cmd_set_mac(1, QStringLiteral("02aabbccddee"));
            QTRY_COMPARE(macSet.count(), 1);
            QSignalSpy passwordSet(&w.api().sme, SIGNAL(qml_rsp_set_password(int)));
            w.api().sme.qml_cmd_set_password(QStringLiteral("6e773330302d64656d6f"));
            QTRY_COMPARE(passwordSet.count(), 1);
            QSignalSpy connected(&w.api().tcpip, SIGNAL(qml_rsp_tcp_connect(int, int)));
            w.api().tcpip.qml_cmd_tcp_connect(0x0a01a8c0, 80, -1);
            QTRY_COMPARE(connected.count(), 1);
            QTRY_VERIFY(traffic(log->logEntries()).last().startsWith("RX: 0803040100"));
            live = log->logEntries();
            w.close_port();
            w.stopCapture();
            QCOMPARE(w.captureFileName(), QString());
            QVERIFY(status->isHidden());
            QCOMPARE(button->text(), QString::fromUtf8("Capture…"));
        }

        // The file against the module's own trace: every packet, in order, both ways; the noise apart.
        CaptureReader reader;
        QVERIFY(reader.open(path));
        CapturedPacket p;
        QList<Traced> recorded;
        qint64 noise = 0, last = 0;
        QList<qint64> times;
        while (reader.next(p) == CaptureReader::Result::Packet) {
            QVERIFY(p.timeNs >= last);
            last = p.timeNs;
            if (p.isDiscarded()) {
                noise += p.data.size();
                continue;
            }
            recorded.append({p.direction, p.data});
            times << p.timeNs;
        }
        QCOMPARE(reader.errorString(), QString());
        QCOMPARE(reader.interfaces().size(), 1);
        QCOMPARE(reader.interfaces()[0].name, line.path());
        QCOMPARE(recorded.size(), trace.size());
        int sent = 0;
        for (int i = 0; i < trace.size(); ++i) {
            QCOMPARE(recorded[i].direction, trace[i].direction);
            QCOMPARE(recorded[i].packet.toHex(), trace[i].packet.toHex());
            sent += trace[i].direction == capture::Direction::Inbound;
        }
        QCOMPARE(noise, qint64(2) * sent);

        // Played back: the same entries as live, stamped with the recorded times.
        MainWindow w(std::make_unique<FixedPortEnumerator>());
        auto *log = w.findChild<LogView *>(QStringLiteral("textDebug"));
        log->clearLog();
        QSignalSpy finished(&w, &MainWindow::replayFinished);
        QVERIFY(w.openCapture(path));
        QVERIFY(w.replaying());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished[0][0].toBool(), true);
        QVERIFY(!w.replaying());
        const QList<QStringList> played = log->logEntries();
        const QStringList liveTraffic = traffic(live), playedTraffic = traffic(played);
        QCOMPARE(playedTraffic.size(), liveTraffic.size());
        for (int i = 0; i < liveTraffic.size(); ++i)
            QCOMPARE(playedTraffic[i], liveTraffic[i]);
        LogClock clock;
        const QString firstTx = "TX: " + recorded.first().packet.toHex();
        for (const QStringList &e : played) {
            if (body(e) == firstTx) {
                QCOMPARE(stamp(e), clock.prefix(times.first() / 1000000));
                break;
            }
        }
    }

    void latencyInTheFeed()
    {
        // A module that answers 150 ms late: the response's entry in the activity feed says so, live and
        // when the session is played back from its capture (then from the recorded times).
        const QString path = home.filePath("late.pcapng");
        SimOptions late;
        late.delayMs = 150;
        SimDevice device(late);
        SimLine line(&device, late);
        QVERIFY(line.openPty());
        auto newestLatency = [](MainWindow &w) {
            auto *list = w.qmlView()->rootObject()->findChild<QQuickItem *>(QStringLiteral("activityList"));
            auto *model = list
                              ? qobject_cast<QAbstractItemModel *>(list->property("model").value<QObject *>())
                              : nullptr;
            if (!model || model->rowCount() == 0) return QString();
            return model->data(model->index(0, 0), model->roleNames().key("latency")).toString();
        };
        {
            MainWindow w(std::make_unique<FixedPortEnumerator>());
            QVERIFY(w.startCapture(path));
            w.open_port(QStringLiteral("simulated"), line.path(), 115200);
            QSignalSpy answered(&w.api().system, SIGNAL(qml_rsp_hello()));
            w.api().system.qml_cmd_hello();
            QTRY_COMPARE(answered.count(), 1);
            const QString latency = newestLatency(w);
            QVERIFY2(latency.endsWith(" ms"), qPrintable(latency));
            const double ms = latency.chopped(3).toDouble();
            QVERIFY2(ms >= 150 && ms < 10000, qPrintable(latency));
            QCOMPARE(w.responseLatencyMs(), -1.0); // asked outside a response's decoding
            w.close_port();
            w.stopCapture();
        }
        MainWindow w(std::make_unique<FixedPortEnumerator>());
        QSignalSpy finished(&w, &MainWindow::replayFinished);
        QVERIFY(w.openCapture(path));
        QVERIFY(finished.wait(20000));
        const QString latency = newestLatency(w);
        QVERIFY2(latency.endsWith(" ms") && latency.chopped(3).toDouble() >= 150, qPrintable(latency));
    }

    void refusals()
    {
        MainWindow w(std::make_unique<FixedPortEnumerator>());
        auto *log = w.findChild<LogView *>(QStringLiteral("textDebug"));
        const QString text = home.filePath("notes.txt");
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("no capture here\n");
        }
        log->clearLog();
        QVERIFY(!w.openCapture(text));
        QVERIFY(!w.startCapture("/dev/full"));
        QVERIFY(!w.startCapture(home.path()));
        const QList<QStringList> lines = log->logEntries();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(body(lines[0]),
                 "<font color=red>" + text + " is not a capture file (neither pcapng nor pcap)</font>");
        QCOMPARE(
            body(lines[1]),
            QString(
                "<font color=red>Cannot capture: writing /dev/full failed: No space left on device</font>"));
        QCOMPARE(body(lines[2]), "<font color=red>Cannot capture: " + home.path() + " is a directory</font>");
        QCOMPARE(w.captureFileName(), QString());

        // With a port open, a capture is not played into the live session.
        SimDevice device;
        SimLine line(&device, SimOptions());
        QVERIFY(line.openPty());
        w.open_port(QStringLiteral("simulated"), line.path(), 115200);
        log->clearLog();
        QVERIFY(!w.openCapture(text));
        QCOMPARE(body(log->logEntries().value(0)),
                 QString("<font color=red>Close the port before opening a capture</font>"));
    }
};

NW_TEST(TestCaptureWindow)
#include "tst_capturewindow.moc"
