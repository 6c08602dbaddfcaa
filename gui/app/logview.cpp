#include "logview.h"

#include "loggraphicsitem.h"

#include <QApplication>
#include <QClipboard>
#include <QGraphicsScene>
#include <QMimeData>
#include <QRegularExpression>
#include <QSaveFile>
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
    if (passesFilter(line)) pendingLines.append(line);
    entries.append(QStringList(line));
}

void LogView::addLine(const QString &timestamp, const QStringList &log)
{
    const QString line = timestamp + log.join(QLatin1Char(' ')) + QLatin1String("<br>");
    if (passesFilter(line)) pendingLines.append(line);
    QStringList entry = log;
    entry.prepend(timestamp);
    entries.append(entry);
}

void LogView::flush()
{
    const int pending = pendingLines.size();
    const int excess = int(rows.size()) + pending - maxRows;
    // Lines that this flush would trim straight away never become rows: a burst costs at most
    // maxRows rows, however long it was.
    const int skipped = qMax(0, pending - maxRows);
    nextY += skipped * rowHeight;
    for (int i = skipped; i < pending; ++i) {
        LogGraphicsItem *row;
        if (int(rows.size()) < maxRows) {
            row = new LogGraphicsItem(pendingLines.at(i), QRectF(0, 0, rowWidth, rowHeight), this);
            logScene->addItem(row);
        } else {
            // The oldest row goes and a new one comes: the scene keeps the item and its place in
            // the scene's lists, which taking it out and adding another would each search and shift.
            row = rows.front();
            rows.pop_front();
            row->reuse(pendingLines.at(i));
        }
        row->setPos(0, nextY);
        nextY += rowHeight;
        rows.push_back(row);
        if (!searchText.isEmpty() && visibleText(row->rowHtml()).contains(searchText, Qt::CaseInsensitive))
            row->setMark(LogGraphicsItem::Match);
    }
    // A reused row is no longer the current match.
    if (currentRow && currentRow->mark() != LogGraphicsItem::Current) {
        currentRow = nullptr;
        currentMatchNumber = 0;
    }

    if (excess > 0) {
        rowRect = QRectF(0, nextY - maxRows * rowHeight, widestRow, maxRows * rowHeight);
        logScene->setSceneRect(rowRect);
    }
    // Normally as many entries go as rows; after a clear with lines pending there are fewer entries
    // than rows, and none of those logged since the clear may go. A filter shows fewer rows than
    // lines, so the lines are trimmed by their own count.
    if (entries.size() > maxRows) entries.erase(entries.begin(), entries.end() - maxRows);

    pendingLines.clear();
}

void LogView::rowLaidOut(qreal width)
{
    if (width <= widestRow) return;
    widestRow = width;
    // Rows are laid out while the view paints: change the scene once painting is over.
    if (widthUpdateQueued) return;
    widthUpdateQueued = true;
    QTimer::singleShot(0, this, &LogView::applyRowWidth);
}

// Until rows are first trimmed the scene grows with its rows by itself; after that its rectangle
// is ours to widen.
void LogView::applyRowWidth()
{
    widthUpdateQueued = false;
    if (rowRect.height() <= 0) return;
    rowRect.setWidth(widestRow);
    logScene->setSceneRect(rowRect);
}

void LogView::updateScene(const QList<QRectF> &rects)
{
    QGraphicsView::updateScene(rects);
    // While a match is shown the pane stays on it instead of following new rows.
    if (scrollEnabled && !currentRow) ensureVisible(0, nextY, 0, 0, 50, 50);
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
    widestRow = rowWidth;
    currentRow = nullptr;
    currentMatchNumber = 0;
}

QString LogView::rowHtml(const QStringList &entry)
{
    if (entry.size() < 2) return entry.value(0);
    return entry.first() + entry.mid(1).join(QLatin1Char(' ')) + QLatin1String("<br>");
}

QString LogView::visibleText(const QString &html)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    QString text = html;
    text.remove(tag);
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&#39;"), QLatin1String("'"));
    text.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

bool LogView::passesFilter(const QString &html) const
{
    return filterText.isEmpty() || visibleText(html).contains(filterText, Qt::CaseInsensitive);
}

// The rows again from the kept lines, through the filter.
void LogView::resetRows()
{
    flush();
    QGraphicsScene *old = logScene;
    logScene = newScene();
    rows.clear();
    nextY = 0;
    setScene(logScene);
    delete old;
    rowRect = QRectF(0, 0, rowWidth, 0);
    currentRow = nullptr;
    currentMatchNumber = 0;
    for (const QStringList &entry : qAsConst(entries)) {
        const QString line = rowHtml(entry);
        if (passesFilter(line)) pendingLines.append(line);
    }
    flush();
}

void LogView::setFilter(const QString &text)
{
    if (text == filterText) return;
    filterText = text;
    resetRows();
    if (!searchText.isEmpty()) findNext(searchText);
}

QStringList LogView::shownRows() const
{
    QStringList out;
    for (const LogGraphicsItem *row : rows)
        out << row->rowHtml();
    return out;
}

int LogView::findNext(const QString &text, bool backwards)
{
    flush();
    searchText = text;
    std::vector<LogGraphicsItem *> found;
    for (LogGraphicsItem *row : rows) {
        const bool hit = !text.isEmpty() && visibleText(row->rowHtml()).contains(text, Qt::CaseInsensitive);
        row->setMark(hit ? LogGraphicsItem::Match : LogGraphicsItem::Unmarked);
        if (hit) found.push_back(row);
    }
    currentMatchNumber = 0;
    if (found.empty()) {
        currentRow = nullptr;
        return 0;
    }
    // The next match below (or above) the current one, wrapping around.
    int at = -1;
    if (currentRow) {
        const qreal y = currentRow->pos().y();
        for (int i = 0; i < int(found.size()) && at < 0; ++i) {
            const int k = backwards ? int(found.size()) - 1 - i : i;
            if (backwards ? found[k]->pos().y() < y : found[k]->pos().y() > y) at = k;
        }
    }
    if (at < 0) at = backwards ? int(found.size()) - 1 : 0;
    currentRow = found[at];
    currentRow->setMark(LogGraphicsItem::Current);
    currentMatchNumber = at + 1;
    ensureVisible(currentRow->pos().x(), currentRow->pos().y(), 10, rowHeight);
    return int(found.size());
}

bool LogView::saveLog(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    for (const QStringList &entry : entries) {
        QString line = visibleText(rowHtml(entry));
        // A line's own breaks would split it; each logged line stays one line of the file.
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        file.write(line.trimmed().toUtf8() + '\n');
    }
    if (!file.commit()) {
        if (error) *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
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
