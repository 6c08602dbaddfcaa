#pragma once

#include <QGraphicsItem>
#include <QRectF>
#include <QString>

class QGraphicsTextItem;

// One row of the log pane. Laid out as rich text only when first painted, so rows never scrolled
// into view cost no more than their html.
class LogGraphicsItem : public QGraphicsItem
{
public:
    LogGraphicsItem(const QString &html, const QRectF &rect);
    ~LogGraphicsItem() override;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    QGraphicsTextItem *textItem = nullptr;
    QString html;
    QRectF rect;
};
