#pragma once

#include "core/GlucoseReading.h"

#include <QDialog>
#include <QString>
#include <QStringList>

namespace quillby {

// The address of the product's privacy page.
QString insightsPrivacyPolicyURL();

// The sheet behind "About Insights": how every number of the report is computed, what the
// notices mean, how collection works and what Insights are not. Fixed texts; only the unit
// changes them. Window-modal on the Insights window, opened with open().
class InsightsExplanationView : public QDialog {
    Q_OBJECT
public:
    explicit InsightsExplanationView(GlucoseUnits unit, QWidget *parent = nullptr);

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
