#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "core/UserDefaults.h"
#include "onboarding/TermsAgreementCoordinator.h"
#include "onboarding/TermsAgreementView.h"
#include "platform/ApplicationActivationPolicy.h"

#include "FakeKeychainItemStore.h"
#include "WaitUntil.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace quillby::test {
namespace {

// A terms coordinator over a configuration manager with its own settings file.
struct TermsFixture {
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults;
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> manager;
    ApplicationActivationPolicy policy;
    int accepted = 0;
    int quitRequests = 0;
    bool inClick = false;
    bool acceptedInsideClick = false;
    std::unique_ptr<TermsAgreementCoordinator> coordinator;

    explicit TermsFixture(std::optional<QString> storedVersion = std::nullopt)
    {
        defaults = std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
        if (storedVersion) {
            defaults->setValue(ConfigurationManager::kAcceptedTermsVersionKey, *storedVersion);
        }
        manager = std::make_unique<ConfigurationManager>(std::make_shared<FakeKeychainItemStore>(), defaults,
                                                         QLocale(QStringLiteral("en_US")), std::make_shared<SystemClock>(),
                                                         std::make_shared<EventLoopSleeper>(), notifications);
        WindowEnvironment environment;
        environment.activationPolicy = &policy;
        coordinator = std::make_unique<TermsAgreementCoordinator>(
            *manager,
            [this] {
                ++accepted;
                acceptedInsideClick = acceptedInsideClick || inClick;
            },
            [this] { ++quitRequests; }, environment);
    }

    QPushButton *button(const char *name) const
    {
        return coordinator->window()->findChild<QPushButton *>(QString::fromLatin1(name));
    }
};

TEST(TermsAgreementCoordinator, ShowsNothingWhenTheCurrentTermsAreAccepted)
{
    TermsFixture terms(QStringLiteral("2026-10-07"));
    terms.coordinator->show();
    EXPECT_EQ(terms.coordinator->window(), nullptr);
    EXPECT_EQ(terms.policy.changes(), 0) << "the activation policy was touched";
}

// One fixed-size window without a close button, centred on the screen, while the program is an
// ordinary windowed application; a second show() brings the same window back.
TEST(TermsAgreementCoordinator, BuildsOneCentredWindowAndReusesIt)
{
    TermsFixture terms;
    terms.coordinator->show();
    QWidget *window = terms.coordinator->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Terms of use"));
    EXPECT_EQ(window->size(), QSize(800, 600));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(terms.policy.policy(), ActivationPolicy::regular);
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // Within the window frame, which is known only once the window is shown.
    EXPECT_LE((window->frameGeometry().center() - screenCentre).manhattanLength(), 8);

    window->hide();
    const int changes = terms.policy.changes();
    terms.coordinator->show();
    EXPECT_EQ(terms.coordinator->window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(terms.policy.changes(), changes);
}

struct TitleCase {
    const char *name;
    std::optional<QString> stored;
    const char *title;
    bool changed;
};

class TermsWindowTitle : public ::testing::TestWithParam<TitleCase> {};

// Any stored version but the current one is "changed terms"; none stored is a first agreement.
TEST_P(TermsWindowTitle, FollowsTheStoredVersion)
{
    const TitleCase &c = GetParam();
    TermsFixture terms(c.stored);
    terms.coordinator->show();
    ASSERT_NE(terms.coordinator->window(), nullptr);
    EXPECT_EQ(terms.coordinator->window()->windowTitle(), QString::fromLatin1(c.title));
    auto *view = terms.coordinator->window()->findChild<TermsAgreementWindowView *>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->termsHaveChanged(), c.changed);
}

INSTANTIATE_TEST_SUITE_P(TermsAgreementCoordinator, TermsWindowTitle,
                         ::testing::Values(TitleCase{"none", std::nullopt, "Terms of use", false},
                                           TitleCase{"older", QStringLiteral("2025-01-01"), "Updated terms of use", true},
                                           TitleCase{"empty", QStringLiteral(""), "Updated terms of use", true},
                                           TitleCase{"newer", QStringLiteral("2027-01-01"), "Updated terms of use", true}),
                         [](const auto &info) { return std::string(info.param.name); });

struct AcceptanceCase {
    const char *name;
    bool windowOpen;
    int publications;   // how many times the current version is published
    int expectedOnAccept;
};

class TermsAcceptance : public ::testing::TestWithParam<AcceptanceCase> {};

// Acceptance published from anywhere (the window's Agree, or the terms sheet elsewhere) closes
// an open window and runs onAccept exactly once; with no window open nothing runs.
TEST_P(TermsAcceptance, ClosesTheWindowAndRunsOnAcceptOnce)
{
    const AcceptanceCase &c = GetParam();
    TermsFixture terms(QStringLiteral("2025-01-01"));
    if (c.windowOpen) {
        terms.coordinator->show();
        ASSERT_NE(terms.coordinator->window(), nullptr);
    }
    terms.manager->acceptCurrentTerms();
    for (int i = 1; i < c.publications; ++i) {
        emit terms.manager->acceptedTermsVersionChanged(ConfigurationManager::kCurrentTermsVersion);
    }
    EXPECT_EQ(terms.coordinator->window(), nullptr);
    processQueuedEvents();
    EXPECT_EQ(terms.accepted, c.expectedOnAccept);
    EXPECT_EQ(terms.policy.policy(), ActivationPolicy::accessory);
}

INSTANTIATE_TEST_SUITE_P(TermsAgreementCoordinator, TermsAcceptance,
                         ::testing::Values(AcceptanceCase{"windowOpen", true, 1, 1},
                                           AcceptanceCase{"windowOpenPublishedTwice", true, 2, 1},
                                           AcceptanceCase{"noWindow", false, 1, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

// Agree records the version and its date. The window is hidden at once but deleted only once
// the click is over, and onAccept runs after the click, never inside it.
TEST(TermsAgreementCoordinator, AgreeRecordsTheAcceptanceAndMovesOnAfterTheClick)
{
    TermsFixture terms;
    terms.coordinator->show();
    QPointer<QWidget> window(terms.coordinator->window());
    ASSERT_FALSE(window.isNull());
    terms.inClick = true;
    terms.button("termsAgreeButton")->click();
    terms.inClick = false;
    EXPECT_TRUE(terms.manager->hasAcceptedCurrentTerms());
    EXPECT_EQ(terms.defaults->value(ConfigurationManager::kAcceptedTermsVersionKey).toString(),
              QStringLiteral("2026-10-07"));
    EXPECT_TRUE(defaults::readDate(*terms.defaults, ConfigurationManager::kTermsAcceptedAtKey).has_value());
    EXPECT_FALSE(window.isNull()) << "deleted inside its own button's click";
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(waitUntil([&] { return terms.accepted == 1 && window.isNull(); }));
    EXPECT_FALSE(terms.acceptedInsideClick);

    // Agreeing again when the version is current writes and publishes nothing.
    terms.defaults->setValue(ConfigurationManager::kTermsAcceptedAtKey, QStringLiteral("2026-10-08T00:00:00Z"));
    terms.coordinator->accept();
    processQueuedEvents();
    EXPECT_EQ(terms.defaults->value(ConfigurationManager::kTermsAcceptedAtKey).toString(),
              QStringLiteral("2026-10-08T00:00:00Z"));
    EXPECT_EQ(terms.accepted, 1);
}

// Quit, Escape and closing the window by the window manager each ask the program to end and
// record nothing; Return agrees.
TEST(TermsAgreementCoordinator, QuitEscapeAndCloseEndTheProgramReturnAgrees)
{
    TermsFixture terms;
    terms.coordinator->show();
    QWidget *window = terms.coordinator->window();
    terms.button("termsQuitButton")->click();
    EXPECT_EQ(terms.quitRequests, 1);
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(terms.quitRequests, 2);
    window->close();
    EXPECT_EQ(terms.quitRequests, 3);
    EXPECT_FALSE(terms.manager->hasAcceptedCurrentTerms());

    QTest::keyClick(window, Qt::Key_Return);
    EXPECT_TRUE(terms.manager->hasAcceptedCurrentTerms());
    ASSERT_TRUE(waitUntil([&] { return terms.accepted == 1; }));
}

} // namespace
} // namespace quillby::test
