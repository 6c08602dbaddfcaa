#pragma once

#include <QGraphicsView>
#include <QList>
#include <QRectF>
#include <QStringList>
#include <QTimer>
#include <deque>

class LogGraphicsItem;
class QGraphicsScene;

// The log pane: one row per logged line, at most maxRows of them. Lines are collected and put into
// the scene in batches, so logging a burst of traffic costs a list append per line.
class LogView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit LogView(QWidget *parent = nullptr);
    ~LogView() override;

    void clearLog();
    // Whether the pane follows the newest row.
    bool scrolling() const { return scrollEnabled; }

    // A row's text has been laid out `width` pixels wide: the scene grows to show all of it.
    void rowLaidOut(qreal width);

    // Every line logged since the last clear, oldest first, as handed to addLine.
    const QList<QStringList> &logEntries() const { return entries; }

    // A logged line as the pane shows it, and as plain text (markup dropped, entities decoded).
    static QString rowHtml(const QStringList &entry);
    static QString visibleText(const QString &html);

    // Marks every row showing `text` (case ignored, markup not searched) and makes the next one after
    // the current match (or the previous one) current, scrolled into view. The number of matches; 0
    // clears the marks.
    int findNext(const QString &text, bool backwards = false);
    // The current match's place among the matches, from 1; 0 when there is none.
    int currentMatch() const { return currentMatchNumber; }
    // Shows only the kept lines containing `text`, and the new ones that do; every line for "".
    void setFilter(const QString &text);
    QString filter() const { return filterText; }
    // The rows the pane shows, oldest first, as html.
    QStringList shownRows() const;
    // The kept lines as UTF-8 text with their timestamps, one a line, written whole or not at all.
    bool saveLog(const QString &path, QString *error) const;

public slots:
    void flush();
    void scroll(bool on);
    void copy();
    void copyFlowChart();
    // Same signature as the view's own slot, so the scene's changed signal lands here.
    void updateScene(const QList<QRectF> &rects);
    void addLine(const QString &timestamp, const QString &log);
    void addLine(const QString &timestamp, const QStringList &log);

private:
    QGraphicsScene *newScene();
    void applyRowWidth();
    bool passesFilter(const QString &html) const;
    void resetRows();

    QGraphicsScene *logScene = nullptr;
    QList<QStringList> entries;
    QStringList pendingLines;
    bool scrollEnabled = true;
    QTimer flushTimer;
    int nextY = 0;
    QRectF rowRect{0, 0, 1000, 0};
    int maxRows = 10000;
    // The widest row laid out since the last clear, never less than a row's placeholder.
    qreal widestRow = 1000;
    bool widthUpdateQueued = false;
    // The rows in the scene, oldest first: trimming takes from the front without asking the scene.
    std::deque<LogGraphicsItem *> rows;
    QString filterText;
    QString searchText;
    int currentMatchNumber = 0;
    LogGraphicsItem *currentRow = nullptr;
};
