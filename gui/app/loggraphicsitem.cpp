#include "loggraphicsitem.h"

#include "logview.h"

#include <QGraphicsTextItem>
#include <QPainter>

LogGraphicsItem::LogGraphicsItem(const QString &html, const QRectF &rect, LogView *view)
    : html(html), rect(rect), view(view)
{
}

LogGraphicsItem::~LogGraphicsItem()
{
    delete textItem;
}

void LogGraphicsItem::setMark(Mark m)
{
    if (m == marked) return;
    marked = m;
    update();
}

void LogGraphicsItem::reuse(const QString &newHtml)
{
    html = newHtml;
    marked = Unmarked;
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
    if (marked != Unmarked)
        painter->fillRect(boundingRect(), marked == Current ? QColor(255, 200, 80) : QColor(255, 243, 170));
    textItem->paint(painter, option, widget);
}
