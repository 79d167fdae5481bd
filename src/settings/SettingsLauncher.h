#pragma once

#include "settings/SettingsTab.h"
#include "settings/SettingsViewModel.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace quillby {

class SettingsViewModel;

// Owner of the "Settings" window that the tray menu and the Insights window open. A visible
// window comes to the front (switching to the given tab); otherwise a new window is built with
// a new settings model, so every newly opened window starts from the stored configuration.
// The window owns its model; a closed window is kept until the next one replaces it.
// Main thread only.
class SettingsLauncher : public QObject {
    Q_OBJECT
public:
    // A fresh settings model for a new window.
    using ModelFactory = std::function<std::unique_ptr<SettingsViewModel>()>;
    // The Settings view over the model and the navigation (both outlive the view), with the
    // action that opens the feedback window.
    using ViewFactory = std::function<QWidget *(SettingsViewModel &model, SettingsNavigation &navigation,
                                               std::function<void()> submitFeedbackAction)>;

    static constexpr int kContentWidth = 600;
    static constexpr int kContentHeight = 420;

    // Without a view factory the window shows a sidebar of the six tabs over empty panes.
    explicit SettingsLauncher(ModelFactory makeModel, ViewFactory makeView = {}, QObject *parent = nullptr);
    ~SettingsLauncher() override;

    std::function<void()> submitFeedbackAction;

    // Brings the visible window to the front (selecting `tab` when given); otherwise builds a
    // new window opening on `tab`, or on the Account tab when none is given.
    void show(std::optional<SettingsTab> tab = std::nullopt);

    QWidget *settingsWindow() const { return window_; }
    SettingsNavigation *navigation() const { return navigation_.get(); }
    // The model of the current window; none before the first window.
    SettingsViewModel *settingsViewModel() const { return model_; }

    // The stand-in view used without a view factory.
    static QWidget *makePlaceholderView(SettingsViewModel &model, SettingsNavigation &navigation,
                                        std::function<void()> submitFeedbackAction);

private:
    void bringForward();

    ModelFactory makeModel_;
    ViewFactory makeView_;
    QPointer<QWidget> window_;
    QPointer<SettingsViewModel> model_;
    std::unique_ptr<SettingsNavigation> navigation_;
};

} // namespace quillby
