#pragma once

#include "core/GlucoseReading.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace quillby {

// The sheet behind "About Insights": how every number of the report is computed, what the
// notices mean, how collection works and what Insights are not. Fixed texts; only the unit
// changes them, and its last links lead to `privacyPolicyURL`. Window-modal on the Insights
// window, opened with open().
class InsightsExplanationView : public QDialog {
    Q_OBJECT
public:
    InsightsExplanationView(GlucoseUnits unit, const QUrl &privacyPolicyURL, QWidget *parent = nullptr);

    static QString targetRangeText(GlucoseUnits unit);
    static QString rangeDefinitionsText(GlucoseUnits unit);
    static QString gmiCoefficientText(GlucoseUnits unit);
    // The section titles and their paragraphs in order, as plain text (bold marks removed).
    struct Section {
        QString title;
        QStringList paragraphs;
    };
    static QList<Section> sections(GlucoseUnits unit);
};

} // namespace quillby
