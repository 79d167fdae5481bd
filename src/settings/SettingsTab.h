#pragma once

#include <QObject>

#include <array>
#include <optional>

namespace quillby {

enum class SettingsTab { general, glucose, insights, alerts, account, about };

inline constexpr std::array<SettingsTab, 6> kAllSettingsTabs = {
    SettingsTab::general, SettingsTab::glucose, SettingsTab::insights,
    SettingsTab::alerts,  SettingsTab::account, SettingsTab::about};

// The tab shown in the Settings window's sidebar. Assigning a different selection emits
// selectionChanged; the window shows that tab's pane.
class SettingsNavigation : public QObject {
    Q_OBJECT
public:
    explicit SettingsNavigation(std::optional<SettingsTab> selection = std::nullopt, QObject *parent = nullptr)
        : QObject(parent), selection_(selection)
    {
    }

    std::optional<SettingsTab> selection() const { return selection_; }
    void setSelection(std::optional<SettingsTab> selection)
    {
        if (selection_ != selection) {
            selection_ = selection;
            emit selectionChanged();
        }
    }

signals:
    void selectionChanged();

private:
    std::optional<SettingsTab> selection_;
};

} // namespace quillby
