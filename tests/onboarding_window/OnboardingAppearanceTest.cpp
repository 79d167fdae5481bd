// The onboarding and terms windows are light whatever the desktop's colour scheme and readable
// when it is dark; their controls keep their place and size as the steps change.

#include "OnboardingTestSupport.h"
#include "TextContrast.h"

#include "onboarding/TermsAgreementCoordinator.h"
#include "onboarding_window/OnboardingNavigationBar.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

void expectReadable(QWidget *window, const QString &what)
{
    SCOPED_TRACE(what.toStdString());
    processQueuedEvents();
    expectReadableTexts(window, 3);
    expectVisibleControlBoundaries(window, 1);
}

void choose(QComboBox *picker, const QVariant &data)
{
    const int row = picker->findData(data);
    picker->setCurrentIndex(row);
    emit picker->activated(row);
}

// The middle of the step dots, in the bar's own coordinates, against the middle of the bar.
int dotsOffCentre(QWidget *window)
{
    auto *bar = window->findChild<OnboardingNavigationBar *>();
    auto *dots = bar ? bar->findChild<OnboardingStepIndicator *>() : nullptr;
    if (!dots) {
        ADD_FAILURE() << "no step dots";
        return 1000;
    }
    return dots->geometry().center().x() - bar->rect().center().x();
}

TEST(OnboardingAppearance, EveryStepAndTheTermsAreReadableWithVisibleControlsOnLightAndDarkDesktops)
{
    underLightAndDarkDesktops([] {
        {
            OnboardingHarness h;
            h.acceptTerms();
            h.libre.setConnections(
                {FakeLibreLinkUpServer::connection("p-1", std::string("Ada"), std::string("Lovelace"))});
            h.show();
            choose(h.find<QComboBox>(QStringLiteral("glucoseProviderPicker")),
                   static_cast<int>(GlucoseProvider::libreLinkUp));
            expectReadable(h.window(), QStringLiteral("welcome"));
            h.clickContinue();
            expectReadable(h.window(), QStringLiteral("set-up"));
            h.find<QAbstractButton>(QStringLiteral("onboardingSetupConfirmedToggle"))->click();
            h.clickContinue();
            QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField")),
                             QStringLiteral("ada@example.com"));
            QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField")), QStringLiteral("secret"));
            expectReadable(h.window(), QStringLiteral("sign-in"));
            h.find<QAbstractButton>(QStringLiteral("onboardingSignInButton"))->click();
            ASSERT_TRUE(
                waitUntil([&] { return !h.settings().libreConnections().empty() && !h.settings().isLoading(); }));
            expectReadable(h.window(), QStringLiteral("sign-in with the person picker"));
        }
        OnboardingHarness h;
        h.buildServices();
        TermsAgreementCoordinator terms(*h.configurationManager, {}, {});
        terms.show();
        ASSERT_NE(terms.window(), nullptr);
        expectReadable(terms.window(), QStringLiteral("terms window"));
    });
}

TEST(OnboardingAppearance, StepDotsStayInTheMiddleWhateverTheForwardButtonSays)
{
    OnboardingHarness h;
    h.acceptTerms();
    h.show();
    EXPECT_LE(std::abs(dotsOffCentre(h.window())), 1) << "welcome";
    h.clickContinue();
    EXPECT_LE(std::abs(dotsOffCentre(h.window())), 1) << "set-up";
    h.find<QAbstractButton>(QStringLiteral("onboardingSetupConfirmedToggle"))->click();
    h.clickContinue();
    EXPECT_LE(std::abs(dotsOffCentre(h.window())), 1) << "sign-in";
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField")), QStringLiteral("ada"));
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField")), QStringLiteral("secret"));
    h.find<QAbstractButton>(QStringLiteral("onboardingSignInButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return h.settings().isConfigurationValid(); })) << h.settings().statusMessage();
    processQueuedEvents();
    EXPECT_LE(std::abs(dotsOffCentre(h.window())), 1) << "signed in: Continue";
}

// Every step's dot stands out 3:1 from the window, not only the current one.
TEST(OnboardingAppearance, EveryStepDotCanBeSeen)
{
    OnboardingHarness h;
    h.acceptTerms();
    h.show();
    auto *dots = h.window()->findChild<OnboardingStepIndicator *>();
    ASSERT_NE(dots, nullptr);
    const QImage shot = h.window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const double ratio = shot.devicePixelRatio();
    const QRect area(dots->mapTo(h.window(), QPoint(0, 0)) * ratio, dots->size() * ratio);
    const QColor background = mostCommonColour(shot, area);
    // Along the middle row: each run of pixels unlike the background is a dot.
    const int y = area.center().y();
    std::vector<double> strongest;
    bool inDot = false;
    for (int x = area.left(); x <= area.right(); ++x) {
        const double contrast = contrastRatio(QColor(shot.pixel(x, y)), background);
        if (contrast > 1.1) {
            if (!inDot) {
                strongest.push_back(1);
            }
            strongest.back() = std::max(strongest.back(), contrast);
        }
        inDot = contrast > 1.1;
    }
    ASSERT_EQ(strongest.size(), 3u);
    for (const double contrast : strongest) {
        EXPECT_GE(contrast, 3.0);
    }
}

TEST(OnboardingAppearance, AccountPickersShareOneWidth)
{
    OnboardingHarness h;
    h.acceptTerms();
    h.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", std::string("Ada"), std::string("Lovelace"))});
    h.show();
    auto *sensor = h.find<QComboBox>(QStringLiteral("glucoseProviderPicker"));
    choose(sensor, static_cast<int>(GlucoseProvider::libreLinkUp));
    processQueuedEvents();
    const int sensorWidth = sensor->width();
    h.clickContinue();
    h.find<QAbstractButton>(QStringLiteral("onboardingSetupConfirmedToggle"))->click();
    h.clickContinue();
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField")), QStringLiteral("ada@example.com"));
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField")), QStringLiteral("secret"));
    h.find<QAbstractButton>(QStringLiteral("onboardingSignInButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return !h.settings().libreConnections().empty() && !h.settings().isLoading(); }));
    processQueuedEvents();
    const int regionWidth = h.find<QComboBox>(QStringLiteral("onboardingRegionPicker"))->width();
    const int personWidth = h.find<QComboBox>(QStringLiteral("libreConnectionPicker"))->width();
    EXPECT_EQ(regionWidth, sensorWidth);
    EXPECT_EQ(personWidth, sensorWidth);
}

} // namespace
} // namespace quillby::test
