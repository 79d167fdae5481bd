#pragma once

#include "menubar/StatusBarTypes.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <optional>

namespace quillby {

// What the tray icon shows: either the product mark with the waiting or attention badge, or
// the status title (value and trend arrow) in its colour style, with the warning or update dot.
struct StatusBarIconContent {
    std::optional<StatusBarIconState> iconState;
    QString title;                                  // "5.5 →", "5.5 ?", "-- ?"
    StatusStyle style = StatusStyle::normal;
    StatusIndicator indicator = StatusIndicator::none;
    double waitingTurn = 0;                         // rotation of the waiting arc, in turns

    bool operator==(const StatusBarIconContent &) const = default;
};

// Draws the tray icon. Panels show square icons of 16 to 48 pixels on light or dark
// backgrounds, so every icon is a rounded tile of its own colour: dark for the normal style and
// the product mark, red for low, yellow for high.
class StatusBarIconRenderer {
public:
    // One square image of `pixelSize` pixels.
    static QImage render(const StatusBarIconContent &content, int pixelSize);
    // An icon holding the sizes panels ask for (16 to 64 pixels), each at 1x and 2x.
    static QIcon icon(const StatusBarIconContent &content);
    static constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64};

    // Where the value and the trend mark go in an image of `pixelSize` pixels.
    struct TitleLayout {
        QRectF value;
        QRectF trend;
    };
    static TitleLayout titleLayout(int pixelSize, bool hasIndicator);

    // The product mark in `rect`: a disc with a thin rim on the left (fill with the odd-even rule).
    static QPainterPath logoPath(const QRectF &rect);
    // `rect` minus the circle that leaves room for the badge at its lower right.
    static QPainterPath badgeMaskPath(const QRectF &rect);

    // Tile and text colours of a style.
    static QColor tileColor(StatusStyle style);
    static QColor textColor(StatusStyle style);
    static QColor indicatorColor(StatusIndicator indicator);
};

} // namespace quillby
