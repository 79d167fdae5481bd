#pragma once

#include "core/GlucoseReading.h"
#include "widgets/SettingsForm.h"

#include <optional>
#include <utility>
#include <vector>

class QComboBox;
class QLabel;

namespace quillby {

class SettingsViewModel;

// The Glucose tab: the measurement unit, the low and high thresholds on the unit's grid, the
// graph window, and the provider description's note on how much graph history the provider delivers. A choice that
// differs from the stored value is written, counted as an edit and saved; a unit change moves
// both thresholds onto the new unit's grid (the model's work).
class GlucoseSettingsPane : public SettingsForm {
    Q_OBJECT
public:
    explicit GlucoseSettingsPane(SettingsViewModel &model, QWidget *parent = nullptr);

    // (shown text, hours) of the graph-window picker: one row per window GraphTimeWindowSetting allows.
    static std::vector<std::pair<QString, int>> graphWindowRows();

private:
    void refresh();
    void refreshThresholds();

    SettingsViewModel &model_;
    QComboBox *unitPicker_;
    QComboBox *lowPicker_;
    QComboBox *highPicker_;
    QComboBox *graphPicker_;
    QWidget *providerNote_;
    QLabel *providerNoteText_;
    std::optional<GlucoseUnits> thresholdUnit_;
};

} // namespace quillby
