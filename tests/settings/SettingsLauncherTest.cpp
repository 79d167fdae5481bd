#include "settings/SettingsLauncher.h"

#include "SettingsTestSupport.h"

#include <QListWidget>

#include <gtest/gtest.h>

namespace quillby {
namespace {

using test::SettingsFixture;

TEST(SettingsLauncher, OneWindowWhileOpenANewOneWithANewModelAfterClosing)
{
    SettingsFixture f;
    int modelsMade = 0;
    int feedbackOpened = 0;
    std::function<void()> viewFeedbackAction;
    SettingsLauncher launcher(
        [&] {
            ++modelsMade;
            return f.makeModel();
        },
        [&](SettingsViewModel &model, SettingsNavigation &navigation, std::function<void()> submitFeedback) {
            viewFeedbackAction = submitFeedback;
            return SettingsLauncher::makePlaceholderView(model, navigation, submitFeedback);
        });
    launcher.submitFeedbackAction = [&] { ++feedbackOpened; };

    launcher.show();
    QWidget *window = launcher.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Settings"));
    EXPECT_EQ(window->size(), QSize(600, 420));
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(launcher.navigation()->selection(), SettingsTab::account);
    SettingsViewModel *model = launcher.settingsViewModel();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->parent(), window);   // released with its window
    viewFeedbackAction();
    EXPECT_EQ(feedbackOpened, 1);

    // Open again: same window and model, tab kept; a given tab is selected.
    launcher.navigation()->setSelection(SettingsTab::alerts);
    launcher.show();
    EXPECT_EQ(launcher.settingsWindow(), window);
    EXPECT_EQ(launcher.settingsViewModel(), model);
    EXPECT_EQ(launcher.navigation()->selection(), SettingsTab::alerts);
    launcher.show(SettingsTab::insights);
    EXPECT_EQ(launcher.navigation()->selection(), SettingsTab::insights);
    EXPECT_EQ(window->findChild<QListWidget *>(QStringLiteral("settingsSidebarPicker"))->currentRow(), 2);
    EXPECT_EQ(modelsMade, 1);

    // A minimised window comes back restored (Qt counts it as visible), maximised if it was.
    for (const Qt::WindowStates before : {Qt::WindowStates(Qt::WindowMinimized), Qt::WindowMinimized | Qt::WindowMaximized}) {
        window->setWindowState(before);
        ASSERT_TRUE(window->isMinimized());
        launcher.show(SettingsTab::alerts);
        EXPECT_EQ(launcher.settingsWindow(), window);
        EXPECT_FALSE(window->isMinimized());
        EXPECT_EQ(window->isMaximized(), bool(before & Qt::WindowMaximized));
        EXPECT_EQ(launcher.navigation()->selection(), SettingsTab::alerts);
        window->setWindowState(Qt::WindowNoState);
    }
    EXPECT_EQ(modelsMade, 1);

    // Closed, it stays referenced; the next show builds a new window and model on Account.
    window->close();
    EXPECT_EQ(launcher.settingsWindow(), window);
    QPointer<SettingsViewModel> oldModel(model);
    launcher.show();
    EXPECT_EQ(modelsMade, 2);
    EXPECT_TRUE(oldModel.isNull());
    EXPECT_NE(launcher.settingsViewModel(), nullptr);
    EXPECT_EQ(launcher.navigation()->selection(), SettingsTab::account);
}

} // namespace
} // namespace quillby
