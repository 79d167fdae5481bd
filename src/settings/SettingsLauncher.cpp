#include "settings/SettingsLauncher.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QStackedWidget>

namespace quillby {

namespace {
const char *tabTitle(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general: return "General";
    case SettingsTab::glucose: return "Glucose";
    case SettingsTab::insights: return "Insights";
    case SettingsTab::alerts: return "Alerts";
    case SettingsTab::account: return "Account";
    case SettingsTab::about: return "About & support";
    }
    return "";
}
} // namespace

SettingsLauncher::SettingsLauncher(QObject *parent)
    : QObject(parent)
{
}

SettingsLauncher::~SettingsLauncher()
{
    delete window_.data();
}

void SettingsLauncher::show(std::optional<SettingsTab> tab)
{
    if (window_ && window_->isVisible()) {
        if (tab) {
            navigation_->selection = tab;
            applySelection();
        }
        window_->raise();
        window_->activateWindow();
        return;
    }
    delete window_.data();
    navigation_ = SettingsNavigation{tab.value_or(SettingsTab::account)};
    buildWindow();
    applySelection();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SettingsLauncher::buildWindow()
{
    auto *window = new QWidget();
    window->setObjectName(QStringLiteral("settingsWindow"));
    window->setWindowTitle(QStringLiteral("Settings"));
    window->resize(600, 420);
    auto *layout = new QHBoxLayout(window);
    auto *sidebar = new QListWidget(window);
    sidebar->setObjectName(QStringLiteral("settingsSidebarPicker"));
    sidebar->setFixedWidth(170);
    auto *pages = new QStackedWidget(window);
    for (SettingsTab tab : kAllSettingsTabs) {
        sidebar->addItem(QString::fromUtf8(tabTitle(tab)));
        auto *page = new QLabel(QStringLiteral("This section is not available in this version of Quillby yet."), pages);
        page->setWordWrap(true);
        page->setAlignment(Qt::AlignCenter);
        pages->addWidget(page);
    }
    connect(sidebar, &QListWidget::currentRowChanged, pages, &QStackedWidget::setCurrentIndex);
    connect(sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (navigation_ && row >= 0 && row < static_cast<int>(kAllSettingsTabs.size())) {
            navigation_->selection = kAllSettingsTabs[static_cast<std::size_t>(row)];
        }
    });
    layout->addWidget(sidebar);
    layout->addWidget(pages, 1);
    window_ = window;
}

void SettingsLauncher::applySelection()
{
    if (!window_ || !navigation_ || !navigation_->selection) {
        return;
    }
    auto *sidebar = window_->findChild<QListWidget *>(QStringLiteral("settingsSidebarPicker"));
    for (std::size_t i = 0; i < kAllSettingsTabs.size(); ++i) {
        if (kAllSettingsTabs[i] == *navigation_->selection && sidebar) {
            sidebar->setCurrentRow(static_cast<int>(i));
        }
    }
}

} // namespace quillby
