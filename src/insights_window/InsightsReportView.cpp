#include "insights_window/InsightsReportView.h"

#include "insights_window/InsightsAGPView.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsSurfaces.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillby {

namespace {

const QString kDash = QStringLiteral("—");

QWidget *highlightCard(const InsightsReportView::Highlight &highlight, QWidget *parent)
{
    auto *card = new QWidget(parent);
    card->setObjectName(QStringLiteral("insightsHighlight_") + highlight.id);
    auto *column = new QVBoxLayout(card);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto *title = plainLabel(highlight.title, card);
    useSecondaryText(title);
    column->addWidget(title);

    auto *valueRow = new QHBoxLayout();
    valueRow->setSpacing(highlight.unit == QStringLiteral("%") ? 1 : 5);
    auto *value = plainLabel(highlight.value, card);
    value->setObjectName(QStringLiteral("value"));
    QFont valueFont = value->font();
    valueFont.setPixelSize(36);
    valueFont.setWeight(QFont::DemiBold);
    valueFont.setStyleHint(QFont::SansSerif);
    value->setFont(valueFont);
    valueRow->addWidget(value, 0, Qt::AlignBaseline);
    if (highlight.unit) {
        auto *unit = plainLabel(*highlight.unit, card);
        unit->setObjectName(QStringLiteral("unit"));
        if (*highlight.unit == QStringLiteral("%")) {
            unit->setFont(valueFont);
        } else {
            useSecondaryText(unit);
        }
        valueRow->addWidget(unit, 0, Qt::AlignBaseline);
    }
    valueRow->addStretch(1);
    column->addLayout(valueRow);
    if (highlight.caption) {
        auto *caption = plainLabel(*highlight.caption, card);
        caption->setObjectName(QStringLiteral("caption"));
        useSecondaryText(caption);
        scaleFont(caption, 0.85);
        column->addWidget(caption);
    }
    column->addStretch(1);
    card->setToolTip(highlight.help);
    QStringList spoken{highlight.title, highlight.value};
    if (highlight.unit) {
        spoken << *highlight.unit;
    }
    if (highlight.caption) {
        spoken << *highlight.caption;
    }
    card->setAccessibleName(spoken.join(QLatin1Char(' ')));
    card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return card;
}

QFrame *verticalDivider(QWidget *parent)
{
    QFrame *line = makeSeparator(Qt::Vertical, parent);
    line->setFixedHeight(78);
    return line;
}

} // namespace

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
    result.push_back({QStringLiteral("mean"), QStringLiteral("Average"), glucose(summary.meanMgdl), unitText,
                      std::nullopt, QStringLiteral("Mean glucose weighted by observed time over the selected period.")});
    result.push_back({QStringLiteral("standardDeviation"), QStringLiteral("Standard deviation"),
                      glucose(summary.standardDeviationMgdl), unitText, std::nullopt,
                      QStringLiteral("Spread of glucose readings around the average, weighted by observed time.")});
    Highlight gmi{QStringLiteral("gmi"), QStringLiteral("Estimated GMI"), kDash, std::nullopt, std::nullopt, QString()};
    if (const auto percent = summary.gmi.percent(); percent && std::isfinite(*percent)) {
        gmi.value = InsightsFormat::decimal(*percent, 1);
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

QWidget *InsightsReportView::bandRow(const InsightsBandSummary &band, GlucoseUnits unit)
{
    auto *row = new QWidget(this);
    row->setObjectName(QStringLiteral("insightsBand_") + QString::fromStdString(rawValue(band.band)));
    auto *column = new QVBoxLayout(row);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto *top = new QHBoxLayout();
    top->setSpacing(12);
    auto *names = new QVBoxLayout();
    names->setSpacing(1);
    auto *name = plainLabel(bandName(band.band), row);
    scaleFont(name, 1.0, QFont::Medium);
    names->addWidget(name);
    const QString range = bandRangeText(band.band, unit) + QLatin1Char(' ') + InsightsFormat::unitText(unit);
    auto *caption = plainLabel(range, row);
    useSecondaryText(caption);
    scaleFont(caption, 0.85);
    names->addWidget(caption);
    top->addLayout(names);
    top->addStretch(1);
    const QString percent = InsightsFormat::percent(band.fraction, 1);
    auto *value = plainLabel(percent, row);
    value->setObjectName(QStringLiteral("percent"));
    scaleFont(value, 1.0, QFont::Medium);
    top->addWidget(value, 0, Qt::AlignTop);
    column->addLayout(top);
    column->addWidget(new InsightsRangeTrack(band.fraction, bandColor(band.band, InsightsColors::palette()), row));
    row->setAccessibleName(bandName(band.band) + QLatin1Char(' ') + range + QStringLiteral(", ") + percent);
    return row;
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
        headlineRow->addWidget(highlightCard(highlight, headline), 1, Qt::AlignTop);
        if (highlight.id != QStringLiteral("gmi")) {
            headlineRow->addWidget(verticalDivider(headline), 0, Qt::AlignTop);
        }
    }
    column->addWidget(headline);

    auto *second = new QHBoxLayout();
    second->setSpacing(56);
    profile_ = new InsightsAGPView(summary.agp, unit, this);
    profile_->setMinimumWidth(500);
    second->addWidget(profile_, 1, Qt::AlignTop);

    auto *ranges = new QWidget(this);
    ranges->setObjectName(QStringLiteral("insightsTimeInRanges"));
    ranges->setFixedWidth(280);
    ranges->setToolTip(QStringLiteral("Share of observed time. Ranges are fixed and separate from your alert thresholds."));
    auto *rangesColumn = new QVBoxLayout(ranges);
    rangesColumn->setContentsMargins(0, 0, 0, 0);
    rangesColumn->setSpacing(22);
    auto *heading = plainLabel(QStringLiteral("Glucose ranges"), ranges);
    scaleFont(heading, 1.25, QFont::DemiBold);
    heading->setAccessibleName(QStringLiteral("Glucose ranges"));
    rangesColumn->addWidget(heading);
    for (const auto &band : summary.bands) {
        rangesColumn->addWidget(bandRow(band, unit));
    }
    rangesColumn->addStretch(1);
    second->addWidget(ranges, 0, Qt::AlignTop);
    column->addLayout(second);
}

} // namespace quillby
