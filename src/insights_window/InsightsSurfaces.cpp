#include "insights_window/InsightsSurfaces.h"

#include "insights_window/InsightsFormat.h"
#include "platform/Appearance.h"
#include "widgets/ReadableControlStyle.h"
#include "widgets/SettingsSymbols.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quillby {

QPalette InsightsColors::palette() { return lightAppearancePalette(lightWindowBackground()); }
QColor InsightsColors::windowBackground(const QPalette &palette) { return palette.color(QPalette::Window); }
QColor InsightsColors::cardBackground(const QPalette &palette)
{
    return isDarkPalette(palette) ? QColor::fromRgbF(1, 1, 1, 0.06f) : palette.color(QPalette::Base);
}
QColor InsightsColors::cardBorder(const QPalette &palette)
{
    return isDarkPalette(palette) ? QColor::fromRgbF(1, 1, 1, 0.06f) : QColor::fromRgbF(0, 0, 0, 0.06f);
}
QColor InsightsColors::veryLow(const QPalette &palette)
{
    return isDarkPalette(palette) ? QColor::fromRgbF(0.72f, 0.16f, 0.15f) : QColor::fromRgbF(0.66f, 0.09f, 0.08f);
}
QColor InsightsColors::secondaryText(const QPalette &palette) { return palette.color(kSecondaryTextRole); }
QColor InsightsColors::tertiaryText(const QPalette &palette)
{
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.3f);
    return colour;
}
QColor InsightsColors::quaternaryFill(const QPalette &palette)
{
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.1f);
    return colour;
}
QColor InsightsColors::systemBlue() { return QColor(0, 122, 255); }
QColor InsightsColors::green() { return QColor(52, 199, 89); }
QColor InsightsColors::red() { return QColor(255, 59, 48); }
QColor InsightsColors::yellow() { return QColor(255, 204, 0); }
QColor InsightsColors::orange() { return QColor(255, 149, 0); }

void useInsightsAppearance(QWidget *window)
{
    useReadableControlStyle();
    window->setPalette(InsightsColors::palette());
    window->setAutoFillBackground(true);
}

QFrame *makeSeparator(Qt::Orientation orientation, QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Midlight);
    return line;
}

InsightsCardFrame::InsightsCardFrame(QWidget *parent) : QFrame(parent)
{
}

void InsightsCardFrame::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(InsightsColors::cardBorder(palette()), 1));
    p.setBrush(InsightsColors::cardBackground(palette()));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

namespace {

QPixmap drawSymbol(const QString &name, const QColor &color, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    QPen pen(color, std::max(1.0, s / 12));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    const QRectF box(s * 0.1, s * 0.1, s * 0.8, s * 0.8);
    if (name == QLatin1String("exclamationmark.triangle")) {
        QPainterPath triangle;
        triangle.moveTo(s / 2, s * 0.1);
        triangle.lineTo(s * 0.92, s * 0.88);
        triangle.lineTo(s * 0.08, s * 0.88);
        triangle.closeSubpath();
        p.drawPath(triangle);
        p.drawLine(QPointF(s / 2, s * 0.38), QPointF(s / 2, s * 0.62));
        p.drawPoint(QPointF(s / 2, s * 0.76));
    } else if (name == QLatin1String("chart.bar.xaxis")) {
        p.drawLine(QPointF(s * 0.1, s * 0.9), QPointF(s * 0.9, s * 0.9));
        p.drawLine(QPointF(s * 0.25, s * 0.78), QPointF(s * 0.25, s * 0.5));
        p.drawLine(QPointF(s * 0.5, s * 0.78), QPointF(s * 0.5, s * 0.2));
        p.drawLine(QPointF(s * 0.75, s * 0.78), QPointF(s * 0.75, s * 0.4));
    } else if (name == QLatin1String("chart.xyaxis.line")) {
        p.drawLine(QPointF(s * 0.1, s * 0.1), QPointF(s * 0.1, s * 0.9));
        p.drawLine(QPointF(s * 0.1, s * 0.9), QPointF(s * 0.9, s * 0.9));
        QPainterPath line;
        line.moveTo(s * 0.2, s * 0.7);
        line.cubicTo(s * 0.4, s * 0.2, s * 0.6, s * 0.8, s * 0.88, s * 0.3);
        p.drawPath(line);
    } else if (name == QLatin1String("info.circle")) {
        p.drawEllipse(box);
        p.drawLine(QPointF(s / 2, s * 0.45), QPointF(s / 2, s * 0.7));
        p.drawPoint(QPointF(s / 2, s * 0.32));
    } else if (name == QLatin1String("gearshape")) {
        p.drawEllipse(QPointF(s / 2, s / 2), s * 0.2, s * 0.2);
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            p.drawLine(QPointF(s / 2 + std::cos(a) * s * 0.28, s / 2 + std::sin(a) * s * 0.28),
                       QPointF(s / 2 + std::cos(a) * s * 0.42, s / 2 + std::sin(a) * s * 0.42));
        }
    } else if (name == QLatin1String("pause.circle")) {
        p.drawEllipse(box);
        p.drawLine(QPointF(s * 0.42, s * 0.35), QPointF(s * 0.42, s * 0.65));
        p.drawLine(QPointF(s * 0.58, s * 0.35), QPointF(s * 0.58, s * 0.65));
    } else if (name == QLatin1String("moon.zzz.fill")) {
        QPainterPath moon;
        moon.addEllipse(QRectF(s * 0.1, s * 0.25, s * 0.65, s * 0.65));
        QPainterPath bite;
        bite.addEllipse(QRectF(s * 0.3, s * 0.15, s * 0.6, s * 0.6));
        p.setBrush(color);
        p.setPen(Qt::NoPen);
        p.drawPath(moon.subtracted(bite));
    } else if (name == QLatin1String("checkmark.circle.fill")) {
        p.setBrush(color);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(0, 0, s, s));
        QPen check(Qt::white, s / 9);
        check.setCapStyle(Qt::RoundCap);
        check.setJoinStyle(Qt::RoundJoin);
        p.setPen(check);
        p.setBrush(Qt::NoBrush);
        QPainterPath path;
        path.moveTo(s * 0.28, s * 0.52);
        path.lineTo(s * 0.44, s * 0.68);
        path.lineTo(s * 0.72, s * 0.36);
        p.drawPath(path);
    } else {
        p.drawEllipse(box);
    }
    return pixmap;
}

} // namespace

QIcon insightsSymbol(const QString &designName, const QColor &color)
{
    // The program's own symbol in the wanted colour, as in Settings; the desktop's icon theme
    // would change its shape and colour from desktop to desktop.
    QIcon own;
    if (!settingsSymbolFallbackPath(designName).isEmpty()) {
        own = settingsTintedSymbol(designName, color, color);
        if (!own.isNull()) {
            return own;
        }
    }
    for (const int size : {16, 24, 32, 48, 64}) {
        for (const int ratio : {1, 2}) {
            QPixmap pixmap = drawSymbol(designName, color, size * ratio);
            pixmap.setDevicePixelRatio(ratio);
            own.addPixmap(pixmap);
        }
    }
    return own;
}

QIcon insightsSecondarySymbol(const QString &designName)
{
    return insightsSymbol(designName, InsightsColors::secondaryText(InsightsColors::palette()));
}

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

void scaleFont(QWidget *widget, double factor, int weight)
{
    QFont font = widget->font();
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    font.setPointSizeF(points * factor);
    if (weight >= 0) {
        font.setWeight(static_cast<QFont::Weight>(weight));
    }
    widget->setFont(font);
}

InsightsRangeTrack::InsightsRangeTrack(double fraction, QColor color, QWidget *parent)
    : QWidget(parent), fraction_(fraction), color_(std::move(color))
{
    setFixedHeight(12);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void InsightsRangeTrack::setFraction(double fraction)
{
    fraction_ = fraction;
    update();
}

int InsightsRangeTrack::filledWidth(double fraction, int width)
{
    const double share = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    return clampedInt(std::round(share * width), 0, std::max(width, 0), 0);
}

void InsightsRangeTrack::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(InsightsColors::quaternaryFill(palette()));
    p.drawRoundedRect(rect(), 4, 4);
    const int filled = filledWidth(fraction_, width());
    if (filled > 0) {
        p.setBrush(color_);
        p.drawRoundedRect(QRect(0, 0, filled, height()), 4, 4);
    }
}

InsightsCardHeader::InsightsCardHeader(const QString &title, const QString &subtitle, QWidget *accessory,
                                       QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    auto *texts = new QVBoxLayout();
    texts->setSpacing(2);
    title_ = plainLabel(title, this);
    scaleFont(title_, 1.25, QFont::DemiBold);
    texts->addWidget(title_);
    if (!subtitle.isEmpty()) {
        auto *sub = plainLabel(subtitle, this);
        scaleFont(sub, 0.9);
        useSecondaryText(sub);
        texts->addWidget(sub);
    }
    row->addLayout(texts);
    row->addStretch(1);
    if (accessory) {
        row->addWidget(accessory, 0, Qt::AlignBottom);
    }
}

} // namespace quillby
