// The Insights window over a real history coordinator (in-memory store): its states, the report
// it shows compared with the engine's own report, the period picker, the minute timeline, the
// launcher, and the consent sheet over the real store in a temporary folder.

#include "InsightsWindowTestSupport.h"
#include "insights/InsightsCollectionProgress.h"

#include "FakeKeychainItemStore.h"
#include "HistoryKeyringItems.h"
#include "core/AppNotifications.h"
#include "history/GlucoseHistoryStore.h"
#include "insights/InsightsCalculation.h"
#include "insights_window/HistoryEnableDisclosureView.h"
#include "insights_window/InsightsAGPView.h"
#include "insights_window/InsightsCollectingView.h"
#include <functional>
#include <QAccessible>
#include "insights_window/InsightsCollectionProgressView.h"
#include "insights_window/InsightsExplanationView.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsReportView.h"
#include "widgets/AmbientBackgroundView.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QStackedWidget>
#include <QToolButton>

#include <algorithm>
#include <filesystem>

namespace quillby::test {
namespace {

constexpr double kDay = 86400;

QStringList labelTexts(const QWidget *root)
{
    QStringList texts;
    for (const auto *label : root->findChildren<QLabel *>()) {
        if (label->isVisibleTo(root->window())) {
            texts << label->text();
        }
    }
    return texts;
}

const QWidget *shownPage(const InsightsView &view)
{
    return view.findChild<QStackedWidget *>()->currentWidget();
}

struct InsightsScenario {
    InsightsHarness h;

    // An account with saving on, collection started `collectedDays` ago, readings every five
    // minutes over the last `readingDays`, and the unlock recorded when asked.
    std::string seed(double collectedDays, double readingDays, bool unlocked, bool saving = true, int retention = 90)
    {
        const std::string scope = h.signIn();
        const Date now = h.clock->now();
        auto &account = h.store->seed(scope, readingDays > 0 ? waveReadings(now - readingDays * kDay, now) : GlucoseReadings{},
                                      saving);
        account.configuration.collectionStartedAt = now - collectedDays * kDay;
        account.configuration.retentionDays = retention;
        if (unlocked) {
            account.configuration.insightsUnlockedAt = now - 1;
        }
        return scope;
    }
};

class InsightsViewTest : public ::testing::Test, public InsightsScenario {};

TEST_F(InsightsViewTest, ShowsOneStatePerHistorySituation)
{
    struct Case {
        const char *name;
        std::function<void(InsightsScenario &)> arrange;
        InsightsViewState state;
        QString shownText;   // a text the page shows
    };
    const std::vector<Case> cases = {
        {"history cannot be read", [](InsightsScenario &t) {
             t.h.signIn();
             t.h.store->failNext(FakeHistoryStore::Op::activateAccount, GlucoseHistoryError::Case::unreadableHistory, 3);
         }, InsightsViewState::historyUnavailable, "History unavailable"},
        {"saving off, nothing saved", [](InsightsScenario &t) { t.seed(0, 0, false, false); },
         InsightsViewState::collecting, "Get started with Insights"},
        {"collecting, 1.5 days", [](InsightsScenario &t) { t.seed(1.5, 1.5, false); }, InsightsViewState::collecting,
         "Building your insights"},
        {"ready", [](InsightsScenario &t) { t.seed(20, 20, true); }, InsightsViewState::report, "Glucose ranges"},
        {"period with too little coverage", [](InsightsScenario &t) { t.seed(20, 2, true); }, InsightsViewState::report,
         "Needs 70% coverage"},
        {"no reading in the period", [](InsightsScenario &t) {
             const std::string scope = t.seed(40, 0, true);
             const Date now = t.h.clock->now();
             t.h.store->accounts[scope].readings = waveReadings(now - 40 * kDay, now - 20 * kDay);
         }, InsightsViewState::emptyPeriod,
         "Choose a longer period to see older readings, or keep Quillby running to collect more."},
        {"unlocked, nothing saved", [](InsightsScenario &t) { t.seed(20, 0, true); }, InsightsViewState::emptyPeriod,
         "No readings in this period"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        InsightsScenario fresh;
        c.arrange(fresh);
        auto view = fresh.h.makeView();
        view->show();
        ASSERT_TRUE(InsightsHarness::settle(*view));
        ASSERT_TRUE(waitUntil([&] { return view->state() == c.state; })) << static_cast<int>(view->state());
        EXPECT_TRUE(labelTexts(shownPage(*view)).contains(c.shownText)) << labelTexts(shownPage(*view)).join(" | ").toStdString();
    }
}

TEST_F(InsightsViewTest, LoadingUntilTheFirstRefreshReturns)
{
    h.signIn();
    h.store->hold(FakeHistoryStore::Op::activateAccount);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(waitUntil([&] { return h.store->heldCount(FakeHistoryStore::Op::activateAccount) == 1; }));
    EXPECT_EQ(view->state(), InsightsViewState::loading);
    EXPECT_TRUE(view->isRefreshing());
    h.store->release(FakeHistoryStore::Op::activateAccount);
    ASSERT_TRUE(InsightsHarness::settle(*view));
    EXPECT_NE(view->state(), InsightsViewState::loading);
}

TEST_F(InsightsViewTest, ReportShowsTheEnginesNumbers)
{
    seed(20, 20, true);
    std::vector<std::optional<int>> heights;
    std::vector<bool> availability;
    auto view = h.makeView({}, [&](bool a) { availability.push_back(a); }, [&](std::optional<int> v) { heights.push_back(v); });
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    ASSERT_EQ(view->state(), InsightsViewState::report);

    // The input tells the engine which readings come on a fixed cadence, as the providers say.
    EXPECT_EQ(view->calculation().publishedInput()->fixedCadence, &readingIsOnFixedCadence);
    // The engine's own report of the same input, formatted independently here.
    const auto expected = InsightsCalculationResult::calculate(*view->calculation().publishedInput()).summary;
    ASSERT_TRUE(expected.meanMgdl && expected.standardDeviationMgdl && expected.gmi.percent());
    const auto *report = view->reportView();
    ASSERT_TRUE(report);
    const auto cardValue = [&](const char *id) {
        return report->findChild<QWidget *>(QStringLiteral("insightsHighlight_") + id)->findChild<QLabel *>("value")->text();
    };
    EXPECT_EQ(cardValue("mean"), QString::number(std::lround(*expected.meanMgdl)));
    EXPECT_EQ(cardValue("standardDeviation"), QString::number(std::lround(*expected.standardDeviationMgdl)));
    EXPECT_EQ(cardValue("gmi"), QString::number(std::round(*expected.gmi.percent() * 10) / 10, 'f', 1));
    for (const auto &band : expected.bands) {
        SCOPED_TRACE(rawValue(band.band));
        auto *row = report->findChild<QWidget *>(QStringLiteral("insightsBand_") + QString::fromStdString(rawValue(band.band)));
        ASSERT_TRUE(row);
        const double percent = std::round(band.fraction * 1000) / 10;
        QString text = QString::number(percent, 'f', 1);
        if (text.endsWith(QStringLiteral(".0"))) {
            text.chop(2);
        }
        EXPECT_EQ(row->findChild<QLabel *>("percent")->text(), text + QLatin1Char('%'));
    }
    auto *chart = report->findChild<InsightsAGPChart *>();
    ASSERT_TRUE(chart);
    EXPECT_EQ(chart->points(), InsightsAGPPlot::points(expected.agp.bins));
    // 20 days of history, all covered: no notice; the disclaimer closes the report.
    EXPECT_EQ(view->findChild<QWidget *>("insightsEarlyDataNotice"), nullptr);
    EXPECT_EQ(view->findChild<QWidget *>("insightsLimitedDataNotice"), nullptr);
    EXPECT_TRUE(labelTexts(view.get()).contains(QStringLiteral(
        "Calculated on this computer. Insights are supplementary and don’t replace your sensor app or your clinician’s "
        "advice.")));
    // The window learns that a report is there and how tall it is.
    ASSERT_FALSE(availability.empty());
    EXPECT_TRUE(availability.back());
    ASSERT_FALSE(heights.empty());
    ASSERT_TRUE(heights.back());
    EXPECT_GT(*heights.back(), 400);
}

// The calculation reads the snapshot's own list of readings: handing a long history to the
// engine copies no reading.
TEST_F(InsightsViewTest, CalculationInputSharesTheSnapshotsReadings)
{
    seed(20, 20, true);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    const auto snapshot = h.coordinator->snapshot();
    ASSERT_TRUE(snapshot);
    ASSERT_FALSE(snapshot->readings.empty());
    const auto &input = view->calculation().publishedInput();
    ASSERT_TRUE(input);
    EXPECT_TRUE(input->readings.sharesListWith(snapshot->readings));
}

TEST_F(InsightsViewTest, PeriodPickerFollowsRetention)
{
    seed(40, 30, true, true, 30);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    auto *ninety = view->findChild<QToolButton *>("insightsPeriod90");
    ASSERT_TRUE(ninety);
    EXPECT_FALSE(ninety->isEnabled());
    EXPECT_EQ(view->selectedDays(), 14);
    view->selectPeriod(90);
    EXPECT_EQ(view->selectedDays(), 14);
    view->selectPeriod(30);
    EXPECT_EQ(view->selectedDays(), 30);
    EXPECT_DOUBLE_EQ(view->currentRequest()->interval.duration(), 30 * kDay);

    // Lowering the retention below the selected period narrows the period with it.
    view->selectPeriod(14);
    h.store->accounts.begin()->second.configuration.retentionDays = 90;
    runTask(h.coordinator->requestSnapshotRefresh());
    view->rebuildNow();
    view->selectPeriod(90);
    EXPECT_EQ(view->selectedDays(), 90);
    h.store->accounts.begin()->second.configuration.retentionDays = 30;
    runTask(h.coordinator->requestSnapshotRefresh());
    view->rebuildNow();
    EXPECT_EQ(view->selectedDays(), 30);
}

TEST_F(InsightsViewTest, TimelineRebuildsTheInputEveryMinuteAndOnlyTheNewestIsShown)
{
    seed(20, 20, true);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    const Date firstEnd = view->currentRequest()->interval.end;

    // The tick at one minute moves the period's end to the tick.
    h.sleeper->runFor(61);
    ASSERT_TRUE(InsightsHarness::settle(*view));
    EXPECT_DOUBLE_EQ(view->currentRequest()->interval.end, firstEnd + 60);
    EXPECT_EQ(view->calculation().publishedInput()->interval.end, firstEnd + 60);

    // Showing the window again moves the end at once, between ticks.
    h.clock->advance(10);
    h.presentation->setReferenceDate(h.clock->now());
    ASSERT_TRUE(waitUntil([&] { return view->currentRequest()->interval.end == firstEnd + 71; }));
    ASSERT_TRUE(InsightsHarness::settle(*view));
    EXPECT_EQ(view->calculation().publishedInput()->interval.end, firstEnd + 71);
}

// The period's end follows the clock minute by minute for as long as the window is open, and
// each minute's input is the one calculated and shown.
TEST_F(InsightsViewTest, TimelineKeepsRecalculatingEveryMinute)
{
    seed(20, 20, true);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    const Date firstEnd = view->currentRequest()->interval.end;
    for (int minute = 1; minute <= 3; ++minute) {
        SCOPED_TRACE(minute);
        h.sleeper->runFor(60);
        ASSERT_TRUE(InsightsHarness::settle(*view));
        EXPECT_DOUBLE_EQ(view->currentRequest()->interval.end, firstEnd + 60 * minute);
        EXPECT_DOUBLE_EQ(view->calculation().publishedInput()->interval.end, firstEnd + 60 * minute);
    }
}

// An open window asks for a fresh snapshot at once and every five minutes after, each moving the
// period's reference to that moment; once closed, it asks no more.
TEST_F(InsightsViewTest, SnapshotIsRefreshedEveryFiveMinutesWhileOpen)
{
    seed(20, 20, true);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    const auto refreshes = [&] {
        return h.store->count(FakeHistoryStore::Op::snapshot) + h.store->count(FakeHistoryStore::Op::activateAccount);
    };
    const int first = refreshes();
    ASSERT_GE(first, 1);
    const Date opened = h.clock->now();

    h.sleeper->runFor(299);
    ASSERT_TRUE(InsightsHarness::settle(*view));
    EXPECT_EQ(refreshes(), first);
    for (int period = 1; period <= 2; ++period) {
        SCOPED_TRACE(period);
        h.sleeper->runUntil(opened + 300 * period);
        ASSERT_TRUE(waitUntil([&] { return refreshes() == first + period; }));
        ASSERT_TRUE(InsightsHarness::settle(*view));
        EXPECT_DOUBLE_EQ(h.presentation->referenceDate(), opened + 300 * period);
        EXPECT_DOUBLE_EQ(view->currentRequest()->interval.end, opened + 300 * period);
    }

    view.reset();
    h.sleeper->runFor(3600);
    EXPECT_EQ(refreshes(), first + 2);
}

TEST_F(InsightsViewTest, ComputedTextsArePlainText)
{
    const std::string scope = seed(20, 20, true);
    h.coordinator->setErrorMessage(std::string("<b>Disk</b> full &amp; <i>more</i>"));
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    h.coordinator->setErrorMessage(std::string("<b>Disk</b> full &amp; <i>more</i>"));
    ASSERT_TRUE(waitUntil([&] {
        auto *text = view->findChild<QLabel *>("insightsHistoryErrorText");
        return text && text->isVisibleTo(view.get());
    }));
    for (const auto *label : view->findChildren<QLabel *>()) {
        if (label->text().contains(QStringLiteral("<b>Disk</b>"))) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
    auto *text = view->findChild<QLabel *>("insightsHistoryErrorText");
    EXPECT_EQ(text->text(), QStringLiteral("<b>Disk</b> full &amp; <i>more</i>"));
    EXPECT_EQ(text->textFormat(), Qt::PlainText);
    // Every label of the report (numbers, notices, band texts) is plain text.
    for (const auto *label : view->reportView()->findChildren<QLabel *>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
}

TEST_F(InsightsViewTest, ErrorBannerRetriesOnceAndAddsItsHeight)
{
    seed(20, 20, true);
    std::vector<std::optional<int>> heights;
    auto view = h.makeView({}, {}, [&](std::optional<int> v) { heights.push_back(v); });
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    ASSERT_FALSE(heights.empty());
    const int reportOnly = heights.back().value_or(0);

    h.coordinator->setErrorMessage(std::string("History could not be read."));
    ASSERT_TRUE(waitUntil([&] { return view->findChild<QWidget *>("insightsHistoryError")->isVisibleTo(view.get()); }));
    ASSERT_TRUE(heights.back());
    EXPECT_GT(*heights.back(), reportOnly);   // the banner's height is added to the report's

    h.store->hold(FakeHistoryStore::Op::snapshot);
    h.clock->advance(30);
    auto *retry = view->findChild<QPushButton *>("insightsRetryButton");
    retry->click();
    EXPECT_TRUE(view->isRefreshing());   // at once
    EXPECT_EQ(h.presentation->referenceDate(), h.clock->now());   // the period ends at the retry
    EXPECT_FALSE(retry->isEnabled());    // one retry at a time
    ASSERT_TRUE(waitUntil([&] { return h.store->heldCount(FakeHistoryStore::Op::snapshot) == 1; }));
    h.store->release(FakeHistoryStore::Op::snapshot);
    ASSERT_TRUE(waitUntil([&] { return !view->isRefreshing(); }));
    // The refresh stored a snapshot, which clears the error: the banner goes.
    ASSERT_TRUE(waitUntil([&] { return !view->findChild<QWidget *>("insightsHistoryError")->isVisibleTo(view.get()); }));
    EXPECT_EQ(view->state(), InsightsViewState::report);
}

TEST_F(InsightsViewTest, CollectingCardOffersTheConsentSheetAndTheRingFollows)
{
    seed(1.5, 1.5, false, true);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    ASSERT_EQ(view->state(), InsightsViewState::collecting);
    auto *ring = view->findChild<InsightsProgressRing *>();
    ASSERT_TRUE(ring);
    EXPECT_NEAR(ring->fraction(), 0.5, 0.01);
    EXPECT_EQ(ring->accessibleDescription(), QStringLiteral("50% collected"));
    auto *enable = view->findChild<QPushButton *>("enableInsightsHistoryButton");
    EXPECT_FALSE(enable->isVisibleTo(view.get()));
    // The toolbar and the indicator stay away before the unlock.
    EXPECT_FALSE(view->findChild<QWidget *>("insightsToolbar")->isVisibleTo(view.get()));
    // What a screen reader finds: the card's title as a heading, no hidden button, no unnamed
    // layered pane.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view->findChild<QLabel *>("insightsCollectingTitle"))->role(),
              QAccessible::Heading);
    std::function<void(QAccessibleInterface *)> visit = [&](QAccessibleInterface *node) {
        ASSERT_NE(node, nullptr);
        EXPECT_NE(node->object(), static_cast<QObject *>(enable)) << "a hidden button in the tree";
        EXPECT_FALSE(node->role() == QAccessible::LayeredPane && node->text(QAccessible::Name).isEmpty());
        for (int i = 0; i < node->childCount(); ++i) {
            visit(node->child(i));
        }
    };
    visit(QAccessible::queryAccessibleInterface(view.get()));
}

TEST_F(InsightsViewTest, UnlockWhileOpenShowsTheCheckmarkForTwoSeconds)
{
    const std::string scope = seed(3, 3, false);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    ASSERT_EQ(view->state(), InsightsViewState::collecting);
    // Before the unlock the indicator follows the collection but stays out of sight.
    auto *indicator = view->progressIndicator();
    EXPECT_TRUE(indicator->isIndicatorVisible());
    EXPECT_FALSE(indicator->isVisibleTo(view.get()));

    h.store->accounts[scope].configuration.insightsUnlockedAt = h.clock->now();
    runTask(h.coordinator->requestSnapshotRefresh());
    ASSERT_TRUE(waitUntil([&] { return view->state() == InsightsViewState::report; }));
    ASSERT_TRUE(indicator->completionID());
    EXPECT_TRUE(indicator->isIndicatorVisible());
    EXPECT_TRUE(indicator->isVisibleTo(view.get()));
    EXPECT_TRUE(indicator->helpText().startsWith(QStringLiteral("Initial 3-day collection complete\n")));
    h.sleeper->runFor(2.1);
    EXPECT_FALSE(indicator->completionID());
    EXPECT_FALSE(indicator->isIndicatorVisible());
}

TEST(InsightsLauncherTest, ShowingAMinimisedWindowRestoresTheSameWindow)
{
    InsightsHarness h;
    h.signIn();
    int manage = 0;
    InsightsLauncher launcher(h.coordinator.get(), h.configurationManager.get(), [&] { ++manage; }, h.services());
    launcher.show();
    QPointer<QWidget> first = launcher.window();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Insights"));
    EXPECT_EQ(first->width(), 980);
    EXPECT_EQ(first->height(), 620);
    // The size is fixed: the window cannot be dragged taller or narrower, and a new content
    // height moves both bounds.
    EXPECT_EQ(first->minimumSize(), first->maximumSize());
    launcher.reportContentHeightChanged(500);
    EXPECT_EQ(first->minimumSize(), QSize(980, 500));
    EXPECT_EQ(first->maximumSize(), QSize(980, 500));
    launcher.reportContentHeightChanged(std::nullopt);

    first->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(first->isMinimized());
    launcher.show();
    EXPECT_EQ(launcher.window(), first.data());
    EXPECT_FALSE(first->isMinimized());
    int insightsWindows = 0;
    for (auto *widget : QApplication::topLevelWidgets()) {
        insightsWindows += widget->objectName() == QStringLiteral("insightsWindow") ? 1 : 0;
    }
    EXPECT_EQ(insightsWindows, 1);

    // Reduced motion reaches the window's only animation, the collecting card's background.
    launcher.setReduceMotion(true);
    auto *background = launcher.window()->findChild<AmbientBackgroundView *>();
    ASSERT_TRUE(background);
    EXPECT_FALSE(background->isAnimating());

    // Closing drops the window and its view; the next show starts afresh at 14 days.
    launcher.view()->selectPeriod(30);
    first->close();
    ASSERT_TRUE(waitUntil([&] { return first.isNull(); }));
    EXPECT_EQ(launcher.window(), nullptr);
    launcher.show();
    ASSERT_TRUE(launcher.view());
    EXPECT_EQ(launcher.view()->selectedDays(), 14);
    EXPECT_EQ(launcher.window()->height(), 620);

    EXPECT_EQ(InsightsLauncher::fittedContentHeight(640.2, 2000, 0), 641);
    EXPECT_EQ(InsightsLauncher::fittedContentHeight(std::nullopt, 500, 30), 470);
    EXPECT_EQ(InsightsLauncher::fittedContentHeight(std::nan(""), std::nullopt, 0), 620);
}

// Run with two screens by its own ctest entry; on one screen there is nothing to move to.
TEST(InsightsLauncherScreensTest, FitsItselfToTheScreenItMovesTo)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screens.size() < 2) {
        GTEST_SKIP() << "needs two screens";
    }
    const auto byHeight = [](QScreen *a, QScreen *b) {
        return a->availableGeometry().height() < b->availableGeometry().height();
    };
    QScreen *shorter = *std::min_element(screens.begin(), screens.end(), byHeight);
    QScreen *tall = *std::max_element(screens.begin(), screens.end(), byHeight);
    ASSERT_LT(shorter->availableGeometry().height(), 620);
    ASSERT_GT(tall->availableGeometry().height(), 620);
    InsightsHarness h;
    h.signIn();
    InsightsLauncher launcher(h.coordinator.get(), h.configurationManager.get(), [] {}, h.services());
    launcher.show();
    QWidget *window = launcher.window();
    window->windowHandle()->setScreen(tall);
    ASSERT_EQ(window->screen(), tall);
    EXPECT_EQ(window->height(), 620);

    window->windowHandle()->setScreen(shorter);
    ASSERT_EQ(window->screen(), shorter);
    EXPECT_LE(window->frameGeometry().height(), shorter->availableGeometry().height());
    EXPECT_EQ(window->minimumHeight(), window->maximumHeight());

    window->windowHandle()->setScreen(tall);
    EXPECT_EQ(window->height(), 620);
}

TEST_F(InsightsViewTest, SheetsOpenWindowModalWithoutANestedLoop)
{
    seed(20, 20, true);
    auto view = h.makeView();
    view->show();
    ASSERT_TRUE(InsightsHarness::settle(*view));
    view->findChild<QToolButton *>("insightsAboutButton")->click();
    auto *explanation = view->explanationSheet();
    ASSERT_TRUE(explanation);
    EXPECT_TRUE(explanation->isVisible());
    EXPECT_EQ(explanation->windowModality(), Qt::WindowModal);
    EXPECT_EQ(explanation->objectName(), QStringLiteral("insightsExplanation"));
    explanation->findChild<QPushButton *>("insightsExplanationDoneButton")->click();
    ASSERT_TRUE(waitUntil([&] { return view->explanationSheet() == nullptr; }));
}

// The consent sheet over the real coordinator and store, in a temporary folder.
TEST(HistoryEnableDisclosureTest, EnableSavingTurnsSavingOnThroughTheRealCoordinator)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QTemporaryDir temp;
    const auto root = std::filesystem::path(temp.path().toStdString()) / "Quillby" / "History";
    auto keyring = std::make_shared<FakeKeyring>();
    auto clock = std::make_shared<FakeClock>(1'800'000'000.0);
    AppNotifications notifications;
    ConfigurationManager configurationManager(
        std::make_shared<FakeKeychainItemStore>(),
        std::make_shared<QSettings>(temp.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat),
        QLocale(QLocale::English, QLocale::UnitedStates), clock, std::make_shared<EventLoopSleeper>(), notifications);
    auto store = std::make_shared<GlucoseHistoryStore>(root, legacyHistoryKeychain(keyring), historyKeychainFactory(keyring),
                                                       &insightsMinimumDatasetReached);
    HistoryCoordinator coordinator(store, configurationManager, clock, std::make_shared<VirtualTimeSleeper>(*clock));

    // Before the first snapshot: 90 days, and nothing can be enabled.
    {
        HistoryEnableDisclosureView sheet(&coordinator, true, QUrl());
        EXPECT_EQ(sheet.retentionDays(), 90);
        EXPECT_FALSE(sheet.enableButton()->isEnabled());
    }
    const auto account = testAccount();
    runTask(configurationManager.updateConfiguration([account](const std::optional<AppConfiguration> &c) {
        return ConfigurationManager::configurationWithAccount(c, account, "mg/dL");
    }));
    runTask(coordinator.selectAccountScope());
    ASSERT_TRUE(coordinator.snapshot());
    ASSERT_FALSE(coordinator.snapshot()->configuration.isEnabled);

    // Signed out: disabled; Cancel closes and changes nothing.
    {
        HistoryEnableDisclosureView sheet(&coordinator, false, QUrl());
        EXPECT_FALSE(sheet.enableButton()->isEnabled());
        sheet.open();
        sheet.cancelButton()->click();
        EXPECT_FALSE(sheet.isVisible());
    }
    runTask(coordinator.setRetentionDays(30));
    QWidget parent;
    parent.show();
    auto *sheet = new HistoryEnableDisclosureView(&coordinator, true, QUrl(), &parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<HistoryEnableDisclosureView> guard(sheet);
    EXPECT_TRUE(sheet->findChild<QLabel *>("historyRetentionText")->text().startsWith(QStringLiteral("History is kept for 30 days.")));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    sheet->open();
    ASSERT_TRUE(sheet->enableButton()->isEnabled());
    sheet->enableButton()->click();
    EXPECT_FALSE(guard && guard->isVisible());   // closed at once, before saving is on
    ASSERT_TRUE(waitUntil([&] { return coordinator.snapshot() && coordinator.snapshot()->configuration.isEnabled; }));
    EXPECT_EQ(coordinator.errorMessage(), std::nullopt);
    EXPECT_TRUE(coordinator.collectionToken(HistoryCoordinator::accountScope(account)));
    EXPECT_TRUE(std::filesystem::exists(root / "accounts"));
}

} // namespace
} // namespace quillby::test
