// velmo's command line: completion of command names with a parameter hint, Up/Down through the
// commands sent (kept across runs), and a red log line for a line that gives no packet.
#include "commandbox.h"
#include "logview.h"
#include "mainwindow.h"
#include "portmonitor.h"
#include "pty.h"
#include "scratchsettings.h"
#include "testmain.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

class TestCommandBox : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QTemporaryDir work;
    QString startDir;

    static std::unique_ptr<MainWindow> makeWindow()
    {
        return std::make_unique<MainWindow>(std::make_unique<FixedPortEnumerator>(QList<PortInfo>{}));
    }
    static QLineEdit *line(MainWindow &w) { return w.findChild<QLineEdit *>(QStringLiteral("lineCommand")); }
    static QStringList logLines(MainWindow &w)
    {
        QStringList out;
        for (const QStringList &e : w.findChild<LogView *>(QStringLiteral("textDebug"))->logEntries())
            out << e.join(QLatin1Char('|')).section(QStringLiteral("</b> "), 1).chopped(4);
        return out;
    }

private slots:
    void initTestCase()
    {
        useScratchSettings(home.path());
        startDir = QDir::currentPath();
        QVERIFY(QFile::copy(QStringLiteral(NW_SOURCE_DIR "/sdk/api/wifiapi.xml"), work.filePath("wifi.xml")));
        QVERIFY(QDir::setCurrent(work.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(startDir); }
    void init() { QSettings().remove(QStringLiteral("commandHistory")); }

    void completesNamesThenHintsParameters()
    {
        auto w = makeWindow();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QLineEdit *edit = line(*w);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QCompleter *completer = edit->completer();
        QVERIFY(completer);

        QTest::keyClicks(edit, QStringLiteral("sme_wifi_o"));
        QCOMPARE(completer->completionCount(), 2); // wifi_on and wifi_off
        QTest::keyClicks(edit, QStringLiteral("f"));
        QCOMPARE(completer->completionCount(), 1);
        QCOMPARE(completer->currentCompletion(), QStringLiteral("sme_wifi_off"));

        // Another case finds the name as the definition spells it.
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("SME_START_SC"));
        QCOMPARE(completer->completionCount(), 1);
        QTRY_VERIFY(completer->popup()->isVisible());
        completer->popup()->setCurrentIndex(completer->completionModel()->index(0, 0));
        QTest::keyClick(completer->popup(), Qt::Key_Return);

        QCOMPARE(edit->text(), QStringLiteral("sme_start_scan"));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("sme_start_scan hw_interface:uint8 chList:uint8array"));

        // With its arguments typed the line is valid and the hint stays.
        QTest::keyClicks(edit, QStringLiteral(" 1"));
        QCOMPARE(edit->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::black));
        QCOMPARE(QToolTip::text(), QStringLiteral("sme_start_scan hw_interface:uint8 chList:uint8array"));
        // No arguments, no hint.
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("sme_wifi_on"));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    void historyAcrossRuns()
    {
        Pty pty;
        {
            auto w = makeWindow();
            w->open_port(QStringLiteral("pty"), pty.path, 115200);
            QLineEdit *edit = line(*w);
            for (const char *typed : {"sme_wifi_on", "sme_no_such", "system_hello", "system_hello"}) {
                edit->setText(QLatin1String(typed));
                QTest::keyClick(edit, Qt::Key_Return);
            }
            // Sent ones only, a repeat once.
            QCOMPARE(pty.readIdle().toHex(), QByteArray("0800030008000102"
                                                        "08000102"));
            edit->setText(QStringLiteral("draft"));
            QTest::keyClick(edit, Qt::Key_Up);
            QCOMPARE(edit->text(), QStringLiteral("system_hello"));
            QTest::keyClick(edit, Qt::Key_Up);
            QCOMPARE(edit->text(), QStringLiteral("sme_wifi_on"));
            QTest::keyClick(edit, Qt::Key_Up); // the oldest stays
            QCOMPARE(edit->text(), QStringLiteral("sme_wifi_on"));
            QTest::keyClick(edit, Qt::Key_Down);
            QCOMPARE(edit->text(), QStringLiteral("system_hello"));
            QTest::keyClick(edit, Qt::Key_Down); // back to what was being typed
            QCOMPARE(edit->text(), QStringLiteral("draft"));
        }
        auto w = makeWindow();
        QLineEdit *edit = line(*w);
        QTest::keyClick(edit, Qt::Key_Up);
        QCOMPARE(edit->text(), QStringLiteral("system_hello"));
        QTest::keyClick(edit, Qt::Key_Up);
        QCOMPARE(edit->text(), QStringLiteral("sme_wifi_on"));
    }

    void historyIsBounded()
    {
        QSettings settings;
        QLineEdit edit;
        CommandParser parser;
        CommandBox box(&edit, parser, settings);
        for (int i = 0; i < CommandBox::historySize + 5; ++i)
            box.remember(QStringLiteral("c%1").arg(i));
        QCOMPARE(box.history().size(), CommandBox::historySize);
        QCOMPARE(box.history().first(), QStringLiteral("c5"));
        QCOMPARE(settings.value("commandHistory").toStringList(), box.history());
    }

    void redLine_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("logged");

        QTest::newRow("typo")
            << "sme_wifi_of"
            << "<font color=red>Command 'wifi_of' not found in class 'sme'; did you mean sme_wifi_off";
        QTest::newRow("class left out")
            << "wifi_on"
            << "<font color=red>unknown command 'wifi_on'; did you mean sme_wifi_on";
        QTest::newRow("bad argument") << "hardware_adc_read zz"
                                      << "<font color=red>unable parse argument 'zz' as uint8</font>";
        QTest::newRow("argument count") << "sme_wifi_on 1"
                                        << "<font color=red>Command requires exactly 0 arguments</font>";
        QTest::newRow("length field") << "08 01 03 00"
                                      << "<font color=red>Packet length field invalid expected:0</font>";
        // What was typed is shown as text, never as markup.
        QTest::newRow("markup typed") << "sme_<i>x"
                                      << "<font color=red>Command '&lt;i&gt;x' not found in class 'sme'";
    }
    void redLine()
    {
        QFETCH(QString, typed);
        QFETCH(QString, logged);
        auto w = makeWindow();
        QLineEdit *edit = line(*w);
        edit->setText(typed);
        QTest::keyClick(edit, Qt::Key_Return);
        const QStringList lines = logLines(*w);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(logged), qPrintable(lines.first()));
        QVERIFY(lines.first().endsWith(QLatin1String("</font>")));
        QCOMPARE(edit->text(), typed);

        // An empty line is no command and no fault.
        edit->clear();
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(logLines(*w).size(), 1);
    }
};

NW_TEST(TestCommandBox)
#include "tst_commandbox.moc"
