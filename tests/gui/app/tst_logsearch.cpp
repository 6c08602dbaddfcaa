// Searching, filtering and saving the log pane: matches in the text the user sees (not in the markup),
// next and previous wrapping around, a filter over the kept lines that leaves them all kept, and the
// saved file's exact text.
#include "logsearchbar.h"
#include "logview.h"
#include "testmain.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
const QString ts = QStringLiteral("<b>2026.03.02 09:03:07.0005</b> ");

void feedSession(LogView &view)
{
    view.addLine(ts, QStringLiteral("TX: 0800030000"));
    view.addLine(
        ts, QStringList{"wifi_rsp_sme_wifi_on\t", " result:0x0000 [<font color=green>'No Error'</font>]"});
    view.addLine(ts, QStringLiteral("RX: 080203000000"));
    view.addLine(
        ts, QStringList{"wifi_evt_sme_wifi_is_on\t", " result:0x0000 [<font color=green>'No Error'</font>]"});
    view.addLine(ts, QStringLiteral("RX: 880203000000"));
    view.addLine(
        ts, QStringLiteral("<font color=red>Port /dev/ttyUSB0 lost: a &lt;hang-up&gt; &amp; more</font>"));
}

// The visible text of the rows the pane shows, without the timestamp.
QStringList shown(const LogView &view)
{
    QStringList out;
    for (const QString &row : view.shownRows())
        out << LogView::visibleText(row).mid(25);
    return out;
}

} // namespace

class TestLogSearch : public QObject
{
    Q_OBJECT

private slots:
    void findNextAndPrevious_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("matches");
        QTest::addColumn<QList<int>>("currentAfterNext"); // three finds forward, then two back
        QTest::newRow("a message") << "wifi_on" << 1 << QList<int>{1, 1, 1, 1, 1};
        QTest::newRow("case ignored") << "WIFI_" << 2 << QList<int>{1, 2, 1, 2, 1};
        QTest::newRow("a byte string") << "0203000000" << 2 << QList<int>{1, 2, 1, 2, 1};
        QTest::newRow("a result text") << "no error" << 2 << QList<int>{1, 2, 1, 2, 1};
        QTest::newRow("markup is not searched") << "font" << 0 << QList<int>{0, 0, 0, 0, 0};
        QTest::newRow("entities as shown") << "<hang-up> & more" << 1 << QList<int>{1, 1, 1, 1, 1};
        QTest::newRow("nothing") << "scan_result" << 0 << QList<int>{0, 0, 0, 0, 0};
        QTest::newRow("three of them") << "RX: " << 2 << QList<int>{1, 2, 1, 2, 1};
    }
    void findNextAndPrevious()
    {
        QFETCH(QString, text);
        QFETCH(int, matches);
        QFETCH(QList<int>, currentAfterNext);
        LogView view;
        feedSession(view);
        QList<int> current;
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(view.findNext(text, i >= 3), matches);
            current << view.currentMatch();
        }
        QCOMPARE(current, currentAfterNext);
        // A new search text starts again from the first match.
        QCOMPARE(view.findNext(QString()), 0);
        QCOMPARE(view.currentMatch(), 0);
    }

    void filterShowsMatchingKeepsAll()
    {
        LogView view;
        feedSession(view);
        view.setFilter(QStringLiteral("wifi_"));
        QCOMPARE(shown(view), (QStringList{"wifi_rsp_sme_wifi_on\t  result:0x0000 ['No Error']",
                                           "wifi_evt_sme_wifi_is_on\t  result:0x0000 ['No Error']"}));
        QCOMPARE(view.logEntries().size(), 6);
        // New lines pass the same filter.
        view.addLine(ts, QStringList{"wifi_evt_sme_scanned\t", " status:       0 (0x00)"});
        view.addLine(ts, QStringLiteral("RX: 880103040000"));
        view.flush();
        QCOMPARE(shown(view).size(), 3);
        QCOMPARE(view.logEntries().size(), 8);
        // Searching works over what the filter shows.
        QCOMPARE(view.findNext(QStringLiteral("scanned")), 1);
        QCOMPARE(view.findNext(QStringLiteral("RX:")), 0);
        view.setFilter(QString());
        QCOMPARE(shown(view).size(), 8);
        QCOMPARE(shown(view).last(), QString("RX: 880103040000"));
    }

    void filterKeepsTheLineCap()
    {
        // Lines the filter hides are still trimmed to the pane's cap, or a filtered flood would grow
        // without bound.
        LogView view;
        view.setFilter(QStringLiteral("nothing matches this"));
        for (int i = 0; i < 25000; ++i)
            view.addLine(ts, QStringLiteral("RX: %1").arg(i));
        view.flush();
        QCOMPARE(view.shownRows().size(), 0);
        QCOMPARE(view.logEntries().size(), 10000);
        QCOMPARE(view.logEntries().last(), QStringList(ts + "RX: 24999<br>"));
        view.setFilter(QStringLiteral("RX: 2499"));
        QCOMPARE(view.shownRows().size(), 10); // 24990..24999: line 2499 is no longer kept
    }

    void saveLog()
    {
        QTemporaryDir dir;
        LogView view;
        feedSession(view);
        view.addLine(ts, QString::fromUtf8("SSID: Café"));
        view.setFilter(QStringLiteral("wifi_on")); // the file holds every kept line, filtered or not
        const QString path = dir.filePath("log.txt");
        QString error;
        QVERIFY2(view.saveLog(path, &error), qPrintable(error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray stamp = "2026.03.02 09:03:07.0005 ";
        QCOMPARE(f.readAll(),
                 stamp + "TX: 0800030000\n" + stamp + "wifi_rsp_sme_wifi_on\t  result:0x0000 ['No Error']\n" +
                     stamp + "RX: 080203000000\n" + stamp +
                     "wifi_evt_sme_wifi_is_on\t  result:0x0000 ['No Error']\n" + stamp +
                     "RX: 880203000000\n" + stamp + "Port /dev/ttyUSB0 lost: a <hang-up> & more\n" + stamp +
                     "SSID: Caf\xc3\xa9\n");
        QVERIFY(!view.saveLog(dir.filePath("missing/log.txt"), &error));
        QVERIFY2(error.startsWith("cannot write " + dir.filePath("missing/log.txt") + ": "),
                 qPrintable(error));
        QVERIFY(!view.saveLog(dir.path(), &error));
    }

    void barDrivesThePane()
    {
        LogView view;
        feedSession(view);
        LogSearchBar bar(&view);
        bar.searchField()->setText(QStringLiteral("rx:"));
        QTest::keyClick(bar.searchField(), Qt::Key_Return);
        QCOMPARE(view.currentMatch(), 1);
        QCOMPARE(bar.findChild<QLabel *>(QStringLiteral("logMatches"))->text(), QString("1 of 2"));
        bar.findNext();
        QCOMPARE(bar.findChild<QLabel *>(QStringLiteral("logMatches"))->text(), QString("2 of 2"));
        bar.findChild<QCheckBox *>(QStringLiteral("logFilter"))->setChecked(true);
        QCOMPARE(view.shownRows().size(), 2);
        bar.searchField()->setText(QStringLiteral("wifi_evt"));
        QCOMPARE(view.shownRows().size(), 1);
        bar.findChild<QCheckBox *>(QStringLiteral("logFilter"))->setChecked(false);
        QCOMPARE(view.shownRows().size(), 6);
    }
};

NW_TEST(TestLogSearch)
#include "tst_logsearch.moc"
