#include "logformat.h"
#include "logview.h"
#include "mainwindow.h"
#include "pty.h"
#include "scratchsettings.h"
#include "testmain.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLayout>
#include <QProcess>
#include <QQuickItem>
#include <QQuickView>
#include <QSplitter>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace
{

QQuickItem *item(MainWindow &w, const char *name)
{
    return w.qmlView()->rootObject()->findChild<QQuickItem *>(QLatin1String(name));
}

QStringList logTexts(MainWindow &w)
{
    QStringList out;
    for (const QStringList &e : w.findChild<LogView *>(QStringLiteral("textDebug"))->logEntries())
        out << e.join(QLatin1Char('|'));
    return out;
}

// Visible items of the interface at or below `root`, which have a size to be placed.
void visibleItems(QQuickItem *root, QList<QQuickItem *> *out)
{
    for (QQuickItem *child : root->childItems()) {
        if (!child->isVisible() || child->width() <= 0 || child->height() <= 0) continue;
        out->append(child);
        visibleItems(child, out);
    }
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QTemporaryDir work;
    QString startDir;

    QString storeText() const
    {
        QFile f(home.filePath("Halvane/velmo88.conf"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    std::unique_ptr<MainWindow> makeWindow(QList<PortInfo> ports = {}, FixedPortEnumerator **list = nullptr)
    {
        auto fixed = std::make_unique<FixedPortEnumerator>(std::move(ports));
        if (list) *list = fixed.get();
        return std::make_unique<MainWindow>(std::move(fixed));
    }

private slots:
    void initTestCase()
    {
        useScratchSettings(home.path());
        startDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(startDir); }
    void init() { QSettings().clear(); }

    // Changes reach the file on disk by themselves, before the window ends, and the next window
    // starts where this one was left.
    void rememberedAcrossRuns()
    {
        Pty pty;
        QVERIFY(pty.ok());
        QList<int> split;
        {
            auto w = makeWindow();
            w->show();
            w->resize(900, 640);
            w->open_port(pty.path, pty.path, 9600);
            w->setCurrentTab(4);
            w->findChild<QCheckBox *>(QStringLiteral("checkLogHex"))->setChecked(false);
            w->findChild<QCheckBox *>(QStringLiteral("checkLogScroll"))->setChecked(false);
            auto *splitter = w->centralWidget()->findChild<QSplitter *>(QStringLiteral("splitter"));
            splitter->setSizes({340, 400});
            split = splitter->sizes();
            emit splitter->splitterMoved(split.at(0), 1);
            QTRY_VERIFY_WITH_TIMEOUT(storeText().contains(QStringLiteral("currentTab=4")), 10000);
            const QString text = storeText();
            QVERIFY2(text.contains(QStringLiteral("portPath=") + pty.path), qPrintable(text));
            QVERIFY(text.contains(QStringLiteral("baudRate=9600")));
            QVERIFY(text.contains(QStringLiteral("portOpen=true")));
            QVERIFY(text.contains(QStringLiteral("logComm=false")));
            QVERIFY(text.contains(QStringLiteral("logText=true")));
            QVERIFY(text.contains(QStringLiteral("logScroll=false")));
        }
        auto w = makeWindow();
        QCOMPARE(w->currentTab(), 4);
        QCOMPARE(w->findChild<QCheckBox *>(QStringLiteral("checkLogHex"))->isChecked(), false);
        QCOMPARE(w->findChild<QCheckBox *>(QStringLiteral("checkLogText"))->isChecked(), true);
        QCOMPARE(w->findChild<QCheckBox *>(QStringLiteral("checkLogScroll"))->isChecked(), false);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(w->size(), QSize(900, 640));
        QCOMPARE(w->centralWidget()->findChild<QSplitter *>(QStringLiteral("splitter"))->sizes(), split);
        QQuickItem *tabs = item(*w, "pageTabs");
        QVERIFY(tabs);
        QCOMPARE(tabs->property("currentIndex").toInt(), 4);
        QCOMPARE(item(*w, "portBox")->property("editText").toString(), pty.path);
        QCOMPARE(item(*w, "baudBox")->property("currentText").toString(), QStringLiteral("9600"));

        // Open when the last run ended: opened again, at the remembered rate.
        QSignalSpy attached(w.get(), &MainWindow::attached);
        w->openRememberedPort();
        QCOMPARE(attached.count(), 1);
        QCOMPARE(attached.first(), (QVariantList{true, pty.path, "9600"}));

        // Closed by the user: the next start leaves it closed.
        w->close_port();
        w.reset();
        w = makeWindow();
        QSignalSpy none(w.get(), &MainWindow::attached);
        w->openRememberedPort();
        QCOMPARE(none.count(), 0);
    }

    // The log pane takes a fair share of a window that remembers nothing.
    void defaultLogShare()
    {
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QList<int> sizes =
            w->centralWidget()->findChild<QSplitter *>(QStringLiteral("splitter"))->sizes();
        const double share = double(sizes.at(1)) / (sizes.at(0) + sizes.at(1));
        QVERIFY2(share > 0.2 && share < 0.45, qPrintable(QString::number(share)));
    }

    void staleToolPath_data()
    {
        QTest::addColumn<bool>("kirrupThere");
        QTest::addColumn<bool>("tollanThere");
        QTest::newRow("both gone") << false << false;
        QTest::newRow("compiler gone") << true << false;
        QTest::newRow("both there") << true << true;
    }

    // Paths stored by an SDK that moved fall back to the tools beside velmo, saying so.
    void staleToolPath()
    {
        QFETCH(bool, kirrupThere);
        QFETCH(bool, tollanThere);
        QTemporaryDir sdk;
        QVERIFY(QDir(sdk.path()).mkpath("bin"));
        const QString kirrup = sdk.filePath("bin/kirrup"), tollan = sdk.filePath("bin/tollan");
        if (kirrupThere) QVERIFY(QFile(kirrup).open(QIODevice::WriteOnly));
        if (tollanThere) QVERIFY(QFile(tollan).open(QIODevice::WriteOnly));
        {
            QSettings s;
            s.setValue("buildExe", kirrup);
            s.setValue("buildRoot", sdk.filePath("bin/.."));
            s.setValue("scriptExe", tollan);
        }
        auto w = makeWindow();
        const QString here = QCoreApplication::applicationDirPath();
        const QStringList log = logTexts(*w);
        HVProject &p = w->projectModel();
        QCOMPARE(p.buildExe(), kirrupThere ? kirrup : here + "/kirrup");
        QCOMPARE(p.scriptExe(), tollanThere ? tollan : here + "/tollan");
        QCOMPARE(p.buildRoot(), kirrupThere ? sdk.filePath("bin/..") : here + "/..");
        QCOMPARE(log.filter(QStringLiteral("stored path of kirrup, %1, no longer exists").arg(kirrup)).size(),
                 kirrupThere ? 0 : 1);
        // A gone builder brings the compiler beside the new one along: one line for both.
        QCOMPARE(log.filter(QStringLiteral("stored path of tollan")).size(),
                 kirrupThere && !tollanThere ? 1 : 0);
    }

    void reconnect_data()
    {
        QTest::addColumn<bool>("userCloses");
        QTest::addColumn<bool>("otherPath");
        QTest::newRow("same path") << false << false;
        QTest::newRow("same serial, other path") << false << true;
        QTest::newRow("closed by the user") << true << false;
    }

    // A port behind a link the test controls goes away and comes back.
    void reconnect()
    {
        QFETCH(bool, userCloses);
        QFETCH(bool, otherPath);
        QTemporaryDir links;
        const QString link = links.filePath("adapter");
        auto first = std::make_unique<Pty>();
        QVERIFY(QFile::link(first->path, link));
        FixedPortEnumerator *list = nullptr;
        auto w = makeWindow({{"Adapter", link, "Maker", "Cable", "SN42"}}, &list);
        QSignalSpy attached(w.get(), &MainWindow::attached);
        w->open_port(QStringLiteral("Adapter"), link, 57600);
        QCOMPARE(attached.count(), 1);
        if (userCloses) w->close_port();

        first.reset();
        QVERIFY(QFile::remove(link));
        if (!userCloses) QTRY_COMPARE_WITH_TIMEOUT(attached.count(), 2, 10000);
        QCOMPARE(attached.last(), (QVariantList{false, QString(), QString()}));

        Pty second;
        const QString back = otherPath ? links.filePath("adapter-2") : link;
        QVERIFY(QFile::link(second.path, back));
        if (otherPath) list->list = {{"Adapter 2", back, "Maker", "Cable", "SN42"}};
        w->refresh_ports();
        if (userCloses) {
            QTest::qWait(2500);
            QCOMPARE(attached.count(), 2);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(attached.count(), 3, 10000);
        QCOMPARE(attached.last(), (QVariantList{true, otherPath ? "Adapter 2" : "Adapter", "57600"}));
        const QStringList log = logTexts(*w);
        QCOMPARE(log.filter(QStringLiteral("is back")).size(), 1);
        w->raw_tx(0x5a);
        QCOMPARE(second.read(1, 5000), QByteArray("Z"));
    }

    // A failure that has a known remedy says it: in red after the decoded answer, and beside the
    // result on its page.
    void hintsFollowFailures()
    {
        auto w = makeWindow();
        LogView *log = w->findChild<LogView *>(QStringLiteral("textDebug"));
        log->clearLog();
        w->debugPrintStringList({"wifi_rsp_sme_start_scan\t", logformat::result("result", 0x0181)});
        w->debugPrintStringList({"wifi_rsp_sme_wifi_on\t", logformat::result("result", 0x0181)});
        w->debugPrintStringList({"wifi_rsp_sme_start_scan\t", logformat::result("result", 0)});
        const QList<QStringList> entries = log->logEntries();
        QCOMPARE(entries.size(), 4);
        QVERIFY2(entries.at(1).join(QString()).endsWith(
                     "<font color=red>Switch Wi-Fi on first, then scan again.</font><br>"),
                 qPrintable(entries.at(1).join(QString())));
        // No hint for Wi-Fi on, none for success: the third entry is the answer to Wi-Fi on.
        QCOMPARE(entries.at(2).at(1), QStringLiteral("wifi_rsp_sme_wifi_on\t"));

        QQuickItem *scan = item(*w, "scanStatus");
        QVERIFY(scan);
        emit w->api().sme.qml_rsp_start_scan(0x0181);
        QCOMPARE(scan->property("hint").toString(),
                 QStringLiteral("Switch Wi-Fi on first, then scan again."));
        emit w->api().sme.qml_rsp_start_scan(0);
        QCOMPARE(scan->property("hint").toString(), QString());
    }

    // The Project page shows each line once, whole, however the builder's writes cut it, and tells
    // how the build ended.
    void buildLogShownAsItArrives()
    {
        QTemporaryDir dir;
        const QString builder = dir.filePath("builder");
        QFile script(builder);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "printf 'first line\\nsecond par'; sleep 0.3\n"
                     "printf 'tial line\\nerror: cannot place block\\n'\n"
                     "i=0; while [ $i -lt 2000 ]; do echo \"row $i\"; i=$((i+1)); done\n"
                     "printf 'no newline at the end'\n");
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));

        auto w = makeWindow();
        HVProject &project = w->projectModel();
        project.setBuildExe(builder);
        QQuickItem *page = item(*w, "projectPage");
        QQuickItem *list = item(*w, "buildLog");
        QVERIFY(page && list);
        auto *rows = qvariant_cast<QAbstractItemModel *>(list->property("model"));
        QVERIFY(rows);
        project.build();
        QTRY_VERIFY_WITH_TIMEOUT(page->property("succeeded").toBool(), 20000);

        const auto roles = rows->roleNames();
        const int line = roles.key("line"), colour = roles.key("colour");
        QStringList shown;
        for (int r = 0; r < rows->rowCount(); ++r)
            shown << rows->index(r, 0).data(line).toString();
        QCOMPARE(shown.size(), 2005);
        QCOMPARE(shown.mid(0, 4),
                 (QStringList{"first line", "second partial line", "error: cannot place block", "row 0"}));
        QCOMPARE(shown.mid(2002), (QStringList{"row 1999", "no newline at the end", "Success"}));
        QCOMPARE(shown.join(QLatin1Char('\n')), project.buildOutput());
        QCOMPARE(rows->index(2, 0).data(colour).toString(), QStringLiteral("#c62828"));
        QCOMPARE(rows->index(3, 0).data(colour).toString(), QString());
        QCOMPARE(rows->index(2004, 0).data(colour).toString(), QStringLiteral("#2e7d32"));

        // A new build starts from an empty page.
        QFile::remove(builder);
        QVERIFY(QFile::link(QStringLiteral("/bin/true"), builder));
        project.build();
        QTRY_VERIFY_WITH_TIMEOUT(page->property("succeeded").toBool() && rows->rowCount() == 2, 20000);
        QCOMPARE(rows->index(1, 0).data(line).toString(), QStringLiteral("Success"));
    }

    // USB details go beside the listing, whose names stay as they are.
    void portDetails()
    {
        auto w = makeWindow(
            {{"ttyS0", "/dev/ttyS0"}, {"USB serial (ttyUSB0)", "/dev/ttyUSB0", "FTDI", "FT232R", "A1"}});
        QSignalSpy found(&w->connection(), &HVConnection::DeviceFound);
        QSignalSpy details(&w->connection(), &UartHVConnection::DeviceDetails);
        w->refresh_ports();
        QCOMPARE(found.count(), 2);
        QCOMPARE(found.at(1), (QVariantList{"USB serial (ttyUSB0)", "/dev/ttyUSB0"}));
        QCOMPARE(details.count(), 1);
        QCOMPARE(details.first(), (QVariantList{"/dev/ttyUSB0", "FTDI, FT232R, serial A1"}));
    }

    // Everything of the header and the command row can be reached at 800 x 600.
    void fitsSmallScreen()
    {
        auto w = makeWindow({{"USB serial (ttyUSB0)", "/dev/ttyUSB0"}});
        w->resize(800, 600);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE(w->size(), QSize(800, 600));
        const QRect window = w->rect();

        QLayout *rowLayout = w->findChild<QLayout *>(QStringLiteral("horizontalLayout_2"));
        QVERIFY(rowLayout);
        for (int i = 0; i < rowLayout->count(); ++i) {
            QWidget *control = rowLayout->itemAt(i)->widget();
            QVERIFY(control);
            const QRect r(control->mapTo(w.get(), QPoint(0, 0)), control->size());
            QVERIFY2(control->isVisible() && window.contains(r) &&
                         r.width() >= control->minimumSizeHint().width(),
                     qPrintable(control->objectName()));
        }

        // The view fills the splitter's first pane.
        const QPoint viewAt = w->centralWidget()
                                  ->findChild<QSplitter *>(QStringLiteral("splitter"))
                                  ->widget(0)
                                  ->mapTo(w.get(), QPoint(0, 0));
        QQuickItem *bar = item(*w, "connectionBar");
        QVERIFY(bar);
        QList<QQuickItem *> controls;
        visibleItems(bar, &controls);
        QVERIFY(controls.size() > 8);
        for (QQuickItem *c : controls) {
            const QRectF r = c->mapRectToScene(QRectF(0, 0, c->width(), c->height())).translated(viewAt);
            QVERIFY2(QRectF(window).contains(r),
                     qPrintable(QStringLiteral("%1 %2 at %3,%4 %5x%6")
                                    .arg(QString::fromLatin1(c->metaObject()->className()), c->objectName())
                                    .arg(r.x())
                                    .arg(r.y())
                                    .arg(r.width())
                                    .arg(r.height())));
        }
        // The header keeps still whatever the state says.
        const auto places = [&] {
            // Layouts follow at the next frame.
            QTest::qWait(200);
            QList<QRectF> out;
            // The controls themselves; a button's label may move inside it.
            for (QQuickItem *c : controls)
                if (c->parentItem()->parentItem() == bar)
                    out << c->mapRectToScene(QRectF(0, 0, c->width(), c->height()));
            return out;
        };
        const QList<QRectF> idle = places();
        emit w->attached(true,
                         QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"),
                         QStringLiteral("1152000"));
        QCOMPARE(places(), idle);
        emit w->attached(false, QString(), QString());
        emit w->open_failed(
            QStringLiteral("Could not open /dev/ttyUSB0: Permission denied (add yourself to dialout)"));
        QCOMPARE(places(), idle);

        // The tabs stay in the window too.
        QQuickItem *tabs = item(*w, "pageTabs");
        const QRectF t = tabs->mapRectToScene(QRectF(0, 0, tabs->width(), tabs->height())).translated(viewAt);
        QVERIFY(QRectF(window).contains(t));
    }

    void endsOnSignal_data()
    {
        QTest::addColumn<int>("signo");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    // A logout ends velmo as closing its window does: status 0, what changed is saved.
    void endsOnSignal()
    {
        QFETCH(int, signo);
        QTemporaryDir dir;
        QFile qml(dir.filePath("main.qml"));
        QVERIFY(qml.open(QIODevice::WriteOnly));
        qml.write(R"(import QtQuick 2.15
Item {
    Timer {
        interval: 100
        running: true
        onTriggered: {
            mainobj.currentTab = 5
            mainobj.dfuEraseKeys = true
            console.log("ready")
        }
    }
}
)");
        qml.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath("config"));
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(NW_VELMO), QStringList());
        QVERIFY(p.waitForStarted(30000));
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("ready"), 30000);
        ::kill(pid_t(p.processId()), signo);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QSettings saved(dir.filePath("config/Halvane/velmo88.conf"), QSettings::IniFormat);
        QCOMPARE(saved.value("currentTab").toInt(), 5);
        QCOMPARE(saved.value("dfuEraseKeys").toBool(), true);
    }
};

NW_TEST(TestSession)
#include "tst_session.moc"
