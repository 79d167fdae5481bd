#pragma once

#include "settings/SettingsTab.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

namespace quillby {

// Owner of the "Settings" window: builds it on demand and reuses it while it is visible.
// Main thread only.
class SettingsLauncher : public QObject {
    Q_OBJECT
public:
    explicit SettingsLauncher(QObject *parent = nullptr);
    ~SettingsLauncher() override;

    std::function<void()> submitFeedbackAction;

    // Brings the visible window to the front (selecting `tab` when given); otherwise builds a
    // new window opening on `tab`, or on the Account tab when none is given.
    void show(std::optional<SettingsTab> tab = std::nullopt);

    QWidget *settingsWindow() const { return window_; }
    const std::optional<SettingsNavigation> &navigation() const { return navigation_; }

private:
    void buildWindow();
    void applySelection();

    QPointer<QWidget> window_;
    std::optional<SettingsNavigation> navigation_;
};

} // namespace quillby
