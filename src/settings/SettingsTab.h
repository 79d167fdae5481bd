#pragma once

#include <array>
#include <optional>

namespace quillby {

enum class SettingsTab { general, glucose, insights, alerts, account, about };

inline constexpr std::array<SettingsTab, 6> kAllSettingsTabs = {
    SettingsTab::general, SettingsTab::glucose, SettingsTab::insights,
    SettingsTab::alerts,  SettingsTab::account, SettingsTab::about};

// The tab shown in the Settings window's sidebar.
struct SettingsNavigation {
    std::optional<SettingsTab> selection;
};

} // namespace quillby
