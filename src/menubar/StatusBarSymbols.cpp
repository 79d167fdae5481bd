#include "menubar/StatusBarSymbols.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace quillby {

QPixmap statusBarSymbolPixmap(StatusBarSymbol symbol, int size, const QColor &color, qreal devicePixelRatio)
{
    const int pixels = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double s = size / 16.0;   // drawn on a 16-unit grid
    QPen pen(color, 1.5 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    switch (symbol) {
    case StatusBarSymbol::warningTriangle: {
        QPainterPath triangle;
        triangle.moveTo(8 * s, 1.8 * s);
        triangle.lineTo(15 * s, 14.2 * s);
        triangle.lineTo(1 * s, 14.2 * s);
        triangle.closeSubpath();
        painter.setPen(pen);
        painter.drawPath(triangle);
        painter.drawLine(QPointF(8 * s, 6.2 * s), QPointF(8 * s, 9.6 * s));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(8 * s, 12 * s), 0.95 * s, 0.95 * s);
        break;
    }
    case StatusBarSymbol::arrowRight:
        painter.setPen(pen);
        painter.drawLine(QPointF(2 * s, 8 * s), QPointF(14 * s, 8 * s));
        painter.drawLine(QPointF(9.5 * s, 3.5 * s), QPointF(14 * s, 8 * s));
        painter.drawLine(QPointF(9.5 * s, 12.5 * s), QPointF(14 * s, 8 * s));
        break;
    case StatusBarSymbol::arrowClockwise: {
        painter.setPen(pen);
        const QRectF circle(2.5 * s, 2.5 * s, 11 * s, 11 * s);
        painter.drawArc(circle, 100 * 16, 290 * 16);
        // Arrow head at the top end of the arc, pointing clockwise.
        const QPointF tip(8.9 * s, 2.5 * s);
        painter.drawLine(tip, QPointF(6.3 * s, 0.6 * s));
        painter.drawLine(tip, QPointF(6.5 * s, 4.9 * s));
        break;
    }
    }
    painter.end();
    return pixmap;
}

QIcon statusBarSymbolIcon(StatusBarSymbol symbol, const QColor &color)
{
    QIcon icon;
    for (int size : {16, 22, 32}) {
        icon.addPixmap(statusBarSymbolPixmap(symbol, size, color));
    }
    return icon;
}

} // namespace quillby
