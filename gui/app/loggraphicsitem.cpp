#include "loggraphicsitem.h"

#include <QGraphicsTextItem>

LogGraphicsItem::LogGraphicsItem(const QString &html, const QRectF &rect) : html(html), rect(rect) {}

LogGraphicsItem::~LogGraphicsItem()
{
    delete textItem;
}

QRectF LogGraphicsItem::boundingRect() const
{
    return textItem ? textItem->boundingRect() : rect;
}

void LogGraphicsItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    if (!textItem) {
        textItem = new QGraphicsTextItem;
        textItem->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        textItem->setHtml(html);
    }
    textItem->paint(painter, option, widget);
}
