#include "logview.h"

#include "loggraphicsitem.h"

#include <QApplication>
#include <QClipboard>
#include <QGraphicsScene>
#include <QMimeData>
#include <QTextDocument>

namespace
{

const int rowHeight = 25;
const int rowWidth = 1000;

QString plainText(const QString &html)
{
    QTextDocument doc;
    doc.setHtml(html);
    return doc.toPlainText();
}

} // namespace

LogView::LogView(QWidget *parent) : QGraphicsView(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Rows are plain text: no painter state to save, no antialiasing margins. (Clipping the painter
    // is no longer done by the view at all, so there is no flag for it to clear.)
    setOptimizationFlags(QGraphicsView::DontSavePainterState | QGraphicsView::DontAdjustForAntialiasing);
    logScene = newScene();
    setScene(logScene);

    flushTimer.setInterval(100);
    connect(&flushTimer, &QTimer::timeout, this, &LogView::flush);
    flushTimer.start();
}

LogView::~LogView()
{
    setScene(nullptr);
    delete logScene;
}

// Rows are only appended and trimmed from the front: an index would only cost time.
QGraphicsScene *LogView::newScene()
{
    auto *scene = new QGraphicsScene;
    scene->setItemIndexMethod(QGraphicsScene::NoIndex);
    return scene;
}

void LogView::addLine(const QString &timestamp, const QString &log)
{
    const QString line = timestamp + log + QLatin1String("<br>");
    pendingLines.append(line);
    entries.append(QStringList(line));
}

void LogView::addLine(const QString &timestamp, const QStringList &log)
{
    pendingLines.append(timestamp + log.join(QLatin1Char(' ')) + QLatin1String("<br>"));
    QStringList entry = log;
    entry.prepend(timestamp);
    entries.append(entry);
}

void LogView::flush()
{
    for (const QString &line : qAsConst(pendingLines)) {
        auto *row = new LogGraphicsItem(line, QRectF(0, 0, rowWidth, rowHeight));
        row->setPos(0, nextY);
        nextY += rowHeight;
        logScene->addItem(row);
        rows.push_back(row);
    }

    const int count = int(rows.size());
    if (count > maxRows) {
        const int excess = count - maxRows;
        rowRect = QRectF(0, nextY - maxRows * rowHeight, rowWidth, maxRows * rowHeight);
        for (int i = 0; i < excess; ++i) {
            LogGraphicsItem *oldest = rows.front();
            rows.pop_front();
            logScene->removeItem(oldest);
            delete oldest;
            entries.removeFirst();
        }
        logScene->setSceneRect(rowRect);
    }

    pendingLines.clear();
}

void LogView::updateScene(const QList<QRectF> &rects)
{
    QGraphicsView::updateScene(rects);
    if (scrollEnabled) ensureVisible(0, nextY, 0, 0, 50, 50);
}

void LogView::scroll(bool on)
{
    scrollEnabled = on;
}

// Lines still pending are kept: they appear at the top of the new, empty pane.
void LogView::clearLog()
{
    QGraphicsScene *old = logScene;
    logScene = newScene();
    rows.clear();
    nextY = 0;
    setScene(logScene);
    delete old;
    entries.clear();
    rowRect = QRectF(0, 0, rowWidth, 0);
}

void LogView::copy()
{
    QString html;
    for (const QStringList &entry : qAsConst(entries))
        html += entry.join(QLatin1Char(' ')) + QLatin1String("<br />");

    auto *mime = new QMimeData;
    mime->setHtml(html);
    mime->setText(plainText(html));
    QApplication::clipboard()->setMimeData(mime);
}

// The decoded messages as a sequence diagram between the host (A) and the module (B).
void LogView::copyFlowChart()
{
    const QString host = QStringLiteral("A");
    const QString module = QStringLiteral("B");
    QString chart;
    for (const QStringList &entry : qAsConst(entries)) {
        if (entry.size() < 2) continue;
        const QString &item = entry.at(1);
        const int blank = item.indexOf(QLatin1Char(' '));
        const QString name = blank < 0 ? item : item.left(blank);

        QString block;
        if (item.startsWith(QLatin1String("wifi_cmd")))
            block = QStringLiteral("%1 -> %2: %3\n").arg(host, module, name);
        else if (item.startsWith(QLatin1String("wifi_rsp")) || item.startsWith(QLatin1String("wifi_evt")))
            block = QStringLiteral("%2 -> %1: %3\n").arg(host, module, name);
        else
            continue;

        if (entry.size() > 2) {
            block += QStringLiteral("note right of %1:\n").arg(host);
            for (int i = 2; i < entry.size(); ++i)
                block += QStringLiteral("  %1\n").arg(plainText(entry.at(i)));
            block += QLatin1String("end note\n");
        }
        chart += block + QLatin1Char('\n');
    }
    QApplication::clipboard()->setText(chart);
}
