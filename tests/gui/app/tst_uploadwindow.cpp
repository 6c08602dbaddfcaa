// The window's upload end to end: velmo's own objects attached to a simulated module on a pty.
#include "logview.h"
#include "mainwindow.h"
#include "simdevice.h"
#include "simline.h"
#include "testmain.h"
#include "uploadfixtures.h"

#include <QCheckBox>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace fixtures;

class TestUploadWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The window reads and writes its settings: not the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    }

    void noPortSendsNothing()
    {
        const QString file = dir.filePath("np.dfu");
        QVERIFY(writeFile(file, image()));
        MainWindow w(std::make_unique<FixedPortEnumerator>());
        QSignalSpy tx(&w.api(), &cls_wifi::tx_data);
        QSignalSpy finished(&w, &MainWindow::upload_finished);
        w.uploadFile(file);
        QVERIFY(tx.isEmpty());
        QCOMPARE(finished.count(), 1);
        QVERIFY(w.findChild<LogView *>(QStringLiteral("textDebug"))
                    ->logEntries()
                    .last()
                    .join(QString())
                    .contains("<font color=red>DFU Failed: no port is open</font>"));
    }

    void upload_data()
    {
        QTest::addColumn<bool>("flowcontrol");
        QTest::addColumn<int>("rejectUpload");
        QTest::addColumn<int>("muteAfter");
        QTest::addColumn<int>("hangupAfter");
        QTest::addColumn<QString>("redLine"); // empty: the upload succeeds
        QTest::addColumn<bool>("boxesOn");    // the user's log boxes before the upload
        QTest::newRow("window 4") << true << 0 << -1 << -1 << "" << true;
        QTest::newRow("window 1") << false << 0 << -1 << -1 << "" << true;
        QTest::newRow("chunk rejected")
            << true << 7 << -1 << -1 << "<font color=red>DFU Failed</font>" << true;
        QTest::newRow("module falls silent")
            << true << 0 << 30 << -1 << "<font color=red>DFU Failed: no response from the module</font>"
            << true;
        QTest::newRow("port lost") << true << 0 << -1 << 300
                                   << "<font color=red>DFU Failed: the port was lost</font>" << true;
        // Closed by the user mid-way (-2 below): said so, not called lost.
        QTest::newRow("port closed by the user")
            << true << 0 << -1 << -2 << "<font color=red>DFU Failed: the port was closed</font>" << true;
        // The upload never switched the boxes off, so it leaves them as the user set them.
        QTest::newRow("silent before the first chunk, boxes off")
            << true << 0 << 0 << -1 << "<font color=red>DFU Failed: no response from the module</font>"
            << false;
    }
    void upload()
    {
        QFETCH(bool, flowcontrol);
        QFETCH(int, rejectUpload);
        QFETCH(int, muteAfter);
        QFETCH(int, hangupAfter);
        QFETCH(QString, redLine);
        QFETCH(bool, boxesOn);

        SimOptions o;
        o.startInUpdateState = true;
        o.rejectUpload = rejectUpload;
        o.muteAfter = muteAfter;
        o.hangupAfter = qMax(-1, hangupAfter);
        SimDevice device(o);
        SimLine line(&device, o);
        QVERIFY(line.openPty());
        const QByteArray content = image();
        const QString file = dir.filePath("wifi.dfu");
        QVERIFY(writeFile(file, content));

        MainWindow w(std::make_unique<FixedPortEnumerator>());
        auto *comm = w.findChild<QCheckBox *>(QStringLiteral("checkLogHex"));
        auto *text = w.findChild<QCheckBox *>(QStringLiteral("checkLogText"));
        w.uploader().setResponseTimeout(500);
        w.setFlowcontrol(flowcontrol);
        w.open_port(QStringLiteral("sim"), line.path(), 115200);
        comm->setChecked(boxesOn);
        text->setChecked(boxesOn);

        // Mid-upload the chunk traffic is kept out of the log, and only the upload's page takes input.
        QQuickItem *root = w.qmlView()->rootObject();
        auto showPage = [root](const char *name) {
            auto *page = root->findChild<QQuickItem *>(QLatin1String(name));
            const int index = page->parentItem()->childItems().indexOf(page);
            QQmlExpression(qmlContext(root), root, QStringLiteral("tabs.currentIndex = %1").arg(index))
                .evaluate();
            return page->isEnabled();
        };
        QVERIFY(showPage("uploadPage"));
        bool quietMidway = false;
        connect(&w, &MainWindow::upload_progress, this, [&](int bytes, int total) {
            if (hangupAfter == -2 && bytes >= total / 4) w.close_port();
            if (bytes == total / 2)
                quietMidway = !comm->isChecked() && !text->isChecked() && showPage("uploadPage") &&
                              !showPage("systemPage");
        });
        QSignalSpy finished(&w, &MainWindow::upload_finished);
        w.uploadFile(file);
        QVERIFY(w.uploading());
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.count(), 1);
        QVERIFY(!w.uploading());
        QCOMPARE(comm->isChecked(), boxesOn);
        QCOMPARE(text->isChecked(), boxesOn);

        int redLines = 0;
        for (const QStringList &entry : w.findChild<LogView *>(QStringLiteral("textDebug"))->logEntries())
            redLines += entry.join(QString()).contains("DFU Failed");
        if (redLine.isEmpty()) {
            QCOMPARE(finished[0][0].toBool(), true);
            QVERIFY(quietMidway);
            QVERIFY(showPage("systemPage"));
            QVERIFY(device.flash() == content);
            QCOMPARE(redLines, 0);
        } else {
            QCOMPARE(finished[0][0].toBool(), false);
            QCOMPARE(redLines, 1);
            bool found = false;
            for (const QStringList &entry : w.findChild<LogView *>(QStringLiteral("textDebug"))->logEntries())
                found = found || entry.join(QString()).contains(redLine);
            QVERIFY2(found, qPrintable(redLine));
        }
    }
};

NW_TEST(TestUploadWindow)
#include "tst_uploadwindow.moc"
