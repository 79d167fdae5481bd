#pragma once

#include "core/GlucoseReading.h"
#include "insights/InsightsSummary.h"
#include "insights_window/InsightsMotion.h"

#include <QPalette>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

namespace quillby {

class InsightsAGPView;
class InsightsAnimatedValue;
class InsightsNumberLabel;
class InsightsRangeTrack;

// The body of a finished report: three headline cards, the profile chart and the time in ranges.
class InsightsReportView : public QWidget {
    Q_OBJECT
public:
    // One headline card.
    struct Highlight {
        QString id;                       // "mean", "standardDeviation", "gmi"
        QString title;
        QString value;                    // "—" when there is none
        std::optional<QString> unit;
        std::optional<QString> caption;
        QString help;                     // empty: no tooltip
        // The value as a number (mg/dL for glucose, percent for GMI); none with the dash.
        std::optional<double> number;
        bool operator==(const Highlight &) const = default;
    };

    InsightsReportView(const InsightsSummary &summary, GlucoseUnits unit, QWidget *parent = nullptr);

    // Shows another summary in place: the numbers and the range bars move from what they show
    // to the new values along `curve` (none: at once); texts, captions and the profile change
    // at once.
    void setSummary(const InsightsSummary &summary, GlucoseUnits unit, const std::optional<InsightsCurve> &curve);
    bool isAnimating() const;
    // Every number and bar at its final value now.
    void finishAnimations();

    static std::vector<Highlight> highlights(const InsightsSummary &summary, GlucoseUnits unit);
    static QString formatGlucose(double mgdl, GlucoseUnits unit);
    static QString bandName(InsightsBand band);
    // "70–180" and the like.
    static QString bandRangeText(InsightsBand band, GlucoseUnits unit);
    static QColor bandColor(InsightsBand band, const QPalette &palette);

    InsightsAGPView *profileView() const { return profile_; }

private:
    struct Card {
        QWidget *card = nullptr;
        QLabel *title = nullptr;
        InsightsNumberLabel *value = nullptr;
        QLabel *unit = nullptr;
        QLabel *caption = nullptr;
        QHBoxLayout *valueRow = nullptr;
    };
    struct BandRow {
        InsightsBand band = InsightsBand::inRange;
        QWidget *row = nullptr;
        QLabel *range = nullptr;
        InsightsNumberLabel *percent = nullptr;
        InsightsRangeTrack *track = nullptr;
        InsightsAnimatedValue *trackFraction = nullptr;
    };

    Card highlightCard(const Highlight &highlight, QWidget *parent);
    void showHighlight(Card &card, const Highlight &highlight, GlucoseUnits unit, const std::optional<InsightsCurve> &curve);
    BandRow bandRow(const InsightsBandSummary &band, GlucoseUnits unit);
    void showBand(BandRow &row, const InsightsBandSummary &band, GlucoseUnits unit,
                  const std::optional<InsightsCurve> &curve);
    void showProfile(const InsightsAGP &profile, GlucoseUnits unit);

    std::vector<Card> cards_;
    std::vector<BandRow> bands_;
    QVBoxLayout *rangesColumn_ = nullptr;
    QHBoxLayout *secondRow_ = nullptr;
    QWidget *ranges_ = nullptr;
    InsightsAGPView *profile_ = nullptr;
    std::optional<InsightsAGP> shownProfile_;
    std::optional<GlucoseUnits> shownUnit_;
};

} // namespace quillby
