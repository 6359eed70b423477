#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

// Strokes `rect` with a line one pixel wide centred on its edges, corners
// square and fully covered (the painter's own rectangle outline leaves the
// corner pixels partly blank under anti-aliasing).
void strokeSquareOutline(QPainter &painter, const QRectF &rect, const QColor &color);
