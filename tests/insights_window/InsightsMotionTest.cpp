// How the Insights window moves: the curves against their formulas, values that continue from
// what is shown, the readiness ring and the collection indicator, the report's numbers, the
// pages that fade, reduced motion, and the selectable report text. Every animation runs on a
// virtual animation clock that the test moves.

#include "InsightsWindowTestSupport.h"
#include "VirtualAnimationClock.h"

#include "insights_window/InsightsCollectingView.h"
#include "insights_window/InsightsCollectionProgressView.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsMotion.h"
#include "insights_window/InsightsNumberLabel.h"
#include "insights_window/InsightsPageFade.h"
#include "insights_window/InsightsReportView.h"
#include "insights_window/InsightsTextSelection.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <set>

namespace quillby::test {
namespace {

constexpr double kDay = 86400;

double inOutQuad(double p)
{
    return QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(p);
}

TEST(InsightsMotionTest, CurvesFollowTheirFormulas)
{
    EXPECT_EQ(InsightsMotion::easeInOut().durationMs, 300);
    EXPECT_EQ(InsightsMotion::easeInOut().easing.type(), QEasingCurve::InOutQuad);
    EXPECT_EQ(InsightsMotion::easeOut().durationMs, 250);
    EXPECT_EQ(InsightsMotion::easeOut().easing.type(), QEasingCurve::OutQuad);

    for (const double response : {0.4, 0.3}) {
        SCOPED_TRACE(response);
        const InsightsCurve spring = InsightsMotion::spring(response);
        const double settle = InsightsMotion::springSettleSeconds(response);
        // Within 0.1 % at the settle time and not before it.
        EXPECT_NEAR(InsightsMotion::springValue(settle, response), 0.999, 1e-9);
        EXPECT_LT(InsightsMotion::springValue(settle * 0.99, response), 0.999);
        EXPECT_NEAR(spring.durationMs, settle * 1000, 0.5);
        // x(t) = 1 − (1 + ωt)·e^(−ωt), ω = 2π / response, along the whole run.
        const double omega = 2 * M_PI / response;
        for (const double p : {0.05, 0.1, 0.25, 0.5, 0.75, 0.9}) {
            const double t = p * settle;
            const double formula = 1 - (1 + omega * t) * std::exp(-omega * t);
            EXPECT_NEAR(spring.easing.valueForProgress(p), formula, 1e-9) << p;
        }
        // Critically damped: it rises all the way and never passes its target.
        double last = 0;
        for (int i = 0; i <= 1000; ++i) {
            const double v = spring.easing.valueForProgress(i / 1000.0);
            EXPECT_GE(v, last);
            EXPECT_LE(v, 1.0);
            last = v;
        }
        EXPECT_EQ(spring.easing.valueForProgress(1), 1.0);
    }
}

TEST(InsightsMotionTest, AValueContinuesFromWhatIsShown)
{
    VirtualAnimationClock clock;
    std::vector<double> drawn;
    InsightsAnimatedValue value(0, [&](double v) { drawn.push_back(v); });
    value.moveTo(1, InsightsMotion::easeInOut());
    clock.step(150);
    EXPECT_NEAR(value.value(), inOutQuad(0.5), 1e-9);
    // A change mid-way starts from the value on screen, not from the old target.
    const double shown = value.value();
    value.moveTo(0, InsightsMotion::easeInOut());
    clock.step(0);
    EXPECT_NEAR(value.value(), shown, 1e-9);
    clock.step(150);
    EXPECT_NEAR(value.value(), shown * (1 - inOutQuad(0.5)), 1e-9);
    clock.run(200);
    EXPECT_EQ(value.value(), 0.0);
    EXPECT_EQ(drawn.back(), 0.0);
    EXPECT_FALSE(value.isAnimating());
    EXPECT_FALSE(clock.animating());
    // Without a curve the target applies at once.
    value.moveTo(0.7, std::nullopt);
    EXPECT_EQ(value.value(), 0.7);
    EXPECT_FALSE(clock.animating());
}

InsightsCollectionProgress progress(double days, double coverage)
{
    InsightsCollectionProgress p;
    p.collectionDuration = days * kDay;
    p.coverageFraction = coverage;
    p.hasReadings = true;
    return p;
}

InsightsCollectingView::Model collecting(double days, double coverage = 0.9)
{
    InsightsCollectingView::Model model;
    model.presentation = InsightsReadinessPresentation{progress(days, coverage), true, true};
    return model;
}

TEST(InsightsMotionTest, ReadinessRingFollowsItsSpring)
{
    VirtualAnimationClock clock;
    InsightsCollectingView view({}, {}, {});
    auto *ring = view.findChild<InsightsProgressRing *>();
    // Off screen: at once.
    view.setModel(collecting(0.75));
    EXPECT_DOUBLE_EQ(ring->shownFraction(), 0.25);
    view.resize(800, 500);
    view.show();

    view.setModel(collecting(2.25));
    // Spoken at once, drawn along the spring of response 0.4 s.
    EXPECT_EQ(ring->accessibleDescription(), QStringLiteral("75% collected"));
    EXPECT_DOUBLE_EQ(ring->shownFraction(), 0.25);
    const int settleMs = InsightsMotion::spring(0.4).durationMs;
    int elapsed = 0;
    for (const int ms : {40, 100, 160}) {
        clock.step(ms - elapsed);
        elapsed = ms;
        EXPECT_NEAR(ring->shownFraction(), 0.25 + 0.5 * InsightsMotion::springValue(ms / 1000.0, 0.4), 1e-3) << ms;
    }
    // A new fraction mid-way leaves from the drawn fill.
    const double shown = ring->shownFraction();
    view.setModel(collecting(0.3));
    clock.step(0);
    EXPECT_NEAR(ring->shownFraction(), shown, 1e-9);
    clock.step(100);
    EXPECT_NEAR(ring->shownFraction(), shown + (0.1 - shown) * InsightsMotion::springValue(0.1, 0.4), 1e-3);
    clock.run(settleMs);
    EXPECT_DOUBLE_EQ(ring->shownFraction(), 0.1);
    EXPECT_FALSE(clock.animating());

    // Reduced motion: the ring jumps, also when the wish comes mid-way.
    view.setModel(collecting(3));
    clock.step(50);
    view.setReduceMotion(true);
    EXPECT_DOUBLE_EQ(ring->shownFraction(), 1.0);
    view.setModel(collecting(1.5));
    EXPECT_DOUBLE_EQ(ring->shownFraction(), 0.5);
    EXPECT_FALSE(clock.animating());
}


TEST(InsightsMotionTest, CollectionIndicatorPieAndCheckmark)
{
    VirtualAnimationClock clock;
    FakeClock fakeClock(1'800'000'000.0);
    auto sleeper = std::make_shared<VirtualTimeSleeper>(fakeClock);
    InsightsCollectionStatusState state;
    InsightsCollectionProgressView view(state, sleeper);
    view.show();
    const double spring = InsightsCollectionProgressView::kSpringResponse;

    struct Pass {
        const char *name;
        bool reduceMotion;
    };
    for (const Pass pass : {Pass{"motion", false}, Pass{"reduced motion", true}}) {
        SCOPED_TRACE(pass.name);
        view.setReduceMotion(pass.reduceMotion);
        // A new history each pass: collecting first, then the unlock.
        InsightsCollectionProgressView::Input input;
        input.progress = progress(1.5, 0.9);
        input.accountScope = pass.name;
        input.historyEpoch = QUuid::createUuid();
        view.setInput(input, true);
        // The pie comes in at its fill; it fades in along the spring, or is there at once.
        EXPECT_DOUBLE_EQ(view.pieFill(), 0.5);
        clock.step(60);
        EXPECT_NEAR(view.pieOpacity(), pass.reduceMotion ? 1.0 : InsightsMotion::springValue(0.06, spring), 1e-3);
        clock.run(500);
        input.progress = progress(2.25, 0.9);
        view.setInput(input, true);
        clock.step(60);
        EXPECT_NEAR(view.pieFill(), pass.reduceMotion ? 0.75 : 0.5 + 0.25 * InsightsMotion::springValue(0.06, spring),
                    1e-3);
        clock.run(500);

        input.hasUnlockedInsights = true;
        view.setInput(input, true);
        ASSERT_TRUE(view.completionID());
        clock.step(150);
        if (pass.reduceMotion) {
            // A plain fade, full size from the start; the pie goes at once.
            EXPECT_DOUBLE_EQ(view.checkmarkScale(), 1.0);
            EXPECT_NEAR(view.checkmarkOpacity(), inOutQuad(0.5), 1e-3);
            EXPECT_EQ(view.pieOpacity(), 0.0);
        } else {
            // It appears out of its centre along the spring while the pie fades out.
            EXPECT_NEAR(view.checkmarkScale(), InsightsMotion::springValue(0.15, spring), 1e-3);
            EXPECT_NEAR(view.pieOpacity(), 1 - InsightsMotion::springValue(0.15, spring), 1e-3);
        }
        clock.run(500);
        EXPECT_DOUBLE_EQ(view.checkmarkOpacity(), 1.0);
        EXPECT_FALSE(clock.animating());

        // Two seconds later the notice ends with a 0.25 s ease-out fade, in both modes.
        sleeper->runFor(2.1);
        ASSERT_FALSE(view.completionID());
        clock.step(125);
        EXPECT_NEAR(view.checkmarkOpacity(), 1 - QEasingCurve(QEasingCurve::OutQuad).valueForProgress(0.5), 1e-3);
        clock.run(200);
        EXPECT_EQ(view.checkmarkOpacity(), 0.0);
        EXPECT_FALSE(clock.animating());
    }
}

InsightsSummary reportSummary(double mean, double gmi, std::vector<double> fractions)
{
    InsightsSummary s;
    s.readingCount = 100;
    s.meanMgdl = mean;
    s.standardDeviationMgdl = mean / 4;
    s.gmi = InsightsGMI::available(gmi);
    const InsightsBand bands[] = {InsightsBand::veryLow, InsightsBand::low, InsightsBand::inRange, InsightsBand::high,
                                  InsightsBand::veryHigh};
    for (std::size_t i = 0; i < fractions.size(); ++i) {
        s.bands.push_back({bands[i], 0, fractions[i]});
    }
    return s;
}

TEST(InsightsMotionTest, ReportNumbersCountToTheFinalValueWhichAloneIsSpoken)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    VirtualAnimationClock clock;
    InsightsReportView view(reportSummary(100, 5.7, {0.01, 0.04, 0.5, 0.3, 0.1}), GlucoseUnits::mgdL);
    view.resize(1000, 700);
    view.show();
    const auto card = [&](const char *id) {
        return view.findChild<QWidget *>(QStringLiteral("insightsHighlight_") + id);
    };
    const auto value = [&](const char *id) { return card(id)->findChild<InsightsNumberLabel *>("value"); };
    const auto percent = [&](const char *band) {
        return view.findChild<QWidget *>(QStringLiteral("insightsBand_") + band)->findChild<InsightsNumberLabel *>("percent");
    };
    auto *mean = value("mean");

    // What assistive technologies read, at every step.
    std::set<QString> spoken;
    const auto listen = [&] { spoken.insert(QAccessible::queryAccessibleInterface(mean)->text(QAccessible::Name)); };

    view.setSummary(reportSummary(200, 8.1, {0.01, 0.04, 0.7, 0.2, 0.124}), GlucoseUnits::mgdL,
                    InsightsMotion::easeInOut());
    // The final numbers are what is spoken, from the start.
    EXPECT_EQ(mean->accessibleName(), QStringLiteral("200"));
    EXPECT_EQ(card("mean")->accessibleName(), QStringLiteral("Average 200 mg/dL"));
    EXPECT_EQ(percent("inRange")->accessibleName(), QStringLiteral("70%"));
    EXPECT_EQ(mean->text(), QStringLiteral("100"));
    std::set<int> widths;
    clock.step(150);
    listen();
    widths.insert(mean->sizeHint().width());
    // Half way along the ease-in-out, with the final number's digits.
    EXPECT_EQ(mean->text(), QStringLiteral("150"));
    EXPECT_EQ(value("gmi")->text(), QStringLiteral("6.9"));
    EXPECT_EQ(percent("inRange")->text(), QStringLiteral("60%"));
    EXPECT_EQ(percent("high")->text(), QStringLiteral("25%"));
    EXPECT_EQ(percent("veryHigh")->text(), QStringLiteral("11.2%"));

    // A new result mid-way counts on from the shown number.
    view.setSummary(reportSummary(120, 6.2, {0.01, 0.04, 0.7, 0.2, 0.124}), GlucoseUnits::mgdL,
                    InsightsMotion::easeInOut());
    EXPECT_EQ(mean->accessibleName(), QStringLiteral("120"));
    clock.step(150);
    listen();
    EXPECT_EQ(mean->text(), QStringLiteral("135"));
    for (int i = 0; i < 10; ++i) {
        clock.step(16);
        listen();
        widths.insert(mean->sizeHint().width());
    }
    clock.run(200);
    EXPECT_EQ(mean->text(), QStringLiteral("120"));
    EXPECT_EQ(value("gmi")->text(), QStringLiteral("6.2"));
    EXPECT_EQ(percent("veryHigh")->text(), QStringLiteral("12.4%"));
    EXPECT_FALSE(view.isAnimating());
    EXPECT_FALSE(clock.animating());
    // Three digits all the way: the width never moved.
    EXPECT_EQ(widths.size(), 1u);

    // Only the final numbers, never a step on the way.
    EXPECT_EQ(spoken, (std::set<QString>{QStringLiteral("200"), QStringLiteral("120")}));

    // Without a curve (off screen, reduced motion) a number is final at once.
    view.setSummary(reportSummary(90, 5.5, {0.01, 0.04, 0.7, 0.2, 0.124}), GlucoseUnits::mmolL, std::nullopt);
    EXPECT_EQ(mean->text(), QStringLiteral("5.0"));
    EXPECT_FALSE(clock.animating());
}

class InsightsMotionViewTest : public ::testing::Test {
protected:
    InsightsHarness h;
    VirtualAnimationClock clock;

    std::string seed(double collectedDays, double readingDays, bool unlocked)
    {
        const std::string scope = h.signIn();
        const Date now = h.clock->now();
        auto &account = h.store->seed(scope, readingDays > 0 ? waveReadings(now - readingDays * kDay, now) : GlucoseReadings{},
                                      true);
        account.configuration.collectionStartedAt = now - collectedDays * kDay;
        if (unlocked) {
            account.configuration.insightsUnlockedAt = now - 1;
        }
        return scope;
    }
    void unlock(const std::string &scope, InsightsView &view)
    {
        h.store->accounts[scope].configuration.insightsUnlockedAt = h.clock->now();
        runTask(h.coordinator->requestSnapshotRefresh());
        ASSERT_TRUE(waitUntil([&] { return view.state() == InsightsViewState::report; }));
    }
};

TEST_F(InsightsMotionViewTest, CollectingCardAndReportFadeAndNothingRunsWhenIdle)
{
    const std::string scope = seed(3, 3, false);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    ASSERT_EQ(view->state(), InsightsViewState::collecting);
    clock.run(400);
    InsightsPageFade *fade = view->pageFade();
    EXPECT_FALSE(fade->isRunning());
    // The collecting card's background plays, but through no animation of the framework.
    EXPECT_FALSE(clock.animating());

    unlock(scope, *view);
    auto *report = view->findChild<QStackedWidget *>()->currentWidget();
    ASSERT_TRUE(fade->isRunning());
    EXPECT_EQ(fade->arrivingPage(), report);
    EXPECT_DOUBLE_EQ(fade->leavingOpacity(), 1.0);
    EXPECT_DOUBLE_EQ(fade->arrivingOpacity(), 0.0);
    // The fading layer is no part of what assistive technologies see.
    QAccessibleInterface *tree = QAccessible::queryAccessibleInterface(view.get());
    for (int i = 0; i < tree->childCount(); ++i) {
        EXPECT_NE(tree->child(i)->object(), fade);
    }
    clock.step(150);
    EXPECT_NEAR(fade->arrivingOpacity(), inOutQuad(0.5), 1e-3);
    EXPECT_NEAR(fade->leavingOpacity(), 1 - inOutQuad(0.5), 1e-3);
    clock.run(200);
    EXPECT_FALSE(fade->isRunning());
    EXPECT_TRUE(fade->isHidden());
    // The checkmark comes and goes; then nothing moves.
    clock.run(500);
    h.sleeper->runFor(2.1);
    clock.run(300);
    EXPECT_FALSE(clock.animating());

    // New saved readings: the report stays and its numbers move, without a page fade.
    h.store->accounts[scope].readings = waveReadings(h.clock->now() - 3 * kDay, h.clock->now(), 60);
    runTask(h.coordinator->requestSnapshotRefresh());
    ASSERT_TRUE(InsightsHarness::settle(*view));
    ASSERT_TRUE(waitUntil([&] { return view->reportView()->isAnimating(); }));
    EXPECT_FALSE(fade->isRunning());
    EXPECT_TRUE(view->reportView()->isAnimating());
    clock.run(320);
    EXPECT_FALSE(view->reportView()->isAnimating());
    EXPECT_FALSE(clock.animating());
}

TEST_F(InsightsMotionViewTest, OtherStatesSwitchAtOnceAndReducedMotionAppliesEverythingAtOnce)
{
    {
        InsightsHarness other;
        other.signIn();
        other.store->failNext(FakeHistoryStore::Op::activateAccount, GlucoseHistoryError::Case::unreadableHistory, 3);
        auto view = other.makeView();
        view->show();
        ASSERT_TRUE(InsightsHarness::settle(*view));
        ASSERT_TRUE(waitUntil([&] { return view->state() == InsightsViewState::historyUnavailable; }));
        // Loading to unavailable: no fade was started (the clock has not moved since).
        EXPECT_FALSE(view->pageFade()->isRunning());
    }
    const std::string scope = seed(3, 3, false);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    clock.run(400);
    // The wish is read live, with the window open.
    view->setReduceMotion(true);
    unlock(scope, *view);
    EXPECT_FALSE(view->pageFade()->isRunning());
    const QString before = view->reportView()->findChild<QWidget *>("insightsHighlight_mean")->findChild<QLabel *>("value")->text();
    GlucoseReadings flat = waveReadings(h.clock->now() - 3 * kDay, h.clock->now());
    for (auto &reading : flat) {
        reading.mgdL = 250;
    }
    h.store->accounts[scope].readings = flat;
    runTask(h.coordinator->requestSnapshotRefresh());
    ASSERT_TRUE(InsightsHarness::settle(*view));
    // The new numbers stand at once.
    ASSERT_TRUE(waitUntil([&] {
        return view->reportView()->findChild<QWidget *>("insightsHighlight_mean")->findChild<QLabel *>("value")->text() != before;
    }));
    EXPECT_FALSE(view->reportView()->isAnimating());
    // Only the checkmark moves: it fades.
    clock.step(150);
    EXPECT_GT(view->progressIndicator()->checkmarkOpacity(), 0.0);
    EXPECT_LT(view->progressIndicator()->checkmarkOpacity(), 1.0);
    EXPECT_DOUBLE_EQ(view->progressIndicator()->checkmarkScale(), 1.0);
}

TEST_F(InsightsMotionViewTest, ReportTextIsSelectedWithTheMouseAndCopiedWithoutTakingTheFocus)
{
    seed(20, 2, true);
    auto view = h.makeView();
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    ASSERT_TRUE(InsightsHarness::settle(*view));
    ASSERT_EQ(view->state(), InsightsViewState::report);
    clock.run(400);
    auto *period = view->findChild<QToolButton *>("insightsPeriod14");
    period->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), period);

    const auto drag = [](QLabel *label) {
        const int y = label->height() / 2;
        QTest::mousePress(label, Qt::LeftButton, {}, QPoint(1, y));
        QTest::mouseMove(label, QPoint(label->width() - 1, y));
        QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(label->width() - 1, y));
    };
    auto *mean = view->reportView()->findChild<QWidget *>("insightsHighlight_mean")->findChild<QLabel *>("value");
    auto *notice = view->findChild<QLabel *>("noticeText");
    ASSERT_TRUE(notice);
    drag(mean);
    EXPECT_EQ(mean->selectedText(), mean->text());
    EXPECT_EQ(QApplication::focusWidget(), period);
    QTest::keyClick(period, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), mean->text());

    // A selection in another text ends the first; the data notice is selectable too.
    drag(notice);
    EXPECT_FALSE(mean->hasSelectedText());
    EXPECT_FALSE(notice->selectedText().isEmpty());
    QTest::keyClick(period, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), notice->selectedText());
    EXPECT_EQ(QApplication::focusWidget(), period);

    // Every text of the report: selectable, out of the Tab order, and read as itself.
    for (QLabel *label : view->reportView()->findChildren<QLabel *>()) {
        if (label->text().isEmpty()) {
            continue;
        }
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
        QAccessibleInterface *spoken = QAccessible::queryAccessibleInterface(label);
        ASSERT_TRUE(spoken);
        EXPECT_EQ(spoken->text(QAccessible::Name), label->accessibleName().isEmpty() ? label->text() : label->accessibleName());
    }
}

} // namespace
} // namespace quillby::test
