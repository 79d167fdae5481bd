#include "settings/SettingsLauncher.h"

#include "settings/SettingsViewModel.h"
#include "platform/WindowPlacement.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
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

int rowOf(std::optional<SettingsTab> tab)
{
    for (std::size_t i = 0; i < kAllSettingsTabs.size(); ++i) {
        if (tab && kAllSettingsTabs[i] == *tab) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
} // namespace

SettingsLauncher::SettingsLauncher(ModelFactory makeModel, ViewFactory makeView, QObject *parent)
    : QObject(parent)
    , makeModel_(std::move(makeModel))
    , makeView_(makeView ? std::move(makeView) : ViewFactory(&SettingsLauncher::makePlaceholderView))
{
}

SettingsLauncher::~SettingsLauncher()
{
    // The window owns its model; the model writes edits it has not yet written as it goes.
    delete window_.data();
}

void SettingsLauncher::show(std::optional<SettingsTab> tab)
{
    if (window_ && window_->isVisible()) {
        if (tab && navigation_) {
            navigation_->setSelection(tab);
        }
        bringForward();
        return;
    }

    // The old window (and with it its model) goes before the new one is built.
    delete window_.data();
    auto navigation = std::make_unique<SettingsNavigation>(tab.value_or(SettingsTab::account));
    std::unique_ptr<SettingsViewModel> model = makeModel_ ? makeModel_() : nullptr;
    if (!model) {
        return;
    }
    navigation_ = std::move(navigation);
    QWidget *view = makeView_(*model, *navigation_, submitFeedbackAction);

    auto *window = view;
    window->setParent(nullptr);
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMaximizeButtonHint);
    window->setWindowTitle(QStringLiteral("Settings"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(kContentWidth, kContentHeight);
    if (QScreen *screen = QGuiApplication::primaryScreen(); screen && canPlaceWindows()) {
        QRect frame(QPoint(0, 0), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    model->setParent(window);   // released with its window
    model_ = model.release();
    window_ = window;
    window->show();
    bringForward();
}

void SettingsLauncher::bringForward()
{
    if (!window_) {
        return;
    }
    // No floating window level on the Linux desktop: raising and activating is what the
    // window manager allows an application to ask for. A minimised window counts as visible,
    // and show() alone would leave it minimised: it is restored first, keeping it maximised
    // when it was.
    if (window_->isMinimized()) {
        window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QWidget *SettingsLauncher::makePlaceholderView(SettingsViewModel &model, SettingsNavigation &navigation,
                                               std::function<void()> submitFeedbackAction)
{
    (void)model;
    (void)submitFeedbackAction;
    auto *window = new QWidget();
    window->setObjectName(QStringLiteral("settingsWindow"));
    auto *layout = new QHBoxLayout(window);
    auto *sidebar = new QListWidget(window);
    sidebar->setObjectName(QStringLiteral("settingsSidebarPicker"));
    sidebar->setFixedWidth(170);
    auto *pages = new QStackedWidget(window);
    for (SettingsTab tab : kAllSettingsTabs) {
        sidebar->addItem(QString::fromUtf8(tabTitle(tab)));
        auto *page = new QLabel(QStringLiteral("This section is not available in this version of Quillby yet."), pages);
        page->setTextFormat(Qt::PlainText);
        page->setWordWrap(true);
        page->setAlignment(Qt::AlignCenter);
        pages->addWidget(page);
    }
    QObject::connect(sidebar, &QListWidget::currentRowChanged, pages, &QStackedWidget::setCurrentIndex);
    QObject::connect(sidebar, &QListWidget::currentRowChanged, &navigation, [nav = &navigation](int row) {
        if (row >= 0 && row < static_cast<int>(kAllSettingsTabs.size())) {
            nav->setSelection(kAllSettingsTabs[static_cast<std::size_t>(row)]);
        }
    });
    const auto showSelection = [sidebar, nav = &navigation] {
        const int row = rowOf(nav->selection());
        if (row >= 0) {
            sidebar->setCurrentRow(row);
        }
    };
    QObject::connect(&navigation, &SettingsNavigation::selectionChanged, sidebar, showSelection);
    showSelection();
    layout->addWidget(sidebar);
    layout->addWidget(pages, 1);
    return window;
}

} // namespace quillby
