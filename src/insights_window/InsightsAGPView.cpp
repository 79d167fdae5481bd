#include "insights_window/InsightsAGPView.h"

#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsSurfaces.h"
#include "platform/Appearance.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimeZone>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>

namespace quillby {

namespace {

constexpr double kDayMinutes = 1440;
constexpr double kTargetLowMgdl = 70;
constexpr double kTargetHighMgdl = 180;
constexpr int kChartHeight = 300;
// Room around the plot: x labels below, y labels at the trailing edge.
constexpr double kLeftMargin = 4;
constexpr double kTopMargin = 6;
constexpr double kRightMargin = 40;
constexpr double kBottomMargin = 22;

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

// The colours that carry meaning, for the appearance of `palette`.
QColor medianColor(const QPalette &palette)
{
    return isDarkPalette(palette) ? QColor::fromRgbF(0.67f, 0.82f, 1.0f) : InsightsColors::systemBlue();
}
QColor outerBandColor(const QPalette &palette)
{
    return withAlpha(InsightsColors::systemBlue(), isDarkPalette(palette) ? 0.14 : 0.11);
}
QColor innerBandColor(const QPalette &palette)
{
    return withAlpha(InsightsColors::systemBlue(), isDarkPalette(palette) ? 0.30 : 0.24);
}
QColor primary(const QPalette &palette, double alpha)
{
    return withAlpha(palette.color(QPalette::WindowText), alpha);
}

// A small painted swatch for the legend.
class Swatch : public QWidget {
public:
    enum class Kind { median, inner, outer, target };
    Swatch(Kind kind, QWidget *parent) : QWidget(parent), kind_(kind)
    {
        setFixedSize(kind == Kind::median ? QSize(14, 3) : QSize(12, 10));
        setAccessibleName(QString());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        const QRectF r = rect();
        switch (kind_) {
        case Kind::median:
            p.setBrush(medianColor(palette()));
            p.drawRoundedRect(r, 1.5, 1.5);
            break;
        case Kind::inner:
            p.setBrush(innerBandColor(palette()));
            p.drawRoundedRect(r, 2, 2);
            break;
        case Kind::outer:
            p.setBrush(outerBandColor(palette()));
            p.drawRoundedRect(r, 2, 2);
            break;
        case Kind::target:
            p.setBrush(withAlpha(InsightsColors::green(), 0.18));
            p.drawRoundedRect(r, 2, 2);
            p.setPen(QPen(withAlpha(InsightsColors::green(), 0.6), 1));
            p.drawLine(QPointF(r.left(), r.top() + 0.5), QPointF(r.right(), r.top() + 0.5));
            p.drawLine(QPointF(r.left(), r.bottom() - 0.5), QPointF(r.right(), r.bottom() - 0.5));
            break;
        }
    }

private:
    Kind kind_;
};

QWidget *legendItem(Swatch::Kind kind, const QString &text, const QString &accessibleLabel, QWidget *parent)
{
    auto *item = new QWidget(parent);
    auto *row = new QHBoxLayout(item);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    row->addWidget(new Swatch(kind, item), 0, Qt::AlignVCenter);
    auto *label = plainLabel(text, item);
    label->setAccessibleName(accessibleLabel);
    row->addWidget(label);
    return item;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Chart

InsightsAGPChart::InsightsAGPChart(InsightsAGP profile, GlucoseUnits unit, QWidget *parent)
    : QWidget(parent)
    , profile_(std::move(profile))
    , unit_(unit)
    , points_(InsightsAGPPlot::points(profile_.bins))
    , domain_(yDomain(profile_, unit_))
    , ticks_(yTicks(domain_, unit_))
{
    setObjectName(QStringLiteral("insightsAGPChart"));
    setAccessibleName(QStringLiteral("Ambulatory glucose profile, from midnight to midnight"));
    setAccessibleDescription(InsightsAGPView::profileHelpText(profile_));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setFixedHeight(kChartHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize InsightsAGPChart::sizeHint() const { return {560, kChartHeight}; }
QSize InsightsAGPChart::minimumSizeHint() const { return {300, kChartHeight}; }

double InsightsAGPChart::toUnit(double mgdl) const
{
    return unit_ == GlucoseUnits::mgdL ? mgdl : mgdl / 18.0;
}

InsightsAGPChart::YDomain InsightsAGPChart::yDomain(const InsightsAGP &profile, GlucoseUnits unit)
{
    double lowest = kTargetLowMgdl;
    double highest = kTargetHighMgdl;
    for (const auto &bin : profile.bins) {
        if (bin.percentiles) {
            if (std::isfinite(bin.percentiles->p5Mgdl)) {
                lowest = std::min(lowest, bin.percentiles->p5Mgdl);
            }
            if (std::isfinite(bin.percentiles->p95Mgdl)) {
                highest = std::max(highest, bin.percentiles->p95Mgdl);
            }
        }
    }
    if (unit == GlucoseUnits::mmolL) {
        lowest /= 18.0;
        highest /= 18.0;
    }
    const double step = unit == GlucoseUnits::mgdL ? 50 : 2;
    const double pad = step * 0.25;
    double lower = step * std::floor((lowest - pad) / step);
    if (lower < 0) {
        lower = 0;
    }
    const double upper = step * std::ceil((highest + pad) / step);
    return {lower, upper};
}

std::vector<double> InsightsAGPChart::yTicks(const YDomain &domain, GlucoseUnits unit)
{
    const std::vector<double> steps = unit == GlucoseUnits::mgdL ? std::vector<double>{10, 20, 25, 50, 100, 200, 500}
                                                                  : std::vector<double>{0.5, 1, 2, 2.5, 5, 10, 20};
    const double span = domain.upper - domain.lower;
    double step = steps.back();
    for (const double candidate : steps) {
        if (span / candidate <= 5.0 + 1e-9) {
            step = candidate;
            break;
        }
    }
    std::vector<double> ticks;
    if (!(span > 0) || !std::isfinite(span)) {
        return ticks;
    }
    for (double value = std::ceil(domain.lower / step) * step; value <= domain.upper + 1e-9 && ticks.size() < 50;
         value += step) {
        ticks.push_back(value);
    }
    return ticks;
}

QRectF InsightsAGPChart::plotFrame() const
{
    return QRectF(kLeftMargin, kTopMargin, std::max(0.0, width() - kLeftMargin - kRightMargin),
                  std::max(0.0, height() - kTopMargin - kBottomMargin));
}

double InsightsAGPChart::xPosition(double minute) const
{
    const QRectF f = plotFrame();
    return f.left() + minute / kDayMinutes * f.width();
}

double InsightsAGPChart::yPosition(double value) const
{
    const QRectF f = plotFrame();
    const double span = domain_.upper - domain_.lower;
    return f.bottom() - (value - domain_.lower) / span * f.height();
}

std::optional<int> InsightsAGPChart::quarterHourStart(double minuteValue)
{
    const auto minute = clampedInt(std::trunc(minuteValue), 0, 1439);
    if (!minute) {
        return std::nullopt;
    }
    return *minute - (*minute % 15);
}

std::optional<int> InsightsAGPChart::minuteAt(QPointF point) const
{
    const QRectF f = plotFrame();
    // The minimum edges belong to the frame, the maximum edges do not.
    if (!(point.x() >= f.left() && point.x() < f.right() && point.y() >= f.top() && point.y() < f.bottom()) ||
        !(f.width() > 0)) {
        return std::nullopt;
    }
    return quarterHourStart((point.x() - f.left()) / f.width() * kDayMinutes);
}

void InsightsAGPChart::updateHover(std::optional<QPointF> location)
{
    setHovered(location ? minuteAt(*location) : std::nullopt);
}

void InsightsAGPChart::toggleSelection(QPointF location)
{
    const auto minute = minuteAt(location);
    setSelected(minute == selectedMinute_ ? std::nullopt : minute);
}

void InsightsAGPChart::setHovered(std::optional<int> minute)
{
    if (minute != hoveredMinute_) {
        hoveredMinute_ = minute;
        announceActiveBin();
    }
}

void InsightsAGPChart::setSelected(std::optional<int> minute)
{
    if (minute != selectedMinute_) {
        selectedMinute_ = minute;
        announceActiveBin();
    }
}

void InsightsAGPChart::announceActiveBin()
{
    const auto bin = activeBin();
    QString description = InsightsAGPView::profileHelpText(profile_);
    if (bin) {
        description = binLabel(*bin) + QStringLiteral(": ") +
                      (bin->percentiles ? medianAccessibilityValue(*bin, *bin->percentiles, unit_)
                                        : calloutLines().mid(1).join(QLatin1Char(' ')));
    }
    setAccessibleDescription(description);
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
    update();
    emit activeBinChanged();
}

std::optional<InsightsAGPBin> InsightsAGPChart::activeBin() const
{
    const auto minute = hoveredMinute_ ? hoveredMinute_ : selectedMinute_;
    if (!minute) {
        return std::nullopt;
    }
    const auto found = std::find_if(profile_.bins.begin(), profile_.bins.end(),
                                    [&](const InsightsAGPBin &bin) { return bin.startMinute == *minute; });
    if (found == profile_.bins.end()) {
        return std::nullopt;
    }
    return *found;
}

QString InsightsAGPChart::binLabel(const InsightsAGPBin &bin)
{
    return InsightsFormat::timeLabel(bin.startMinute, true) + QStringLiteral("–") +
           InsightsFormat::timeLabel(bin.startMinute + 15, true);
}

QString InsightsAGPChart::medianAccessibilityValue(const InsightsAGPBin &bin, const InsightsAGPPercentiles &p,
                                                   GlucoseUnits unit)
{
    const auto v = [unit](double mgdl) { return InsightsFormat::glucose(mgdl, unit); };
    return QStringLiteral("Median %1; middle 50 percent %2 to %3; middle 90 percent %4 to %5 %6, from %7 and %8 "
                          "readings.")
        .arg(v(p.medianMgdl), v(p.p25Mgdl), v(p.p75Mgdl), v(p.p5Mgdl), v(p.p95Mgdl), InsightsFormat::unitText(unit),
             InsightsFormat::dayCount(bin.dayCount), InsightsFormat::integer(bin.readingCount));
}

QStringList InsightsAGPChart::calloutLines() const
{
    const auto bin = activeBin();
    if (!bin) {
        return {};
    }
    QStringList lines{binLabel(*bin)};
    const auto v = [this](double mgdl) { return InsightsFormat::glucose(mgdl, unit_); };
    if (bin->percentiles) {
        const auto &p = *bin->percentiles;
        lines << v(p.medianMgdl) + QLatin1Char(' ') + InsightsFormat::unitText(unit_) + QStringLiteral(" median")
              << QStringLiteral("Middle 50%\t") + v(p.p25Mgdl) + QStringLiteral("–") + v(p.p75Mgdl)
              << QStringLiteral("Middle 90%\t") + v(p.p5Mgdl) + QStringLiteral("–") + v(p.p95Mgdl)
              << QStringLiteral("From ") + InsightsFormat::dayCount(bin->dayCount);
    } else if (bin->readingCount > 0) {
        lines << QStringLiteral("Readings from ") + InsightsFormat::dayCount(bin->dayCount) + QLatin1Char('.')
              << QStringLiteral("At least %1 are needed.").arg(kInsightsAGPMinimumDays);
    } else {
        lines << QStringLiteral("No readings collected");
    }
    return lines;
}

QSizeF InsightsAGPChart::calloutSize(const QStringList &lines) const
{
    const QFontMetricsF metrics(font());
    double width = 0;
    for (const auto &line : lines) {
        QString shown = line;
        shown.replace(QLatin1Char('\t'), QStringLiteral("    "));
        width = std::max(width, metrics.horizontalAdvance(shown));
    }
    const double lineHeight = metrics.height() + 4;
    const bool large = activeBin() && activeBin()->percentiles;
    return {width + 20 + (large ? 24 : 0), lines.size() * lineHeight + 16 + (large ? 10 : 0)};
}

std::optional<QRectF> InsightsAGPChart::calloutRect() const
{
    const auto bin = activeBin();
    if (!bin) {
        return std::nullopt;
    }
    const QRectF f = plotFrame();
    const double x = xPosition(bin->startMinute + 7.5);
    if (!std::isfinite(x)) {
        return std::nullopt;
    }
    const QSizeF ideal = calloutSize(calloutLines());
    if (x < f.center().x()) {
        const double width = std::min(ideal.width(), std::max(0.0, f.right() - x - 10));
        return QRectF(x + 10, f.top() + 6, width, ideal.height());
    }
    const double width = std::min(ideal.width(), std::max(0.0, x - f.left() - 10));
    return QRectF(x - 10 - width, f.top() + 6, width, ideal.height());
}

void InsightsAGPChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF f = plotFrame();
    if (f.width() <= 0 || f.height() <= 0) {
        return;
    }
    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() * 0.85));
    p.setFont(small);
    const QFontMetricsF metrics(small);

    // Target range and its boundaries.
    const double targetTop = yPosition(toUnit(kTargetHighMgdl));
    const double targetBottom = yPosition(toUnit(kTargetLowMgdl));
    p.fillRect(QRectF(f.left(), targetTop, f.width(), targetBottom - targetTop), withAlpha(InsightsColors::green(), 0.045));
    QPen dashed(withAlpha(InsightsColors::green(), 0.4), 1);
    dashed.setDashPattern({4, 4});
    p.setPen(dashed);
    p.drawLine(QPointF(f.left(), targetTop), QPointF(f.right(), targetTop));
    p.drawLine(QPointF(f.left(), targetBottom), QPointF(f.right(), targetBottom));

    // Grid and axes.
    p.setPen(QPen(primary(palette(), 0.08), 1));
    for (const double tick : ticks_) {
        const double y = yPosition(tick);
        p.drawLine(QPointF(f.left(), y), QPointF(f.right(), y));
    }
    p.setPen(QPen(primary(palette(), 0.06), 1));
    for (int minute = 0; minute <= 1440; minute += 360) {
        const double x = xPosition(minute);
        p.drawLine(QPointF(x, f.top()), QPointF(x, f.bottom()));
    }
    p.setPen(InsightsColors::secondaryText(palette()));
    for (const double tick : ticks_) {
        const QString text = unit_ == GlucoseUnits::mgdL ? InsightsFormat::decimal(tick, 0)
                                                          : InsightsFormat::shortDecimal(tick, 1);
        p.drawText(QPointF(f.right() + 6, yPosition(tick) + metrics.ascent() / 2 - 1), text);
    }
    for (int minute = 0; minute <= 1440; minute += 360) {
        const QString text = InsightsFormat::timeLabel(minute, false);
        const double textWidth = metrics.horizontalAdvance(text);
        double x = xPosition(minute);
        if (minute == 1440) {
            x -= textWidth;
        } else if (minute != 0) {
            x -= textWidth / 2;
        }
        p.drawText(QPointF(x, f.bottom() + 4 + metrics.ascent()), text);
    }

    // Bands and median, one piece per segment so that gaps stay open.
    p.save();
    p.setClipRect(f.adjusted(-1, -2, 1, 2));
    std::map<int, std::vector<const InsightsAGPPlot::Point *>> segments;
    for (const auto &point : points_) {
        segments[point.segment].push_back(&point);
    }
    const auto band = [&](const std::vector<const InsightsAGPPlot::Point *> &pts, auto lowerOf, auto upperOf,
                          const QColor &color) {
        QPolygonF polygon;
        for (const auto *pt : pts) {
            polygon << QPointF(xPosition(pt->minute), yPosition(toUnit(lowerOf(pt->percentiles))));
        }
        for (auto it = pts.rbegin(); it != pts.rend(); ++it) {
            polygon << QPointF(xPosition((*it)->minute), yPosition(toUnit(upperOf((*it)->percentiles))));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPolygon(polygon);
    };
    for (const auto &[segment, pts] : segments) {
        band(pts, [](const InsightsAGPPercentiles &q) { return q.p5Mgdl; },
             [](const InsightsAGPPercentiles &q) { return q.p95Mgdl; }, outerBandColor(palette()));
        band(pts, [](const InsightsAGPPercentiles &q) { return q.p25Mgdl; },
             [](const InsightsAGPPercentiles &q) { return q.p75Mgdl; }, innerBandColor(palette()));
    }
    QPen medianPen(medianColor(palette()), 2.5);
    medianPen.setCapStyle(Qt::RoundCap);
    medianPen.setJoinStyle(Qt::RoundJoin);
    for (const auto &[segment, pts] : segments) {
        QPolygonF line;
        for (const auto *pt : pts) {
            line << QPointF(xPosition(pt->minute), yPosition(toUnit(pt->percentiles.medianMgdl)));
        }
        p.setPen(medianPen);
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(line);
    }
    p.restore();

    // The active bin: rule, median point and callout.
    const auto bin = activeBin();
    if (!bin) {
        return;
    }
    const double x = xPosition(bin->startMinute + 7.5);
    p.setPen(QPen(primary(palette(), 0.35), 1));
    p.drawLine(QPointF(x, f.top()), QPointF(x, f.bottom()));
    if (bin->percentiles) {
        const QPointF centre(x, yPosition(toUnit(bin->percentiles->medianMgdl)));
        p.setPen(Qt::NoPen);
        p.setBrush(InsightsColors::windowBackground(palette()));
        p.drawEllipse(centre, 6.5, 6.5);
        p.setBrush(InsightsColors::cardBackground(palette()));
        p.drawEllipse(centre, 6.5, 6.5);
        p.setBrush(medianColor(palette()));
        p.drawEllipse(centre, 4, 4);
    }
    const auto rect = calloutRect();
    if (!rect || rect->width() <= 0) {
        return;
    }
    // Shadow, card and border.
    QPainterPath card;
    card.addRoundedRect(*rect, 10, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, 0.06f));
    p.drawPath(card.translated(0, 2));
    p.setBrush(withAlpha(palette().color(QPalette::Base), 0.96));
    p.drawPath(card);
    p.setPen(QPen(InsightsColors::cardBorder(palette()), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(card);

    p.save();
    p.setClipRect(rect->adjusted(1, 1, -1, -1));
    const QStringList lines = calloutLines();
    double y = rect->top() + 8;
    const double left = rect->left() + 10;
    for (int i = 0; i < lines.size(); ++i) {
        QFont lineFont = font();
        lineFont.setStyleHint(QFont::SansSerif);
        if (i == 0) {
            lineFont.setPointSizeF(small.pointSizeF());
            lineFont.setWeight(QFont::Medium);
            p.setPen(InsightsColors::secondaryText(palette()));
        } else if (i == 1 && bin->percentiles) {
            lineFont.setPointSizeF(font().pointSizeF() * 1.6);
            lineFont.setWeight(QFont::DemiBold);
            p.setPen(palette().color(QPalette::Text));
        } else {
            lineFont.setPointSizeF(small.pointSizeF());
            p.setPen(i == lines.size() - 1 && bin->percentiles ? InsightsColors::secondaryText(palette()) : palette().color(QPalette::Text));
        }
        p.setFont(lineFont);
        const QFontMetricsF lm(lineFont);
        QString line = lines[i];
        if (i == 1 && bin->percentiles) {
            // The value large, its unit and "median" small beside it on the same baseline.
            const QString value = line.section(QLatin1Char(' '), 0, 0);
            const QString rest = line.section(QLatin1Char(' '), 1);
            p.drawText(QPointF(left, y + lm.ascent()), value);
            const double after = left + lm.horizontalAdvance(value) + 3;
            p.setFont(small);
            p.setPen(InsightsColors::secondaryText(palette()));
            p.drawText(QPointF(after, y + lm.ascent()), rest);
        } else if (line.contains(QLatin1Char('\t'))) {
            const QString label = line.section(QLatin1Char('\t'), 0, 0);
            const QString value = line.section(QLatin1Char('\t'), 1);
            p.setPen(InsightsColors::secondaryText(palette()));
            p.drawText(QPointF(left, y + lm.ascent()), label);
            p.setPen(palette().color(QPalette::Text));
            p.drawText(QPointF(left + metrics.horizontalAdvance(QStringLiteral("Middle 90%")) + 8, y + lm.ascent()),
                       value);
        } else {
            p.drawText(QPointF(left, y + lm.ascent()), line);
        }
        y += lm.height() + (i == 1 && bin->percentiles ? 2 : 3);
    }
    p.restore();
}

void InsightsAGPChart::mouseMoveEvent(QMouseEvent *event)
{
    updateHover(event->position());
    QWidget::mouseMoveEvent(event);
}

void InsightsAGPChart::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        toggleSelection(event->position());
    }
    QWidget::mousePressEvent(event);
}

void InsightsAGPChart::leaveEvent(QEvent *event)
{
    updateHover(std::nullopt);
    QWidget::leaveEvent(event);
}

void InsightsAGPChart::keyPressEvent(QKeyEvent *event)
{
    // Keyboard selection: arrows move the selected quarter hour, Home and End jump to the ends
    // of the day, Escape clears it.
    const int current = selectedMinute_.value_or(-1);
    switch (event->key()) {
    case Qt::Key_Right:
        setSelected(current < 0 ? 0 : std::min(current + 15, 1425));
        break;
    case Qt::Key_Left:
        setSelected(current < 0 ? 1425 : std::max(current - 15, 0));
        break;
    case Qt::Key_Home:
        setSelected(0);
        break;
    case Qt::Key_End:
        setSelected(1425);
        break;
    case Qt::Key_Escape:
        if (!selectedMinute_) {
            QWidget::keyPressEvent(event);
            return;
        }
        setSelected(std::nullopt);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

// ---------------------------------------------------------------------------------------------
// Card

InsightsAGPView::InsightsAGPView(const InsightsAGP &profile, GlucoseUnits unit, QWidget *parent) : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(20);

    auto *unitLabel = plainLabel(InsightsFormat::unitText(unit), this);
    useSecondaryText(unitLabel);
    auto *header = new InsightsCardHeader(QStringLiteral("Ambulatory glucose profile"), QString(), unitLabel, this);
    header->setToolTip(profileHelpText(profile));
    column->addWidget(header);

    const bool hasPoints = std::any_of(profile.bins.begin(), profile.bins.end(),
                                       [](const InsightsAGPBin &bin) { return bin.percentiles.has_value(); });
    if (hasPoints) {
        chart_ = new InsightsAGPChart(profile, unit, this);
        column->addWidget(chart_);
    } else {
        auto *placeholder = new QWidget(this);
        placeholder->setObjectName(QStringLiteral("insightsAGPCollecting"));
        placeholder->setFixedHeight(kChartHeight);
        auto *row = new QHBoxLayout(placeholder);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(12);
        auto *icon = new QLabel(placeholder);
        icon->setPixmap(insightsSymbol(QStringLiteral("chart.xyaxis.line"), InsightsColors::tertiaryText(InsightsColors::palette()))
                              .pixmap(28, 28));
        row->addWidget(icon, 0, Qt::AlignTop);
        auto *texts = new QVBoxLayout();
        texts->setSpacing(4);
        auto *title = plainLabel(QStringLiteral("Collecting a daily profile"), placeholder);
        scaleFont(title, 1.0, QFont::Medium);
        texts->addWidget(title);
        auto *detail = plainLabel(QStringLiteral("Each time of day needs readings from at least %1 days. The profile "
                                                 "will appear as more history is saved.")
                                      .arg(kInsightsAGPMinimumDays),
                                  placeholder);
        detail->setWordWrap(true);
        useSecondaryText(detail);
        texts->addWidget(detail);
        texts->addStretch(1);
        row->addLayout(texts, 1);
        column->addWidget(placeholder);
    }

    auto *legend = new QWidget(this);
    auto *legendColumn = new QVBoxLayout(legend);
    legendColumn->setContentsMargins(0, 0, 0, 0);
    legendColumn->setSpacing(8);
    auto *items = new QHBoxLayout();
    items->setSpacing(14);
    const QString low = InsightsFormat::glucose(kTargetLowMgdl, unit);
    const QString high = InsightsFormat::glucose(kTargetHighMgdl, unit);
    items->addWidget(legendItem(Swatch::Kind::median, QStringLiteral("Median"), QStringLiteral("Median"), legend));
    items->addWidget(legendItem(Swatch::Kind::inner, QStringLiteral("25–75%"),
                                QStringLiteral("25th to 75th percentile, the middle 50 percent"), legend));
    items->addWidget(legendItem(Swatch::Kind::outer, QStringLiteral("5–95%"),
                                QStringLiteral("5th to 95th percentile, the middle 90 percent"), legend));
    items->addWidget(legendItem(Swatch::Kind::target, QStringLiteral("Target %1–%2").arg(low, high),
                                QStringLiteral("Target %1 to %2 %3").arg(low, high, InsightsFormat::unitText(unit)),
                                legend));
    items->addStretch(1);
    legendColumn->addLayout(items);
    auto *gapNote = plainLabel(QStringLiteral("Gaps: fewer than %1 days of readings").arg(kInsightsAGPMinimumDays), legend);
    gapNote->setObjectName(QStringLiteral("insightsAGPGapNote"));
    useSecondaryText(gapNote);
    QSizePolicy keepSpace = gapNote->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    gapNote->setSizePolicy(keepSpace);
    const bool hasGaps = std::any_of(profile.bins.begin(), profile.bins.end(),
                                     [](const InsightsAGPBin &bin) { return !bin.percentiles.has_value(); });
    gapNote->setVisible(hasGaps);
    legendColumn->addWidget(gapNote);
    for (auto *label : legend->findChildren<QLabel *>()) {
        scaleFont(label, 0.85);
    }
    column->addWidget(legend);
}

QString InsightsAGPView::timeZoneName(const std::string &identifier)
{
    const QTimeZone zone(QByteArray::fromStdString(identifier));
    if (!zone.isValid()) {
        return QString::fromStdString(identifier);
    }
    const QString name = zone.displayName(QTimeZone::GenericTime, QTimeZone::ShortName, QLocale());
    return name.isEmpty() ? QString::fromStdString(identifier) : name;
}

QString InsightsAGPView::profileHelpText(const InsightsAGP &profile)
{
    return QStringLiteral("%1 combined into a single day, using %2.")
        .arg(InsightsFormat::dayCount(profile.contributingDayCount), timeZoneName(profile.timeZoneIdentifier));
}

} // namespace quillby
