#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace quillby {

// The few small symbols of the status item's rows, drawn as vectors so they look the same on
// every desktop whatever its icon theme.
enum class StatusBarSymbol { warningTriangle, arrowRight, arrowClockwise };

// A square pixmap of `size` logical pixels at the given device pixel ratio.
QPixmap statusBarSymbolPixmap(StatusBarSymbol symbol, int size, const QColor &color, qreal devicePixelRatio = 1.0);
QIcon statusBarSymbolIcon(StatusBarSymbol symbol, const QColor &color);

} // namespace quillby
