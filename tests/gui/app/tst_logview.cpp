#include "logview.h"
#include "testmain.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QMimeData>
#include <QScrollBar>
#include <QtTest>

namespace
{

const QString ts = QStringLiteral("<b>2026.03.02 09:03:07.0005</b> ");

// One log line per row of `rows`. A row with '|' is a decoded message, its items separated by '|'
// (empty items dropped); a row without is a one-text line.
void feed(LogView &view, const QString &rows)
{
    for (const QString &row : rows.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (row.contains(QLatin1Char('|')))
            view.addLine(ts, row.split(QLatin1Char('|'), Qt::SkipEmptyParts));
        else
            view.addLine(ts, row);
    }
}

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT

private slots:
    void linesBecomeRowsAtFlush()
    {
        LogView view;
        view.addLine(ts, QStringLiteral("one"));
        view.addLine(ts, QStringList{QStringLiteral("wifi_cmd_sme_wifi_on\t")});
        QCOMPARE(view.scene()->items().size(), 0);
        QCOMPARE(view.logEntries(),
                 (QList<QStringList>{{ts + "one<br>"}, {ts, QStringLiteral("wifi_cmd_sme_wifi_on\t")}}));
        view.flush();
        QList<qreal> ys;
        for (QGraphicsItem *item : view.scene()->items())
            ys.append(item->pos().y());
        std::sort(ys.begin(), ys.end());
        QCOMPARE(ys, (QList<qreal>{0, 25}));
    }

    void trimsToTheNewestRows()
    {
        LogView view;
        for (int i = 0; i < 10001; ++i)
            view.addLine(ts, QString::number(i));
        view.flush();
        QCOMPARE(view.scene()->items().size(), 10000);
        QCOMPARE(view.logEntries().size(), 10000);
        QCOMPARE(view.logEntries().first(), QStringList(ts + "1<br>"));
        QCOMPARE(view.scene()->sceneRect(), QRectF(0, 25, 1000, 250000));
        // The oldest row is the one that went.
        qreal top = 1e9;
        for (QGraphicsItem *item : view.scene()->items())
            top = qMin(top, item->pos().y());
        QCOMPARE(top, 25.0);

        view.addLine(ts, QStringLiteral("next"));
        view.flush();
        QCOMPARE(view.scene()->items().size(), 10000);
        QCOMPARE(view.logEntries().first(), QStringList(ts + "2<br>"));
        QCOMPARE(view.logEntries().last(), QStringList(ts + "next<br>"));
        QCOMPARE(view.scene()->sceneRect(), QRectF(0, 50, 1000, 250000));
    }

    void burst_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("pendingAtClear");
        QTest::addColumn<int>("burst");
        QTest::addColumn<int>("firstKept");

        // Lines are numbered 0.. in the order they were logged, over all three phases.
        QTest::newRow("200000 lines after one row") << 1 << 0 << 200000 << 190001;
        QTest::newRow("cap exactly reached") << 0 << 0 << 10000 << 0;
        QTest::newRow("15000 pending across a clear") << 3 << 15000 << 2 << 5005;
    }

    // A burst between two flushes leaves exactly the newest rows and entries, quickly.
    void burst()
    {
        QFETCH(int, before);
        QFETCH(int, pendingAtClear);
        QFETCH(int, burst);
        QFETCH(int, firstKept);

        LogView view;
        int n = 0;
        for (int i = 0; i < before; ++i)
            view.addLine(ts, QString::number(n++));
        view.flush();
        for (int i = 0; i < pendingAtClear; ++i)
            view.addLine(ts, QString::number(n++));
        if (pendingAtClear) view.clearLog();
        const int loggedSinceClear = pendingAtClear ? 0 : before;
        for (int i = 0; i < burst; ++i)
            view.addLine(ts, QString::number(n++));

        QElapsedTimer timer;
        timer.start();
        view.flush();
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));

        const int rows = n - firstKept;
        QCOMPARE(view.scene()->items().size(), rows);
        QList<qreal> ys;
        for (QGraphicsItem *item : view.scene()->items())
            ys.append(item->pos().y());
        std::sort(ys.begin(), ys.end());
        const qreal topY = (pendingAtClear ? firstKept - before : firstKept) * 25.0;
        QCOMPARE(ys.first(), topY);
        QCOMPARE(ys.last(), topY + (rows - 1) * 25.0);
        if (rows == 10000 && n > 10000) QCOMPARE(view.scene()->sceneRect(), QRectF(0, topY, 1000, 250000));

        // Entries: what was logged since the clear, at most the newest 10000 of it.
        const int entryCount = qMin(10000, loggedSinceClear + burst);
        QCOMPARE(view.logEntries().size(), entryCount);
        QCOMPARE(view.logEntries().first(), QStringList(ts + QString::number(n - entryCount) + "<br>"));
        QCOMPARE(view.logEntries().last(), QStringList(ts + QString::number(n - 1) + "<br>"));
    }

    void longRowsScrollToTheirEnd_data()
    {
        QTest::addColumn<int>("before");
        QTest::newRow("growing pane") << 0;
        QTest::newRow("trimmed pane") << 10005;
    }

    // The horizontal scroll bar reaches the end of a row wider than the placeholder.
    void longRowsScrollToTheirEnd()
    {
        QFETCH(int, before);
        LogView view;
        view.resize(500, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        for (int i = 0; i < before; ++i)
            view.addLine(ts, QStringLiteral("short"));
        const QString text = QString(300, QLatin1Char('W')) + QStringLiteral("END");
        view.addLine(ts, text);
        view.flush();

        QGraphicsItem *newest = nullptr;
        for (QGraphicsItem *item : view.scene()->items())
            if (!newest || item->pos().y() > newest->pos().y()) newest = item;
        const int textWidth = QFontMetrics(view.font()).horizontalAdvance(text);
        QVERIFY(textWidth > 1500);
        QTRY_VERIFY(newest->boundingRect().width() >= textWidth);

        QScrollBar *bar = view.horizontalScrollBar();
        QTRY_VERIFY(bar->maximum() + view.viewport()->width() >= newest->sceneBoundingRect().right());
        bar->setValue(bar->maximum());
        QVERIFY(view.mapFromScene(newest->sceneBoundingRect().topRight()).x() <= view.viewport()->width());
    }

    void clearKeepsPendingLines()
    {
        LogView view;
        view.addLine(ts, QStringLiteral("shown"));
        view.flush();
        view.addLine(ts, QStringLiteral("pending"));
        view.clearLog();
        QCOMPARE(view.scene()->items().size(), 0);
        QVERIFY(view.logEntries().isEmpty());
        view.flush();
        const QList<QGraphicsItem *> items = view.scene()->items();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first()->pos(), QPointF(0, 0));
    }

    void copy_data()
    {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("plain");

        QTest::newRow("empty log") << QString() << QString() << QString();
        QTest::newRow("text line keeps its own break")
            << "RX: 080203000000" << ts + "RX: 080203000000<br><br />"
            << "2026.03.02 09:03:07.0005 RX: 080203000000\n\n";
        QTest::newRow("decoded message")
            << "wifi_rsp_sme_wifi_on\t| result:0x0000 [<font color=green>'No Error'</font>]"
            << ts + " wifi_rsp_sme_wifi_on\t  result:0x0000 [<font color=green>'No Error'</font>]<br />"
            << "2026.03.02 09:03:07.0005 wifi_rsp_sme_wifi_on result:0x0000 ['No Error']\n";
    }

    void copy()
    {
        QFETCH(QString, entries);
        QFETCH(QString, html);
        QFETCH(QString, plain);
        QApplication::clipboard()->setText(QStringLiteral("stale"));
        LogView view;
        feed(view, entries);
        view.copy();
        const QMimeData *mime = QApplication::clipboard()->mimeData();
        QVERIFY(mime);
        QCOMPARE(mime->html(), html);
        QCOMPARE(mime->text(), plain);
    }

    void copyFlowChart_data()
    {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("chart");

        QTest::newRow("text lines only") << "RX: 0802\nTX: 08000300" << QString();
        QTest::newRow("response without parameters") << "wifi_rsp_sme_wifi_off\t|"
                                                     << "B -> A: wifi_rsp_sme_wifi_off\t\n\n";
        QTest::newRow("command with a parameter")
            << "wifi_cmd_config_get_mac\t| hw_interface:       0 (0x00)"
            << "A -> B: wifi_cmd_config_get_mac\t\nnote right of A:\n  hw_interface: 0 (0x00)\nend note\n\n";
        QTest::newRow("event with coloured reason")
            << "wifi_evt_sme_disconnected\t| reason:0x0181 [<font color=red>'Device is in wrong state to "
               "accept command'</font>]| hw_interface:       1 (0x01)"
            << "B -> A: wifi_evt_sme_disconnected\t\nnote right of A:\n"
               "  reason:0x0181 ['Device is in wrong state to accept command']\n"
               "  hw_interface: 1 (0x01)\nend note\n\n";
        QTest::newRow("name ends at the first blank") << "wifi_evt_x y z|"
                                                      << "B -> A: wifi_evt_x\n\n";
        QTest::newRow("other lists and case are skipped")
            << "hello|world\nWIFI_cmd_a|\nwifi_cmd_a|\ntext\nwifi_rsp_a|"
            << "A -> B: wifi_cmd_a\n\nB -> A: wifi_rsp_a\n\n";
    }

    void copyFlowChart()
    {
        QFETCH(QString, entries);
        QFETCH(QString, chart);
        LogView view;
        feed(view, entries);
        QApplication::clipboard()->setText(QStringLiteral("stale"));
        view.copyFlowChart();
        QCOMPARE(QApplication::clipboard()->text(), chart);
        QVERIFY(!QApplication::clipboard()->mimeData()->hasHtml());
    }

    void followsNewestRowUnlessScrollIsOff()
    {
        LogView view;
        view.resize(400, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QScrollBar *bar = view.verticalScrollBar();

        for (int i = 0; i < 100; ++i)
            view.addLine(ts, QString::number(i));
        QTRY_VERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());

        view.scroll(false);
        bar->setValue(0);
        const int before = bar->maximum();
        for (int i = 0; i < 50; ++i)
            view.addLine(ts, QString::number(i));
        QTRY_VERIFY(bar->maximum() > before);
        QTest::qWait(250);
        QCOMPARE(bar->value(), 0);

        view.scroll(true);
        view.addLine(ts, QStringLiteral("last"));
        QTRY_COMPARE(bar->value(), bar->maximum());
    }
};

NW_TEST(TestLogView)
#include "tst_logview.moc"
