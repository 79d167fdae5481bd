// Writes every onboarding step, the terms sheet and the terms window to PNG files for review by
// eye:
//   QUILLBY_RENDER_DIR=<folder> QT_QPA_PLATFORM=xcb scripts/with-session.sh \
//     build/tests/onboarding_window/onboarding_window_tests --gtest_filter='OnboardingRender.*'

#include "OnboardingTestSupport.h"

#include "onboarding/TermsAgreementCoordinator.h"
#include "onboarding/TermsAgreementView.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

QString renderFolder()
{
    return qEnvironmentVariable("QUILLBY_RENDER_DIR");
}

void save(QWidget *widget, const QString &name)
{
    processQueuedEvents();
    const QString path = QDir(renderFolder()).filePath(name + QStringLiteral(".png"));
    ASSERT_TRUE(widget->grab().save(path)) << path.toStdString();
}

void choose(QComboBox *picker, const QVariant &data)
{
    const int row = picker->findData(data);
    picker->setCurrentIndex(row);
    emit picker->activated(row);
}

TEST(OnboardingRender, WritesEveryStepAndTheTermsToPng)
{
    if (renderFolder().isEmpty()) {
        GTEST_SKIP() << "set QUILLBY_RENDER_DIR to a folder";
    }
    QDir().mkpath(renderFolder());
    {
        OnboardingHarness h;
        h.acceptTerms(QStringLiteral("2025-01-01"));
        h.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", std::string("Ada"), std::string("Lovelace")),
                                FakeLibreLinkUpServer::connection("p-2", std::string("Bo"), std::string("Kim"))});
        h.show();
        save(h.window(), QStringLiteral("onboarding-1-welcome"));
        h.clickContinue();
        save(h.window(), QStringLiteral("onboarding-2-setup-dexcom"));
        h.find<QAbstractButton>(QStringLiteral("onboardingSetupConfirmedToggle"))->click();
        h.clickContinue();
        save(h.window(), QStringLiteral("onboarding-3-signin-dexcom"));
        QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField")), QStringLiteral("ada"));
        QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField")), QStringLiteral("wrong"));
        h.settings().setStatusCategory(StatusMessageCategory::signInError(
            "Your Dexcom username or password is incorrect. <b>Check them</b> and try again."));
        save(h.window(), QStringLiteral("onboarding-4-signin-error"));

        // The terms sheet over the sign-in step.
        h.find<QLineEdit>(QStringLiteral("onboardingPasswordField"))->clear();
        h.settings().setPassword("secret");
        h.find<QAbstractButton>(QStringLiteral("onboardingSignInButton"))->click();
        ASSERT_TRUE(waitUntil([&] { return h.view().termsSheet() != nullptr; }));
        save(h.view().termsSheet(), QStringLiteral("onboarding-5-terms-sheet-changed"));
        h.view().termsSheet()->findChild<QAbstractButton *>(QStringLiteral("termsCancelButton"))->click();
        h.settings().setRegion("us");
        h.find<QAbstractButton>(QStringLiteral("onboardingSignInButton"))->click();
        ASSERT_TRUE(waitUntil([&] { return h.view().termsSheet() != nullptr; }));
        h.view().termsSheet()->findChild<QAbstractButton *>(QStringLiteral("termsAgreeButton"))->click();
        ASSERT_TRUE(waitUntil([&] { return h.settings().isConfigurationValid(); })) << h.settings().statusMessage();
        save(h.window(), QStringLiteral("onboarding-6-setup-complete"));
    }
    {
        OnboardingHarness h;
        h.acceptTerms();
        h.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", std::string("Ada"), std::string("Lovelace")),
                                FakeLibreLinkUpServer::connection("p-2", std::string("Bo"), std::string("Kim"))});
        h.show();
        choose(h.find<QComboBox>(QStringLiteral("glucoseProviderPicker")), static_cast<int>(GlucoseProvider::libreLinkUp));
        save(h.window(), QStringLiteral("onboarding-7-welcome-libre"));
        h.clickContinue();
        h.find<QAbstractButton>(QStringLiteral("onboardingSetupConfirmedToggle"))->click();
        save(h.window(), QStringLiteral("onboarding-8-setup-libre"));
        h.clickContinue();
        QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField")), QStringLiteral("ada@example.com"));
        QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField")), QStringLiteral("secret"));
        h.find<QAbstractButton>(QStringLiteral("onboardingSignInButton"))->click();
        ASSERT_TRUE(waitUntil([&] { return h.settings().libreConnections().size() == 2 && !h.settings().isLoading(); }));
        save(h.window(), QStringLiteral("onboarding-9-signin-libre-person"));
        choose(h.find<QComboBox>(QStringLiteral("libreConnectionPicker")), QStringLiteral("p-2"));
        h.find<QAbstractButton>(QStringLiteral("onboardingSignInButton"))->click();
        ASSERT_TRUE(waitUntil([&] { return h.settings().isConfigurationValid(); })) << h.settings().statusMessage();
        save(h.window(), QStringLiteral("onboarding-10-setup-complete-libre"));
    }
    for (const bool changed : {false, true}) {
        OnboardingHarness h;
        if (changed) {
            h.acceptTerms(QStringLiteral("2025-01-01"));
        }
        h.buildServices();
        TermsAgreementCoordinator terms(*h.configurationManager, {}, {});
        terms.show();
        ASSERT_NE(terms.window(), nullptr);
        save(terms.window(), changed ? QStringLiteral("terms-window-changed") : QStringLiteral("terms-window"));
        if (!changed) {
            TermsAgreementSheet sheet(false, {}, {}, QUrl(), terms.window());
            sheet.open();
            save(&sheet, QStringLiteral("terms-sheet"));
        }
    }
}

} // namespace
} // namespace quillby::test
