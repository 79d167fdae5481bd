#include "menubar/StatusBarIconRenderer.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPathStroker>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillby {

namespace {

// Layout unit: the icon is designed on a 22 x 22 grid.
constexpr double kGrid = 22.0;

// A path for `text` at the size where a digit fills the height of `box`, squeezed sideways
// (at most to 70 %, then shrunk) to fit its width, centred on the box's middle. Scaling by the
// digit height rather than by the text's own ink keeps "--" and "?" at the size of the digits.
QPainterPath fittedText(const QString &text, const QRectF &box)
{
    QFont font = QGuiApplication::font();
    font.setStretch(QFont::Condensed);
    font.setWeight(QFont::Bold);
    font.setPixelSize(100);
    QPainterPath reference;
    reference.addText(0, 0, font, QStringLiteral("0"));
    const QRectF digit = reference.boundingRect();
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF ink = path.boundingRect();
    if (ink.isEmpty() || digit.isEmpty()) {
        return {};
    }
    double scaleY = box.height() / digit.height();
    double scaleX = scaleY;
    if (ink.width() * scaleX > box.width()) {
        scaleX = box.width() / ink.width();
        if (scaleX < scaleY * 0.7) {
            scaleY = scaleX / 0.7;
        }
    }
    QTransform transform;
    transform.translate(box.center().x(), box.center().y());
    transform.scale(scaleX, scaleY);
    transform.translate(-ink.center().x(), -digit.center().y());
    return transform.map(path);
}

// One arrow pointing at `angle` (radians, counter-clockwise from the right, screen y down).
void addArrow(QPainterPath &path, QPointF centre, double angle, double length, double head)
{
    const QPointF direction(std::cos(angle), -std::sin(angle));
    const QPointF tail = centre - direction * (length / 2);
    const QPointF tip = centre + direction * (length / 2);
    path.moveTo(tail);
    path.lineTo(tip);
    for (double side : {-1.0, 1.0}) {
        const double a = angle + std::numbers::pi + side * 0.75;
        path.moveTo(tip);
        path.lineTo(tip + QPointF(std::cos(a), -std::sin(a)) * head);
    }
}

struct ArrowShape {
    double angle = 0;
    int count = 0;   // 0: not an arrow
};

ArrowShape arrowShape(const QString &text)
{
    using std::numbers::pi;
    if (text == QStringLiteral("↑↑")) {
        return {pi / 2, 2};
    }
    if (text == QStringLiteral("↑")) {
        return {pi / 2, 1};
    }
    if (text == QStringLiteral("↗")) {
        return {pi / 4, 1};
    }
    if (text == QStringLiteral("→")) {
        return {0, 1};
    }
    if (text == QStringLiteral("↘")) {
        return {-pi / 4, 1};
    }
    if (text == QStringLiteral("↓")) {
        return {-pi / 2, 1};
    }
    if (text == QStringLiteral("↓↓")) {
        return {-pi / 2, 2};
    }
    return {};
}

// The outline of `path` stroked `width` wide with round ends, to be filled.
QPainterPath strokeOutline(const QPainterPath &path, double width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    QPainterPath outline = stroker.createStroke(path);
    outline.setFillRule(Qt::WindingFill);
    return outline;
}

// `ink` scaled down as far as needed to fit inside `box` (never up) and centred on it, so
// nothing of it reaches outside the box.
QPainterPath fittedInto(const QPainterPath &ink, const QRectF &box)
{
    const QRectF bounds = ink.boundingRect();
    if (bounds.isEmpty()) {
        return ink;
    }
    const double scale = std::min({1.0, box.width() / bounds.width(), box.height() / bounds.height()});
    QTransform transform;
    transform.translate(box.center().x(), box.center().y());
    transform.scale(scale, scale);
    transform.translate(-bounds.center().x(), -bounds.center().y());
    QPainterPath fitted = transform.map(ink);
    fitted.setFillRule(ink.fillRule());
    return fitted;
}

// The stale mark, drawn with the arrows' stroke: a font's question mark squeezed into the
// lower row of a 22-pixel tile keeps only a pixel or two of full ink and reads as a grey smudge.
QPainterPath questionMarkInk(double u)
{
    const double radius = 1.45 * u;
    const QRectF hook(-radius, -1.6 * u - radius, 2 * radius, 2 * radius);
    QPainterPath path;
    path.arcMoveTo(hook, 160);
    path.arcTo(hook, 160, -220);   // over the top, ending below and to the right of the hook's centre
    path.lineTo(0, 0.5 * u);
    path.lineTo(0, 0.9 * u);
    QPainterPath ink = strokeOutline(path, 1.5 * u);
    QPainterPath dot;
    dot.addEllipse(QPointF(0, 2.75 * u), 0.95 * u, 0.95 * u);
    ink.addPath(dot);
    return ink;
}

// The trend arrows (one or two side by side) as ink to fill.
QPainterPath arrowInk(const ArrowShape &arrow, double u)
{
    QPainterPath path;
    const double length = 7.2 * u;
    if (arrow.count == 1) {
        addArrow(path, QPointF(), arrow.angle, length, 3.2 * u);
    } else {
        // Two narrower arrows side by side, far enough apart that their heads stay separate.
        const double gap = 3.1 * u;
        addArrow(path, QPointF(-gap, 0), arrow.angle, length, 2.5 * u);
        addArrow(path, QPointF(gap, 0), arrow.angle, length, 2.5 * u);
    }
    return strokeOutline(path, 1.7 * u);
}

} // namespace

StatusBarIconRenderer::TitleLayout StatusBarIconRenderer::titleLayout(int pixelSize, bool hasIndicator)
{
    // Whole pixels: the value's row ends on a pixel edge and the trend's row starts at least two
    // clear pixels below it, so the decimal point never runs into the arrow at any size.
    const double u = pixelSize / kGrid;
    const int top = static_cast<int>(std::lround(1.5 * u));
    const int bottom = pixelSize - top;
    const int gap = std::max(2, static_cast<int>(std::lround(2 * u)));
    const int valueHeight = static_cast<int>(std::lround((bottom - top - gap) * 0.58));
    const int trendTop = top + valueHeight + gap;
    TitleLayout layout;
    layout.value = QRectF(2 * u, top, 18 * u, valueHeight);
    layout.trend = QRectF(2 * u, trendTop, (hasIndicator ? 14.5 : 18) * u, bottom - trendTop);
    return layout;
}

namespace {

void drawTitle(QPainter &painter, const StatusBarIconContent &content, int pixelSize)
{
    const double u = pixelSize / kGrid;
    const QString title = content.title.trimmed();
    const qsizetype space = title.indexOf(QLatin1Char(' '));
    const QString value = space < 0 ? title : title.left(space);
    const QString suffix = space < 0 ? QString() : title.mid(space + 1).trimmed();
    const QColor ink = StatusBarIconRenderer::textColor(content.style);
    const bool hasDot = content.indicator != StatusIndicator::none;
    const auto layout = StatusBarIconRenderer::titleLayout(pixelSize, hasDot);

    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawPath(fittedText(value, layout.value));

    const ArrowShape arrow = arrowShape(suffix);
    if (arrow.count > 0) {
        painter.drawPath(fittedInto(arrowInk(arrow, u), layout.trend));
    } else if (suffix == QLatin1String("?")) {
        painter.drawPath(fittedInto(questionMarkInk(u), layout.trend));
    } else if (!suffix.isEmpty()) {
        painter.drawPath(fittedText(suffix, layout.trend));
    }

    if (hasDot) {
        const QPointF centre(18.4 * u, layout.trend.center().y());
        const QColor ring = content.style == StatusStyle::high ? ink : QColor(Qt::white);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ring);
        painter.drawEllipse(centre, 3.3 * u, 3.3 * u);
        painter.setBrush(StatusBarIconRenderer::indicatorColor(content.indicator));
        painter.drawEllipse(centre, 2.4 * u, 2.4 * u);
    }
}

void drawMark(QPainter &painter, const StatusBarIconContent &content, double u)
{
    const QColor ink = StatusBarIconRenderer::textColor(StatusStyle::normal);
    const QRectF frame(1.5 * u, 1.5 * u, 18 * u, 18 * u);

    // The mark, with a circular gap where the badge sits.
    QPainterPath mark = StatusBarIconRenderer::logoPath(frame);
    mark.setFillRule(Qt::OddEvenFill);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.setClipPath(StatusBarIconRenderer::badgeMaskPath(frame));
    painter.drawPath(mark);
    painter.setClipping(false);

    const double s = frame.width() / 18.0;
    const QRectF badge(frame.left() + 11 * s, frame.top() + 11 * s, 9 * s, 9 * s);
    if (content.iconState == StatusBarIconState::waiting) {
        const double line = 1.4 * s;
        const QRectF circle = badge.adjusted(0.7 * s, 0.7 * s, -0.7 * s, -0.7 * s);
        painter.save();
        painter.translate(badge.center());
        painter.rotate(content.waitingTurn * 360.0);
        painter.translate(-badge.center());
        painter.setPen(QPen(ink, line, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        // From 0.12 to 0.86 of the outline, clockwise from three o'clock.
        painter.drawArc(circle, static_cast<int>(std::lround(-0.12 * 360 * 16)),
                        static_cast<int>(std::lround(-0.74 * 360 * 16)));
        painter.restore();
    } else {
        // An exclamation mark cut out of a filled circle.
        painter.setBrush(ink);
        painter.drawEllipse(badge);
        painter.setBrush(StatusBarIconRenderer::tileColor(StatusStyle::normal));
        const double barWidth = 1.5 * s;
        painter.drawRoundedRect(QRectF(badge.center().x() - barWidth / 2, badge.top() + 1.8 * s, barWidth, 3.6 * s),
                                barWidth / 2, barWidth / 2);
        painter.drawEllipse(QPointF(badge.center().x(), badge.top() + 6.8 * s), 0.85 * s, 0.85 * s);
    }
}

} // namespace

QImage StatusBarIconRenderer::render(const StatusBarIconContent &content, int pixelSize)
{
    const int size = std::max(1, pixelSize);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double u = size / kGrid;

    const StatusStyle tileStyle = content.iconState ? StatusStyle::normal : content.style;
    painter.setPen(Qt::NoPen);
    painter.setBrush(tileColor(tileStyle));
    painter.drawRoundedRect(QRectF(0, 0, size, size), 4.5 * u, 4.5 * u);

    if (content.iconState) {
        drawMark(painter, content, u);
    } else {
        drawTitle(painter, content, size);
    }
    painter.end();
    return image;
}

QIcon StatusBarIconRenderer::icon(const StatusBarIconContent &content)
{
    // Each size drawn for the screen's own pixels: on a 2x screen the panel gets an image of
    // twice the pixels, drawn at that size, not a small one scaled up.
    QIcon icon;
    for (const int size : kIconSizes) {
        for (const int ratio : {1, 2}) {
            QPixmap pixmap = QPixmap::fromImage(render(content, size * ratio));
            pixmap.setDevicePixelRatio(ratio);
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}

QPainterPath StatusBarIconRenderer::logoPath(const QRectF &rect)
{
    QPainterPath path;
    // Outer disc, 40 x 40 design units.
    path.moveTo(20, 40);
    path.cubicTo(8.954, 40, 0, 31.046, 0, 20);
    path.cubicTo(0, 8.954, 8.954, 0, 20, 0);
    path.cubicTo(31.046, 0, 40, 8.954, 40, 20);
    path.cubicTo(40, 31.046, 31.046, 40, 20, 40);
    path.closeSubpath();
    // The left inner shape, a hole under the odd-even rule.
    path.moveTo(4, 20);
    path.cubicTo(4, 27.264, 9.163, 33.321, 16.02, 34.704);
    path.cubicTo(17.642, 35.03, 19, 33.657, 19, 32);
    path.lineTo(19, 8);
    path.cubicTo(19, 6.343, 17.643, 4.969, 16.02, 5.296);
    path.cubicTo(9.162, 6.68, 4, 12.736, 4, 20);
    path.closeSubpath();
    path.setFillRule(Qt::OddEvenFill);

    QTransform transform;
    transform.translate(rect.left(), rect.top());
    transform.scale(rect.width() / 40.0, rect.height() / 40.0);
    QPainterPath mapped = transform.map(path);
    mapped.setFillRule(Qt::OddEvenFill);
    return mapped;
}

QPainterPath StatusBarIconRenderer::badgeMaskPath(const QRectF &rect)
{
    const double s = rect.width() / 18.0;
    QPainterPath path;
    path.addRect(rect);
    path.addEllipse(QRectF(rect.right() - 8 * s, rect.bottom() - 8 * s, 11 * s, 11 * s));
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

QColor StatusBarIconRenderer::tileColor(StatusStyle style)
{
    switch (style) {
    case StatusStyle::low:
        return QColor(255, 59, 48);
    case StatusStyle::high:
        return QColor::fromRgbF(1.0f, 0.9f, 0.3f);
    case StatusStyle::normal:
        break;
    }
    return QColor(47, 53, 59);
}

QColor StatusBarIconRenderer::textColor(StatusStyle style)
{
    switch (style) {
    case StatusStyle::high:
        return QColor::fromRgbF(0.6f, 0.4f, 0.0f);
    case StatusStyle::low:
    case StatusStyle::normal:
        break;
    }
    return QColor(Qt::white);
}

QColor StatusBarIconRenderer::indicatorColor(StatusIndicator indicator)
{
    return indicator == StatusIndicator::updateAvailable ? QColor(0, 122, 255) : QColor(255, 149, 0);
}

} // namespace quillby
