#pragma once

#include "core/GlucoseReading.h"
#include "insights/InsightsSummary.h"

#include <QPalette>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace quillby {

class InsightsAGPView;

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
        bool operator==(const Highlight &) const = default;
    };

    InsightsReportView(const InsightsSummary &summary, GlucoseUnits unit, QWidget *parent = nullptr);

    static std::vector<Highlight> highlights(const InsightsSummary &summary, GlucoseUnits unit);
    static QString formatGlucose(double mgdl, GlucoseUnits unit);
    static QString bandName(InsightsBand band);
    // "70–180" and the like.
    static QString bandRangeText(InsightsBand band, GlucoseUnits unit);
    static QColor bandColor(InsightsBand band, const QPalette &palette);

    InsightsAGPView *profileView() const { return profile_; }

private:
    QWidget *bandRow(const InsightsBandSummary &band, GlucoseUnits unit);

    InsightsAGPView *profile_ = nullptr;
};

} // namespace quillby
