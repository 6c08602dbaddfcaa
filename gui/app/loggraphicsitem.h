#pragma once

#include <QGraphicsItem>
#include <QRectF>
#include <QString>

class LogView;
class QGraphicsTextItem;

// One row of the log pane. Laid out as rich text only when first painted, so rows never scrolled
// into view cost no more than their html.
class LogGraphicsItem : public QGraphicsItem
{
public:
    // `view`, if given, learns the row's real width when it is laid out.
    LogGraphicsItem(const QString &html, const QRectF &rect, LogView *view = nullptr);
    ~LogGraphicsItem() override;

    // The row shows `html` instead, laid out again when next painted.
    void reuse(const QString &newHtml);
    const QString &rowHtml() const { return html; }

    // Search marks drawn behind the text: none, a match, the current match.
    enum Mark { Unmarked, Match, Current };
    void setMark(Mark m);
    Mark mark() const { return marked; }

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    QGraphicsTextItem *textItem = nullptr;
    QString html;
    QRectF rect;
    LogView *view;
    Mark marked = Unmarked;
};
