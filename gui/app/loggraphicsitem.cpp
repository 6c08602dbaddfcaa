#include "loggraphicsitem.h"

#include "logview.h"

#include <QGraphicsTextItem>

LogGraphicsItem::LogGraphicsItem(const QString &html, const QRectF &rect, LogView *view)
    : html(html), rect(rect), view(view)
{
}

LogGraphicsItem::~LogGraphicsItem()
{
    delete textItem;
}

void LogGraphicsItem::reuse(const QString &newHtml)
{
    html = newHtml;
    if (!textItem) return;
    prepareGeometryChange();
    delete textItem;
    textItem = nullptr;
}

QRectF LogGraphicsItem::boundingRect() const
{
    return textItem ? textItem->boundingRect() : rect;
}

void LogGraphicsItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    if (!textItem) {
        // The bounding rectangle becomes the text's own: a long row is wider than the placeholder.
        prepareGeometryChange();
        textItem = new QGraphicsTextItem;
        textItem->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        textItem->setHtml(html);
        if (view) view->rowLaidOut(textItem->boundingRect().width());
    }
    textItem->paint(painter, option, widget);
}
