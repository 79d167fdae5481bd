#include "core/ConfigurationManager.h"
#include "core/UserDefaults.h"
#include "onboarding/TermsAgreementCoordinator.h"

#include "FakeKeychainItemStore.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace quillby::test {
namespace {

// A terms coordinator over a configuration manager with its own settings file.
struct TermsFixture {
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults;
    std::unique_ptr<ConfigurationManager> manager;
    int accepted = 0;
    int quitRequests = 0;
    std::unique_ptr<TermsAgreementCoordinator> coordinator;

    explicit TermsFixture(std::optional<QString> storedVersion = std::nullopt)
    {
        defaults = std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
        if (storedVersion) {
            defaults->setValue(ConfigurationManager::kAcceptedTermsVersionKey, *storedVersion);
        }
        manager = std::make_unique<ConfigurationManager>(std::make_shared<FakeKeychainItemStore>(), defaults,
                                                         QLocale(QStringLiteral("en_US")));
        coordinator = std::make_unique<TermsAgreementCoordinator>(
            *manager, [this] { ++accepted; }, [this] { ++quitRequests; });
    }
};

TEST(TermsAgreementCoordinator, ShowsNothingWhenTheCurrentTermsAreAccepted)
{
    TermsFixture terms(QStringLiteral("2026-10-07"));
    terms.coordinator->show();
    EXPECT_EQ(terms.coordinator->window(), nullptr);
}

// One fixed-size window without a close button, centred on the screen; a second show() brings
// the same window back instead of building another.
TEST(TermsAgreementCoordinator, BuildsOneCentredWindowAndReusesIt)
{
    TermsFixture terms;
    terms.coordinator->show();
    QWidget *window = terms.coordinator->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(800, 600));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // Within the window frame, which is known only once the window is shown.
    EXPECT_LE((window->frameGeometry().center() - screenCentre).manhattanLength(), 8);

    window->hide();
    terms.coordinator->show();
    EXPECT_EQ(terms.coordinator->window(), window);
    EXPECT_TRUE(window->isVisible());
}

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
    EXPECT_EQ(terms.accepted, c.expectedOnAccept);
}

INSTANTIATE_TEST_SUITE_P(TermsAgreementCoordinator, TermsAcceptance,
                         ::testing::Values(AcceptanceCase{"windowOpen", true, 1, 1},
                                           AcceptanceCase{"windowOpenPublishedTwice", true, 2, 1},
                                           AcceptanceCase{"noWindow", false, 1, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TermsAgreementCoordinator, AgreeRecordsTheAcceptanceOnceAndQuitAsksToEnd)
{
    TermsFixture terms;
    terms.coordinator->show();
    QWidget *window = terms.coordinator->window();
    ASSERT_NE(window, nullptr);
    window->findChild<QPushButton *>(QStringLiteral("termsQuitButton"))->click();
    EXPECT_EQ(terms.quitRequests, 1);

    window->findChild<QPushButton *>(QStringLiteral("termsAgreeButton"))->click();
    EXPECT_TRUE(terms.manager->hasAcceptedCurrentTerms());
    EXPECT_EQ(terms.accepted, 1);
    const auto acceptedAt = defaults::readDate(*terms.defaults, ConfigurationManager::kTermsAcceptedAtKey);
    ASSERT_TRUE(acceptedAt.has_value());

    // Agreeing again when the version is current writes and publishes nothing.
    terms.defaults->setValue(ConfigurationManager::kTermsAcceptedAtKey, QStringLiteral("2026-10-08T00:00:00Z"));
    terms.coordinator->accept();
    EXPECT_EQ(terms.defaults->value(ConfigurationManager::kTermsAcceptedAtKey).toString(),
              QStringLiteral("2026-10-08T00:00:00Z"));
    EXPECT_EQ(terms.accepted, 1);
}

} // namespace
} // namespace quillby::test
