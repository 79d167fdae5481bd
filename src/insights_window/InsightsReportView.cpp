#include "insights_window/InsightsReportView.h"

#include "insights_window/InsightsAGPView.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsNumberLabel.h"
#include "insights_window/InsightsSurfaces.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

namespace quillby {

namespace {

const QString kDash = QStringLiteral("—");

QFrame *verticalDivider(QWidget *parent)
{
    QFrame *line = makeSeparator(Qt::Vertical, parent);
    line->setFixedHeight(78);
    return line;
}

// The text of a percentage on its way to `finalText`: as many fraction digits as that one.
InsightsNumberLabel::Format percentSteps(const QString &finalText)
{
    const int digits = finalText.contains(QLocale().decimalPoint()) ? 1 : 0;
    return [digits](double fraction) {
        return InsightsFormat::decimal(fraction * 100.0, digits) + QLocale().percent();
    };
}

} // namespace

InsightsReportView::Card InsightsReportView::highlightCard(const Highlight &highlight, QWidget *parent)
{
    Card c;
    c.card = new QWidget(parent);
    c.card->setObjectName(QStringLiteral("insightsHighlight_") + highlight.id);
    auto *column = new QVBoxLayout(c.card);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    c.title = plainLabel(highlight.title, c.card);
    useSecondaryText(c.title);
    column->addWidget(c.title);

    c.valueRow = new QHBoxLayout();
    c.value = new InsightsNumberLabel(c.card);
    c.value->setObjectName(QStringLiteral("value"));
    QFont valueFont = c.value->font();
    valueFont.setPixelSize(36);
    valueFont.setWeight(QFont::DemiBold);
    valueFont.setStyleHint(QFont::SansSerif);
    c.value->setFont(valueFont);
    c.valueRow->addWidget(c.value, 0, Qt::AlignBaseline);
    c.unit = plainLabel(QString(), c.card);
    c.unit->setObjectName(QStringLiteral("unit"));
    c.valueRow->addWidget(c.unit, 0, Qt::AlignBaseline);
    c.valueRow->addStretch(1);
    column->addLayout(c.valueRow);
    c.caption = plainLabel(QString(), c.card);
    c.caption->setObjectName(QStringLiteral("caption"));
    useSecondaryText(c.caption);
    scaleFont(c.caption, 0.85);
    column->addWidget(c.caption);
    column->addStretch(1);
    c.card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return c;
}

void InsightsReportView::showHighlight(Card &c, const Highlight &highlight, GlucoseUnits unit,
                                       const std::optional<InsightsCurve> &curve)
{
    c.title->setText(highlight.title);
    InsightsNumberLabel::Format steps;
    if (highlight.id == QStringLiteral("gmi")) {
        steps = [](double percent) { return InsightsFormat::decimal(percent, 1); };
    } else {
        steps = [unit](double mgdl) { return formatGlucose(mgdl, unit); };
    }
    c.value->setNumber(highlight.number, highlight.value, std::move(steps), curve);
    const bool percent = highlight.unit == QStringLiteral("%");
    c.valueRow->setSpacing(percent ? 1 : 5);
    c.unit->setVisible(highlight.unit.has_value());
    c.unit->setText(highlight.unit.value_or(QString()));
    if (percent) {
        c.unit->setFont(c.value->font());
        c.unit->setForegroundRole(QPalette::WindowText);
    } else {
        c.unit->setFont(font());
        useSecondaryText(c.unit);
    }
    c.caption->setVisible(highlight.caption.has_value());
    c.caption->setText(highlight.caption.value_or(QString()));
    c.card->setToolTip(highlight.help);
    // One element for assistive technologies, with the final numbers only.
    QStringList spoken{highlight.title, highlight.value};
    if (highlight.unit) {
        spoken << *highlight.unit;
    }
    if (highlight.caption) {
        spoken << *highlight.caption;
    }
    const QString name = spoken.join(QLatin1Char(' '));
    if (c.card->accessibleName() != name) {
        c.card->setAccessibleName(name);
    }
}

QString InsightsReportView::formatGlucose(double mgdl, GlucoseUnits unit)
{
    return InsightsFormat::glucose(mgdl, unit);
}

std::vector<InsightsReportView::Highlight> InsightsReportView::highlights(const InsightsSummary &summary,
                                                                          GlucoseUnits unit)
{
    const QString unitText = InsightsFormat::unitText(unit);
    const auto glucose = [&](const std::optional<double> &value) {
        return value && std::isfinite(*value) ? formatGlucose(*value, unit) : kDash;
    };
    std::vector<Highlight> result;
    const auto number = [](const std::optional<double> &value) {
        return value && std::isfinite(*value) ? value : std::nullopt;
    };
    result.push_back({QStringLiteral("mean"), QStringLiteral("Average"), glucose(summary.meanMgdl), unitText,
                      std::nullopt, QStringLiteral("Mean glucose weighted by observed time over the selected period."),
                      number(summary.meanMgdl)});
    result.push_back({QStringLiteral("standardDeviation"), QStringLiteral("Standard deviation"),
                      glucose(summary.standardDeviationMgdl), unitText, std::nullopt,
                      QStringLiteral("Spread of glucose readings around the average, weighted by observed time."),
                      number(summary.standardDeviationMgdl)});
    Highlight gmi{QStringLiteral("gmi"), QStringLiteral("Estimated GMI"), kDash, std::nullopt, std::nullopt, QString(),
                  std::nullopt};
    if (const auto percent = summary.gmi.percent(); percent && std::isfinite(*percent)) {
        gmi.value = InsightsFormat::decimal(*percent, 1);
        gmi.number = *percent;
        gmi.unit = QStringLiteral("%");
        gmi.caption = QStringLiteral("Not a lab HbA1c result");
    } else {
        switch (summary.gmi.unavailableReason().value_or(InsightsGMIUnavailableReason::noReadings)) {
        case InsightsGMIUnavailableReason::noReadings:
            gmi.caption = QStringLiteral("Needs saved readings");
            gmi.help = QStringLiteral("GMI needs saved readings, 14 days of history, and at least 70% collected coverage.");
            break;
        case InsightsGMIUnavailableReason::collectingHistory:
            gmi.caption = QStringLiteral("Needs 14 days of history");
            gmi.help = QStringLiteral("Available after 14 days of history with at least 70% collected coverage.");
            break;
        case InsightsGMIUnavailableReason::shortInterval:
            gmi.caption = QStringLiteral("Needs a 14-day period");
            gmi.help = QStringLiteral("Choose a period of at least 14 days.");
            break;
        case InsightsGMIUnavailableReason::insufficientCoverage:
            gmi.caption = QStringLiteral("Needs 70% coverage");
            gmi.help = QStringLiteral("Coverage is %1. At least 70% of the selected period is needed.")
                           .arg(InsightsFormat::percent(summary.coverage.fraction(), 1));
            break;
        }
    }
    result.push_back(gmi);
    return result;
}

QString InsightsReportView::bandName(InsightsBand band)
{
    switch (band) {
    case InsightsBand::veryLow:
        return QStringLiteral("Very low");
    case InsightsBand::low:
        return QStringLiteral("Low");
    case InsightsBand::inRange:
        return QStringLiteral("In range");
    case InsightsBand::high:
        return QStringLiteral("High");
    case InsightsBand::veryHigh:
        return QStringLiteral("Very high");
    }
    return {};
}

QString InsightsReportView::bandRangeText(InsightsBand band, GlucoseUnits unit)
{
    // The consensus limits, each in the unit's own round figure, in the locale's digits.
    const bool mg = unit == GlucoseUnits::mgdL;
    const auto limit = [mg](int mgdl, double mmol) {
        return mg ? InsightsFormat::integer(mgdl) : InsightsFormat::decimal(mmol, 1);
    };
    switch (band) {
    case InsightsBand::veryLow:
        return QStringLiteral("<") + limit(54, 3.0);
    case InsightsBand::low:
        return limit(54, 3.0) + QStringLiteral("–<") + limit(70, 3.9);
    case InsightsBand::inRange:
        return limit(70, 3.9) + QStringLiteral("–") + limit(180, 10.0);
    case InsightsBand::high:
        return QStringLiteral(">") + limit(180, 10.0) + QStringLiteral("–") + limit(250, 13.9);
    case InsightsBand::veryHigh:
        return QStringLiteral(">") + limit(250, 13.9);
    }
    return {};
}

QColor InsightsReportView::bandColor(InsightsBand band, const QPalette &palette)
{
    switch (band) {
    case InsightsBand::veryLow:
        return InsightsColors::veryLow(palette);
    case InsightsBand::low:
        return InsightsColors::red();
    case InsightsBand::inRange:
        return InsightsColors::green();
    case InsightsBand::high:
        return InsightsColors::yellow();
    case InsightsBand::veryHigh:
        return InsightsColors::orange();
    }
    return {};
}

InsightsReportView::BandRow InsightsReportView::bandRow(const InsightsBandSummary &band, GlucoseUnits unit)
{
    BandRow b;
    b.band = band.band;
    b.row = new QWidget(ranges_);
    b.row->setObjectName(QStringLiteral("insightsBand_") + QString::fromStdString(rawValue(band.band)));
    auto *column = new QVBoxLayout(b.row);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto *top = new QHBoxLayout();
    top->setSpacing(12);
    auto *names = new QVBoxLayout();
    names->setSpacing(1);
    auto *name = plainLabel(bandName(band.band), b.row);
    scaleFont(name, 1.0, QFont::Medium);
    names->addWidget(name);
    b.range = plainLabel(QString(), b.row);
    useSecondaryText(b.range);
    scaleFont(b.range, 0.85);
    names->addWidget(b.range);
    top->addLayout(names);
    top->addStretch(1);
    b.percent = new InsightsNumberLabel(b.row);
    b.percent->setObjectName(QStringLiteral("percent"));
    scaleFont(b.percent, 1.0, QFont::Medium);
    top->addWidget(b.percent, 0, Qt::AlignTop);
    column->addLayout(top);
    b.track = new InsightsRangeTrack(band.fraction, bandColor(band.band, InsightsColors::palette()), b.row);
    column->addWidget(b.track);
    InsightsRangeTrack *track = b.track;
    b.trackFraction = new InsightsAnimatedValue(band.fraction, [track](double f) { track->setFraction(f); }, b.row);
    showBand(b, band, unit, std::nullopt);
    return b;
}

void InsightsReportView::showBand(BandRow &b, const InsightsBandSummary &band, GlucoseUnits unit,
                                  const std::optional<InsightsCurve> &curve)
{
    const QString range = bandRangeText(band.band, unit) + QLatin1Char(' ') + InsightsFormat::unitText(unit);
    b.range->setText(range);
    const QString percent = InsightsFormat::percent(band.fraction, 1);
    const double fraction = std::isfinite(band.fraction) ? band.fraction : 0.0;
    b.percent->setNumber(fraction, percent, percentSteps(percent), curve);
    b.trackFraction->moveTo(fraction, curve);
    const QString name = bandName(band.band) + QLatin1Char(' ') + range + QStringLiteral(", ") + percent;
    if (b.row->accessibleName() != name) {
        b.row->setAccessibleName(name);
    }
}

void InsightsReportView::showProfile(const InsightsAGP &profile, GlucoseUnits unit)
{
    if (profile_ && shownProfile_ == profile && shownUnit_ == unit) {
        return;
    }
    shownProfile_ = profile;
    shownUnit_ = unit;
    auto *next = new InsightsAGPView(profile, unit, this);
    next->setMinimumWidth(500);
    if (profile_) {
        secondRow_->replaceWidget(profile_, next);
        delete profile_;
    } else {
        secondRow_->insertWidget(0, next, 1, Qt::AlignTop);
    }
    profile_ = next;
}

InsightsReportView::InsightsReportView(const InsightsSummary &summary, GlucoseUnits unit, QWidget *parent)
    : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(48);

    auto *headline = new QWidget(this);
    headline->setObjectName(QStringLiteral("insightsHighlights"));
    auto *headlineRow = new QHBoxLayout(headline);
    headlineRow->setContentsMargins(0, 0, 0, 0);
    headlineRow->setSpacing(28);
    for (const auto &highlight : highlights(summary, unit)) {
        cards_.push_back(highlightCard(highlight, headline));
        headlineRow->addWidget(cards_.back().card, 1, Qt::AlignTop);
        if (highlight.id != QStringLiteral("gmi")) {
            headlineRow->addWidget(verticalDivider(headline), 0, Qt::AlignTop);
        }
    }
    column->addWidget(headline);

    secondRow_ = new QHBoxLayout();
    secondRow_->setSpacing(56);
    ranges_ = new QWidget(this);
    ranges_->setObjectName(QStringLiteral("insightsTimeInRanges"));
    ranges_->setFixedWidth(280);
    ranges_->setToolTip(QStringLiteral("Share of observed time. Ranges are fixed and separate from your alert thresholds."));
    rangesColumn_ = new QVBoxLayout(ranges_);
    rangesColumn_->setContentsMargins(0, 0, 0, 0);
    rangesColumn_->setSpacing(22);
    auto *heading = plainLabel(QStringLiteral("Glucose ranges"), ranges_);
    scaleFont(heading, 1.25, QFont::DemiBold);
    heading->setAccessibleName(QStringLiteral("Glucose ranges"));
    rangesColumn_->addWidget(heading);
    rangesColumn_->addStretch(1);
    secondRow_->addWidget(ranges_, 0, Qt::AlignTop);
    column->addLayout(secondRow_);
    setSummary(summary, unit, std::nullopt);
}

void InsightsReportView::setSummary(const InsightsSummary &summary, GlucoseUnits unit,
                                    const std::optional<InsightsCurve> &curve)
{
    const auto shown = highlights(summary, unit);
    for (std::size_t i = 0; i < shown.size() && i < cards_.size(); ++i) {
        showHighlight(cards_[i], shown[i], unit, curve);
    }
    // The same ranges in the same order move; another set of ranges is laid out afresh.
    bool sameBands = bands_.size() == summary.bands.size();
    for (std::size_t i = 0; sameBands && i < bands_.size(); ++i) {
        sameBands = bands_[i].band == summary.bands[i].band;
    }
    if (sameBands) {
        for (std::size_t i = 0; i < bands_.size(); ++i) {
            showBand(bands_[i], summary.bands[i], unit, curve);
        }
    } else {
        for (auto &row : bands_) {
            delete row.row;
        }
        bands_.clear();
        for (const auto &band : summary.bands) {
            bands_.push_back(bandRow(band, unit));
            rangesColumn_->insertWidget(rangesColumn_->count() - 1, bands_.back().row);
        }
    }
    showProfile(summary.agp, unit);
}

bool InsightsReportView::isAnimating() const
{
    for (const auto &card : cards_) {
        if (card.value->isAnimating()) {
            return true;
        }
    }
    for (const auto &band : bands_) {
        if (band.percent->isAnimating() || band.trackFraction->isAnimating()) {
            return true;
        }
    }
    return false;
}

void InsightsReportView::finishAnimations()
{
    for (auto &card : cards_) {
        card.value->finishAnimation();
    }
    for (auto &band : bands_) {
        band.percent->finishAnimation();
        band.trackFraction->finish();
    }
}

} // namespace quillby
