#include "logview.h"
#include "mainwindow.h"
#include "scratchsettings.h"
#include "portmonitor.h"
#include "pty.h"
#include "testmain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGraphicsView>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{


std::unique_ptr<MainWindow> makeWindow(QList<PortInfo> ports = {})
{
    return std::make_unique<MainWindow>(std::make_unique<FixedPortEnumerator>(std::move(ports)));
}

// A log entry without its timestamp: a one-text line as its text, a decoded message as its items
// joined by '|'.
QStringList untimed(const QList<QStringList> &entries)
{
    static const QRegularExpression prefix(
        QStringLiteral("^<b>[ \\d]{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{4}</b> "));
    QStringList out;
    for (QStringList e : entries) {
        if (e.size() == 1) {
            QString line = e.first();
            if (!line.contains(prefix) || !line.endsWith(QLatin1String("<br>"))) return {"bad: " + line};
            out.append(line.remove(prefix).chopped(4));
        } else {
            if (!e.first().contains(prefix)) return {"bad: " + e.first()};
            e.removeFirst();
            out.append(e.join(QLatin1Char('|')));
        }
    }
    return out;
}

QQuickItem *item(MainWindow &w, const char *name)
{
    return w.qmlView()->rootObject()->findChild<QQuickItem *>(QLatin1String(name));
}

const QString wifiOnRsp =
    QStringLiteral("wifi_rsp_sme_wifi_on\t| result:0x0000 [<font color=green>'No Error'</font>]");

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QTemporaryDir work;
    QString startDir;

    LogView *log(MainWindow &w) { return w.findChild<LogView *>(QStringLiteral("textDebug")); }
    QLineEdit *line(MainWindow &w) { return w.findChild<QLineEdit *>(QStringLiteral("lineCommand")); }
    QCheckBox *check(MainWindow &w, const char *name)
    {
        return w.findChild<QCheckBox *>(QLatin1String(name));
    }

private slots:
    void initTestCase()
    {
        useScratchSettings(home.path());
        startDir = QDir::currentPath();
        // The window loads "wifi.xml" and "main.qml" from the working directory.
        QVERIFY(QFile::copy(QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml"), work.filePath("wifi.xml")));
        QVERIFY(QDir::setCurrent(work.path()));
    }

    void cleanupTestCase() { QDir::setCurrent(startDir); }

    void cleanup() { QFile::remove(work.filePath("main.qml")); }

    void startupSignalsReachTheInterface()
    {
        QFile qml(work.filePath("main.qml"));
        QVERIFY(qml.open(QIODevice::WriteOnly));
        qml.write(R"(import QtQuick 2.15
Item {
    property var events: []
    Connections {
        target: mainobj
        function onBaud_rate(text, value) { events.push("baud " + text + " " + value) }
        function onSelect_baud_rate(value) { events.push("select " + value + " shown:" + mainobj.visible) }
        function onDfuEraseKeysChanged() { events.push("erase " + mainobj.dfuEraseKeys + " " + project.valid) }
    }
    Connections {
        target: project
        function onProjectFileChanged() { events.push("project " + project.projectFile) }
    }
    Component.onCompleted: {
        comm.ClearDevices.connect(function() { events.push("clear") })
        comm.DeviceFound.connect(function(name, port) { events.push("found " + name + " " + port) })
    }
}
)");
        qml.close();
        // The stored project is open before the interface hears of the stored erase setting.
        const QString projectFile = work.filePath("startup.xml");
        QFile project(projectFile);
        QVERIFY(project.open(QIODevice::WriteOnly));
        project.write("<project/>");
        project.close();
        QSettings().setValue("projectFile", projectFile);
        QSettings().setValue("dfuEraseKeys", true);

        auto w = makeWindow({{"USB serial (ttyUSB0)", "/dev/ttyUSB0"}, {"ttyS0", "/dev/ttyS0"}});
        QSettings().remove("projectFile");
        QSettings().remove("dfuEraseKeys");
        QQuickItem *root = w->qmlView()->rootObject();
        QVERIFY(root);
        const QStringList events = root->property("events").toStringList();

        QStringList expected;
        for (const char *rate :
             {"5000000", "2500000", "2000000", "1000000", "500000", "256000", "128000", "115200", "57600",
              "38400", "19200", "14400", "9600", "4800", "2400", "1200", "600", "300", "110"})
            expected << QStringLiteral("baud %1 %1").arg(rate);
        expected << "select 115200 shown:false"
                 << "clear"
                 << "found USB serial (ttyUSB0) /dev/ttyUSB0"
                 << "found ttyS0 /dev/ttyS0"
                 << "project " + projectFile << "erase true true";
        QCOMPARE(events, expected);
        QCOMPARE(w->flowcontrol(), true);
    }

    // The shipped interface, driven through a session, without a single QML warning or error.
    void builtInInterfaceLoadsCleanly()
    {
        QStringList warnings;
        static QStringList *sink;
        sink = &warnings;
        QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &msg) {
                const QString category = QString::fromLatin1(context.category);
                if (type != QtDebugMsg && type != QtInfoMsg &&
                    (msg.contains(QLatin1String("qml")) || category == "qml" || category == "js"))
                    sink->append(msg);
            });
        {
            auto w = makeWindow({{"ttyS0", "/dev/ttyS0"}});
            QCOMPARE(w->qmlView()->status(), QQuickView::Ready);
            QVERIFY(w->qmlView()->rootObject());
            QVERIFY(w->qmlView()->errors().isEmpty());
            connect(w->qmlView()->engine(), &QQmlEngine::warnings, w.get(),
                    [&](const QList<QQmlError> &list) {
                        for (const QQmlError &e : list)
                            warnings.append(e.toString());
                    });
            QCOMPARE(w->windowTitle(), QStringLiteral("Halvane NW300 GUI"));
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            emit w->open_failed("Could not open /dev/ttyS0: Permission denied");
            emit w->attached(true, "ttyS0", "115200");
            // Responses and events reach the interface's handlers without a script error.
            emit w->api().sme.qml_rsp_wifi_on(0x181);
            emit w->api().sme.qml_evt_wifi_is_on(0);
            emit w->api().sme.qml_rsp_start_scan(0);
            emit w->api().sme.qml_evt_scan_result("0a0b0c0d0e0f", 6, -40, 20, 1, "4e57");
            emit w->api().sme.qml_evt_scanned(0);
            emit w->api().system.qml_evt_boot(1, 2, 3, 4, 5, 6, 7);
            emit w->api().config.qml_evt_mac_address(0, "020000000001");
            emit w->api().flash.qml_evt_ps_key(3, "6869");
            w->copyFlowChart();
            QTest::qWait(200);
            emit w->attached(false, "", "");
            QTest::qWait(100);
        }
        qInstallMessageHandler(previous);
        QCOMPARE(warnings, QStringList());
    }

    // What the shipped interface shows follows the port: pages need it, results carry their text,
    // networks are one row each, and the previous module's data goes with its port.
    void shippedInterfaceFollowsThePort()
    {
        auto w = makeWindow({{"USB serial", "/dev/ttyUSB0"}});
        QQuickItem *wifiPage = item(*w, "wifiPage");
        QQuickItem *networks = item(*w, "networkList");
        QQuickItem *radio = item(*w, "radioStatus");
        QVERIFY(wifiPage && networks && radio);
        for (const char *page : {"systemPage", "wifiPage", "networkPage", "hardwarePage", "storagePage"})
            QCOMPARE(item(*w, page)->isEnabled(), false);

        emit w->attached(true, "USB serial", "115200");
        QCOMPARE(wifiPage->isEnabled(), true);

        // The formatter's text for 0x0181.
        emit w->api().sme.qml_rsp_wifi_on(0x181);
        QCOMPARE(radio->property("text").toString(),
                 QStringLiteral("0x0181 Device is in wrong state to accept command"));
        emit w->api().sme.qml_rsp_wifi_on(0);
        QCOMPARE(radio->property("text").toString(), QStringLiteral("OK"));

        // The same access point twice, then 300 others: one row each, at most 200.
        emit w->api().sme.qml_evt_scan_result("0a0b0c0d0e0f", 6, -40, 20, 1, "4e57");
        emit w->api().sme.qml_evt_scan_result("0a0b0c0d0e0f", 6, -38, 20, 1, "4e57");
        QCOMPARE(networks->property("count").toInt(), 1);
        for (int i = 0; i < 300; ++i) {
            const QString bssid = QString::number(0x020000000000LL + i, 16).rightJustified(12, QChar(48));
            emit w->api().sme.qml_evt_scan_result(bssid, 1, -70, 5, 0, "");
        }
        QCOMPARE(networks->property("count").toInt(), 200);

        emit w->attached(false, "", "");
        QCOMPARE(wifiPage->isEnabled(), false);
        QCOMPARE(networks->property("count").toInt(), 0);
        QCOMPARE(radio->property("text").toString(), QString());
    }

    void portChoiceKeptAcrossListings_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("typed path") << -1 << "/dev/pts/77"
                                    << "/dev/pts/77";
        QTest::newRow("listed port") << 1 << ""
                                     << "USB serial";
        QTest::newRow("nothing chosen") << -1 << ""
                                        << "ttyS0";
    }

    void portChoiceKeptAcrossListings()
    {
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        auto w = makeWindow({{"ttyS0", "/dev/ttyS0"}, {"USB serial", "/dev/ttyUSB0"}});
        QQuickItem *box = item(*w, "portBox");
        QVERIFY(box);
        box->setProperty("currentIndex", row);
        if (row < 0) box->setProperty("editText", typed);
        w->refresh_ports();
        QCOMPARE(box->property("editText").toString(), shown);
    }

    void traffic_data()
    {
        QTest::addColumn<bool>("comm");
        QTest::addColumn<bool>("text");
        QTest::addColumn<QStringList>("rxLog");
        QTest::addColumn<QStringList>("txLog");

        QTest::newRow("both") << true << true << QStringList{wifiOnRsp, "RX: 080203000000"}
                              << QStringList{"wifi_cmd_sme_wifi_on\t", "TX: 08000300"};
        QTest::newRow("text only") << false << true << QStringList{wifiOnRsp}
                                   << QStringList{"wifi_cmd_sme_wifi_on\t"};
        QTest::newRow("comm only") << true << false << QStringList{"RX: 080203000000"}
                                   << QStringList{"TX: 08000300"};
        QTest::newRow("neither") << false << false << QStringList() << QStringList();
    }

    // Filters only hide lines: the packets still travel both ways.
    void traffic()
    {
        QFETCH(bool, comm);
        QFETCH(bool, text);
        QFETCH(QStringList, rxLog);
        QFETCH(QStringList, txLog);

        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        auto w = makeWindow();
        check(*w, "checkLogHex")->setChecked(comm);
        check(*w, "checkLogText")->setChecked(text);
        LogView *view = log(*w);
        w->open_port(QStringLiteral("pty"), pty.path, 115200);
        QVERIFY(w->connection().device());

        QSignalSpy responses(&w->api().sme, SIGNAL(qml_rsp_wifi_on(int)));
        QVERIFY(pty.write(QByteArray::fromHex("080203000000")));
        QTRY_COMPARE(responses.count(), 1);
        QTest::qWait(50);
        QCOMPARE(untimed(view->logEntries()), rxLog);

        view->clearLog();
        w->api().sme.qml_cmd_wifi_on();
        QCOMPARE(untimed(view->logEntries()), txLog);
        QCOMPARE(pty.readIdle().toHex(), QByteArray("08000300"));
    }

    void typedCommand_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("sent");

        QTest::newRow("by name") << "sme_wifi_on" << QByteArray("08000300");
        QTest::newRow("by full name") << "wifi_cmd_sme_wifi_on" << QByteArray("08000300");
        QTest::newRow("hex with blanks") << "08 00 03 00" << QByteArray("08000300");
        QTest::newRow("unknown command") << "sme_no_such" << QByteArray();
        QTest::newRow("bad length field") << "08010300" << QByteArray();
    }

    // A typed packet goes out as typed, unlogged; a failed one stays on the line.
    void typedCommand()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, sent);

        Pty pty;
        auto w = makeWindow();
        w->open_port(QStringLiteral("pty"), pty.path, 115200);
        QLineEdit *edit = line(*w);
        edit->setText(typed);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(pty.readIdle().toHex(), sent);
        QCOMPARE(edit->text(), sent.isEmpty() ? typed : QString());
        // A line that gives no packet leaves one red line saying why.
        const QStringList logged = untimed(log(*w)->logEntries());
        QCOMPARE(logged.size(), sent.isEmpty() ? 1 : 0);
        if (sent.isEmpty()) QVERIFY2(logged.first().startsWith("<font color=red>"), qPrintable(logged.first()));
    }

    void commandLineColour_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QString>("tip");

        QTest::newRow("valid") << "sme_wifi_on" << QColor(Qt::black) << QString();
        QTest::newRow("wrong argument count")
            << "sme_wifi_on 1" << QColor(Qt::red)
            << "<nobr><b>wifi_cmd_sme_wifi_on</b></nobr><br>Command requires exactly 0 arguments";
        QTest::newRow("odd hex") << "080" << QColor(Qt::red) << QString();
    }

    void commandLineColour()
    {
        QFETCH(QString, typed);
        QFETCH(QColor, colour);
        QFETCH(QString, tip);

        auto w = makeWindow();
        QLineEdit *edit = line(*w);
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->palette().color(QPalette::Active, QPalette::Text), colour);
        QCOMPARE(edit->palette().color(QPalette::Inactive, QPalette::Text), colour);
        if (!tip.isEmpty()) {
            QVERIFY(QToolTip::isVisible());
            QCOMPARE(QToolTip::text(), tip);
        }

        // Emptying the line makes it valid again.
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), QString());
        QCOMPARE(edit->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::black));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    void openAndClose()
    {
        Pty pty;
        auto w = makeWindow();
        QSignalSpy attached(w.get(), &MainWindow::attached);

        w->open_port(QStringLiteral("no such"), QStringLiteral("/nonexistent/tty"), 9600);
        QCOMPARE(attached.count(), 0);

        w->open_port(QStringLiteral("test line"), pty.path, 57600);
        QCOMPARE(attached.count(), 1);
        QCOMPARE(attached.takeFirst(), (QVariantList{true, "test line", "57600"}));

        w->raw_tx(0x1ab);
        QCOMPARE(pty.readIdle().toHex(), QByteArray("ab"));

        w->close_port();
        w->close_port();
        QCOMPARE(attached.count(), 2);
        QCOMPARE(attached.at(0), (QVariantList{false, QString(), QString()}));
        QCOMPARE(attached.at(1), (QVariantList{false, QString(), QString()}));
    }

    // A port that cannot be opened says why, in the log and to the interface; nothing attaches.
    void openFailureSaysWhy()
    {
        auto w = makeWindow();
        LogView *view = log(*w);
        view->clearLog();
        check(*w, "checkLogHex")->setChecked(false);
        check(*w, "checkLogText")->setChecked(false);
        QSignalSpy attached(w.get(), &MainWindow::attached);
        QSignalSpy failed(w.get(), &MainWindow::open_failed);

        w->open_port(QStringLiteral("gone"), QStringLiteral("/nonexistent/<tty>"), 9600);
        QCOMPARE(attached.count(), 0);
        QCOMPARE(failed.count(), 1);
        const QString reason = failed.first().first().toString();
        QVERIFY2(reason.startsWith(QLatin1String("Could not open /nonexistent/<tty>")), qPrintable(reason));
        QVERIFY2(reason.contains(QString::fromLocal8Bit(strerror(ENOENT))), qPrintable(reason));
        // Shown whatever the filters say, and the path cannot inject markup.
        QCOMPARE(untimed(view->logEntries()),
                 QStringList("<font color=red>" + reason.toHtmlEscaped() + "</font>"));
    }

    // A port lost by itself: its reason in red, then the interface sees the port closed, once.
    void lostPortReachesInterface()
    {
        Pty pty;
        auto w = makeWindow();
        w->open_port(QStringLiteral("pty"), pty.path, 115200);
        LogView *view = log(*w);
        view->clearLog();
        QStringList order;
        connect(w.get(), &MainWindow::attached, w.get(), [&](bool open, QString port, QString baud) {
            order << QStringLiteral("attached %1 '%2' '%3' after %4 lines")
                         .arg(open)
                         .arg(port, baud)
                         .arg(view->logEntries().size());
        });
        const QString why = QStringLiteral("Port %1 lost: the device hung up").arg(pty.path);
        emit w->connection().LinkError(why);
        emit w->connection().DeviceClosed();
        QCOMPARE(order, QStringList("attached 0 '' '' after 1 lines"));
        QCOMPARE(untimed(view->logEntries()), QStringList("<font color=red>" + why + "</font>"));
    }

    void closeWithoutPort()
    {
        auto w = makeWindow();
        QSignalSpy attached(w.get(), &MainWindow::attached);
        w->close_port();
        QCOMPARE(attached.count(), 1);
        QCOMPARE(attached.first(), (QVariantList{false, QString(), QString()}));
    }

    void timestamp_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("prefix");

        QTest::newRow("5 ms") << QDateTime(QDate(2026, 3, 2), QTime(9, 3, 7, 5))
                              << "<b>2026.03.02 09:03:07.0005</b> ";
        QTest::newRow("999 ms") << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999))
                                << "<b>2026.12.31 23:59:59.0999</b> ";
        QTest::newRow("midnight") << QDateTime(QDate(2025, 1, 1), QTime(0, 0))
                                  << "<b>2025.01.01 00:00:00.0000</b> ";
        QTest::newRow("short year") << QDateTime(QDate(999, 7, 4), QTime(12, 30, 5, 40))
                                    << "<b> 999.07.04 12:30:05.0040</b> ";
    }

    void timestamp()
    {
        QFETCH(QDateTime, when);
        QFETCH(QString, prefix);
        QCOMPARE(MainWindow::timestampPrefix(when), prefix);
    }

    void debugPrintFilters()
    {
        auto w = makeWindow();
        LogView *view = log(*w);
        view->clearLog();
        check(*w, "checkLogText")->setChecked(false);
        check(*w, "checkLogHex")->setChecked(false);
        w->debugPrintText("a");
        w->debugPrintHex("b");
        w->debugPrintStringList({"c", "d"});
        w->debugPrint("always");
        w->debugPrintList({"x", "y"});
        check(*w, "checkLogText")->setChecked(true);
        w->debugPrintText("e");
        w->debugPrintStringList({"f", "g"});
        w->debugPrintHex("h");
        check(*w, "checkLogHex")->setChecked(true);
        w->debugPrintHex("i");
        QCOMPARE(untimed(view->logEntries()), (QStringList{"always", "x|y", "e", "f|g", "i"}));
    }

    void widgets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("text");
        QTest::newRow("command line") << "lineCommand"
                                      << "QLineEdit"
                                      << "Enter command or hex string to send here";
        QTest::newRow("label") << "label_10"
                               << "QLabel"
                               << "Show:";
        QTest::newRow("comm") << "checkLogHex"
                              << "QCheckBox"
                              << "Comm";
        QTest::newRow("text") << "checkLogText"
                              << "QCheckBox"
                              << "Text";
        QTest::newRow("scroll") << "checkLogScroll"
                                << "QCheckBox"
                                << "Scroll";
        QTest::newRow("copy") << "pushLogCopy"
                              << "QPushButton"
                              << "Copy to Clipboard";
        QTest::newRow("clear") << "pushLogClear"
                               << "QPushButton"
                               << "Clear";
        QTest::newRow("log pane") << "textDebug"
                                  << "LogView"
                                  << "";
        QTest::newRow("interface frame") << "frame"
                                         << "QWidget"
                                         << "";
        QTest::newRow("splitter") << "splitter"
                                  << "QSplitter"
                                  << "";
    }

    // The window as built from its form: names, kinds, texts, sizes, and what is checked at start.
    void widgets()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, text);
        auto w = makeWindow();
        QCOMPARE(w->size(), QSize(1100, 704));
        // Below the central widget: the project dialogs have widgets of the same names.
        QCOMPARE(w->centralWidget()->objectName(), QStringLiteral("centralWidget"));
        QWidget *widget = w->centralWidget()->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        if (auto *edit = qobject_cast<QLineEdit *>(widget))
            QCOMPARE(edit->placeholderText(), text);
        else if (!text.isEmpty())
            QCOMPARE(widget->property("text").toString(), text);
        if (auto *box = qobject_cast<QCheckBox *>(widget)) QCOMPARE(box->isChecked(), true);
        // Small enough for the window to fit an 800 x 600 screen with the log pane below.
        if (name == "frame") QCOMPARE(widget->minimumSize(), QSize(560, 320));
        if (name == "splitter") QCOMPARE(static_cast<QSplitter *>(widget)->orientation(), Qt::Vertical);
        if (name == "textDebug")
            QCOMPARE(static_cast<QGraphicsView *>(widget)->viewportUpdateMode(),
                     QGraphicsView::MinimalViewportUpdate);
    }

    // Each log control reaches the log pane.
    void logControls()
    {
        auto w = makeWindow();
        LogView *view = log(*w);
        view->clearLog();
        w->debugPrint("plain");
        w->debugPrintList({"wifi_cmd_sme_wifi_on\t"});

        QApplication::clipboard()->clear();
        QTest::mouseClick(w->findChild<QPushButton *>("pushLogCopy"), Qt::LeftButton);
        QVERIFY(QApplication::clipboard()->mimeData()->html().contains(QLatin1String("plain<br><br />")));

        auto *action = w->findChild<QAction *>("actionLogToFlowChart");
        QVERIFY(action && w->actions().contains(action));
        QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+F")));
        QCOMPARE(action->text(), QStringLiteral("logToFlowChart"));
        action->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("A -> B: wifi_cmd_sme_wifi_on\t\n\n"));

        QCOMPARE(view->scrolling(), true);
        QTest::mouseClick(check(*w, "checkLogScroll"), Qt::LeftButton);
        QCOMPARE(view->scrolling(), false);
        QTest::mouseClick(check(*w, "checkLogScroll"), Qt::LeftButton);
        QCOMPARE(view->scrolling(), true);

        QTest::mouseClick(w->findChild<QPushButton *>("pushLogClear"), Qt::LeftButton);
        QCOMPARE(view->logEntries().size(), 0);
    }

    // The flow chart's shortcut works while the interface has the keyboard, as it has at start.
    void flowChartShortcutFromTheInterface()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        log(*w)->clearLog();
        w->debugPrintList({"wifi_rsp_sme_wifi_off\t"});
        QApplication::clipboard()->setText(QStringLiteral("stale"));
        QTest::keyClick(w->qmlView(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("B -> A: wifi_rsp_sme_wifi_off\t\n\n"));
    }

    // Every published object, by its name, is the window's own.
    void contextProperties()
    {
        QFile qml(work.filePath("main.qml"));
        QVERIFY(qml.open(QIODevice::WriteOnly));
        qml.write("import QtQuick 2.15\nItem { property var found: ({ wifi: wifi, sme: sme, dfu: dfu, "
                  "system: system,"
                  " tcpip: tcpip, endpoint: endpoint, config: config, flash: flash, hardware: hardware,"
                  " i2c: i2c, https: https, mainobj: mainobj, comm: comm }) }\n");
        qml.close();
        auto w = makeWindow();
        const QVariantMap found = w->qmlView()->rootObject()->property("found").toMap();
        cls_wifi &api = w->api();
        const QMap<QString, QObject *> expected{{"wifi", &api},
                                                {"sme", &api.sme},
                                                {"dfu", &api.dfu},
                                                {"system", &api.system},
                                                {"tcpip", &api.tcpip},
                                                {"endpoint", &api.endpoint},
                                                {"config", &api.config},
                                                {"flash", &api.flash},
                                                {"hardware", &api.hardware},
                                                {"i2c", &api.i2c},
                                                {"https", &api.https},
                                                {"mainobj", w.get()},
                                                {"comm", &w->connection()}};
        QCOMPARE(found.keys(), expected.keys());
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QVERIFY2(found.value(it.key()).value<QObject *>() == it.value(), qPrintable(it.key()));
    }

    // The hot-plug monitor of the system's ports lists them anew when it reports a change.
    void portMonitorRefreshesTheList()
    {
        MainWindow w;
        auto *monitor = w.connection().findChild<PortMonitor *>();
        QVERIFY(monitor);
        QSignalSpy cleared(&w.connection(), &HVConnection::ClearDevices);
        emit monitor->devicesChanged();
        QCOMPARE(cleared.count(), 1);
    }

    // The destructor saves what the interface changed, without saveSettings.
    void settingsWrittenAtDestruction()
    {
        QSettings().setValue("dfuEraseKeys", false);
        {
            auto w = makeWindow();
            w->setProperty("dfuEraseKeys", true);
        }
        QCOMPARE(QSettings().value("dfuEraseKeys").toBool(), true);
        QSettings().setValue("dfuEraseKeys", false);
    }

    void eraseKeysSetting()
    {
        {
            QSettings settings;
            settings.setValue("dfuEraseKeys", true);
        }
        auto w = makeWindow();
        QCOMPARE(w->dfuEraseKeys(), true);

        QSignalSpy changed(w.get(), &MainWindow::dfuEraseKeysChanged);
        w->setDfuEraseKeys(true);
        QCOMPARE(changed.count(), 0);
        w->setProperty("dfuEraseKeys", false);
        QCOMPARE(changed.count(), 1);
        w->saveSettings();
        QCOMPARE(QSettings().value("dfuEraseKeys").toBool(), false);

        QSignalSpy flow(w.get(), &MainWindow::flowcontrolChanged);
        w->setFlowcontrol(true);
        w->setFlowcontrol(false);
        QCOMPARE(flow.count(), 1);
    }
};

NW_TEST(TestMainWindow)
#include "tst_mainwindow.moc"
