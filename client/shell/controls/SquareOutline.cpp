#include "SquareOutline.h"

#include <QPainter>
#include <QPainterPath>

void strokeSquareOutline(QPainter &painter, const QRectF &rect, const QColor &color) {
    QPainterPath outline;
    outline.addRect(rect.adjusted(-0.5, -0.5, 0.5, 0.5));
    outline.addRect(rect.adjusted(0.5, 0.5, -0.5, -0.5));
    outline.setFillRule(Qt::OddEvenFill);
    painter.fillPath(outline, color);
}
