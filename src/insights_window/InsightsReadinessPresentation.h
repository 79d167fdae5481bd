#pragma once

#include "insights/InsightsCollectionProgress.h"

#include <QString>

#include <optional>

namespace quillby {

// Everything the readiness card shows, from the published collection progress, whether saving
// is on and whether any reading is saved.
struct InsightsReadinessPresentation {
    enum class HistoryAction { enable, settings };

    std::optional<InsightsCollectionProgress> progress;
    bool isSaving = false;
    bool hasSavedReadings = false;

    // Progress present, readings in the latest 3 days, 3 days collected and 70 % covered.
    bool isReady() const;
    QString title() const;
    QString message() const;
    std::optional<QString> remainingText() const;
    std::optional<HistoryAction> historyAction() const;
    std::optional<double> progressFraction() const;
    QString progressAccessibilityValue() const;

    bool operator==(const InsightsReadinessPresentation &) const = default;
};

} // namespace quillby
