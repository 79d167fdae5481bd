#include "MenubarTestSupport.h"
#include "menubar/StatusBarController.h"
#include "menubar/StatusBarIconRenderer.h"
#include "menubar/StatusBarPanel.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <functional>
#include <QMenu>
#include <QTimeZone>
#include <set>
#include <gtest/gtest.h>

using namespace quillby;
using namespace quillby::test;

namespace {

// The waiting icon's turning, one step at a time when the test says so.
class SteppedAnimationTicker final : public AnimationTicker {
public:
    void start(std::function<void()> onTick) override
    {
        onTick_ = std::move(onTick);
        active_ = true;
    }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }
    // One animation step (250 ms in production), when the ticker runs.
    void step()
    {
        if (active_ && onTick_) {
            onTick_();
        }
    }

private:
    std::function<void()> onTick_;
    bool active_ = false;
};

class StatusBarControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        config.manager.setHasCompletedOnboarding(true);
        model = std::make_unique<StatusBarViewModel>(
            config.manager, updates, config.clock, sleeper,
            [this](StatusBarViewModel &vm) -> std::unique_ptr<StatusItemControlling> {
                StatusBarController::Options options;
                options.isTrayAvailable = [this] { return trayAvailable; };
                options.formatter = StatusDateFormatter(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());
                options.animationTicker = ticker;
                return std::make_unique<StatusBarController>(vm, options);
            });
        drainEvents();
    }
    StatusBarController &controller() { return static_cast<StatusBarController &>(model->controller()); }
    Date now() const { return config.clock->now(); }

    QStringList menuTexts()
    {
        QStringList texts;
        for (QAction *action : controller().menu()->actions()) {
            texts.append(action->isSeparator() ? QStringLiteral("---") : action->text());
        }
        return texts;
    }
    QAction *menuAction(const QString &name)
    {
        for (QAction *action : controller().menu()->actions()) {
            if (action->objectName() == name) {
                return action;
            }
        }
        return nullptr;
    }

    bool trayAvailable = false;
    ConfigurationFixture config;
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*config.clock);
    FakeUpdateAvailability updates;
    std::shared_ptr<SteppedAnimationTicker> ticker = std::make_shared<SteppedAnimationTicker>();
    std::unique_ptr<StatusBarViewModel> model;
};

} // namespace

TEST_F(StatusBarControllerTest, WithoutTrayHostAStatusWindowHoldsThePanelUntilAHostAppears)
{
    StatusBarController &c = controller();
    ASSERT_TRUE(c.hasStatusItem());
    EXPECT_FALSE(c.isDocked());
    ASSERT_NE(c.statusWindow(), nullptr);
    EXPECT_TRUE(c.statusWindow()->isVisible());
    EXPECT_TRUE(c.statusWindow()->isAncestorOf(c.panel()));
    EXPECT_TRUE(c.isMenuOpen());   // the status window counts as an open menu

    trayAvailable = true;
    c.checkTrayHost();
    EXPECT_TRUE(c.isDocked());
    EXPECT_FALSE(c.statusWindow()->isVisible());
    EXPECT_TRUE(c.popup()->isAncestorOf(c.panel()));
    EXPECT_FALSE(c.isMenuOpen());

    c.showPopup(QPoint(100, 10));
    EXPECT_TRUE(c.popup()->isVisible());
    EXPECT_TRUE(c.isMenuOpen());

    trayAvailable = false;
    c.checkTrayHost();
    EXPECT_FALSE(c.popup()->isVisible());
    EXPECT_TRUE(c.statusWindow()->isVisible());
}

TEST_F(StatusBarControllerTest, IconShowsMarkWhileWaitingThenTitleWithBadge)
{
    StatusBarController &c = controller();
    EXPECT_EQ(c.iconContent().iconState, StatusBarIconState::waiting);
    EXPECT_EQ(c.statusWindow()->windowTitle(), "Quillby");

    // A warning shows no badge while the icon is shown...
    model->setError(ErrorInfo{"Sign in required", "m", "r"});
    EXPECT_EQ(c.iconContent().iconState, StatusBarIconState::attention);
    EXPECT_EQ(c.iconContent().indicator, StatusIndicator::none);

    // ...and the badge comes back with the title.
    model->present(GlucoseReading(60, "SingleDown", now() - 60), now());
    const StatusBarIconContent content = c.iconContent();
    EXPECT_FALSE(content.iconState);
    EXPECT_EQ(content.title, "3.3 ↓");
    EXPECT_EQ(content.style, StatusStyle::low);
    EXPECT_EQ(content.indicator, StatusIndicator::warning);
    EXPECT_EQ(c.statusWindow()->windowTitle(), "3.3 ↓ – Quillby");
    EXPECT_EQ(c.trayIcon()->toolTip(), c.accessibilityValue());
    // The graph holds no readings yet, so the title leads the spoken text.
    EXPECT_EQ(c.accessibilityValue(), "3.3 ↓. No glucose readings available. Sign in required.");
}

TEST_F(StatusBarControllerTest, TooltipIsTheSpokenStatus)
{
    StatusBarController &c = controller();
    model->updateGlucoseHistory({GlucoseReading(99, "Flat", now() - 60)});
    model->present(GlucoseReading(99, "Flat", now() - 60), now());
    model->refreshStatusItem();
    EXPECT_EQ(c.trayIcon()->toolTip(), "Current glucose: 5.5 millimoles per liter, in range, steady.");
    EXPECT_EQ(c.panel()->accessibleDescription(), c.trayIcon()->toolTip());
    EXPECT_TRUE(c.graphView()->accessibleName().startsWith("Glucose graph, last 6 hours. Current glucose: 5.5"));
}

TEST_F(StatusBarControllerTest, PlainMenuMirrorsTheMenuModel)
{
    StatusBarController &c = controller();
    model->updateGlucoseHistory({GlucoseReading(99, "Flat", now() - 60)});
    model->setNextRetryAt(now() + 30);
    model->setError(ErrorInfo{"Network error", "Unable to connect to Dexcom servers.",
                              "Check your internet connection and try again."});
    model->setNextRetryAt(now() + 30);
    model->rebuildMenuIfBuilt();

    const QStringList texts = menuTexts();
    ASSERT_GE(texts.size(), 8);
    EXPECT_TRUE(texts[0].startsWith("5.5 → mmol/L · Last reading: "));
    EXPECT_EQ(texts.mid(1, 6), (QStringList{"---", "Network error", "Unable to connect to Dexcom servers.",
                                            "Check your internet connection and try again.",
                                            "Next retry at " + c.menuModel().formatter().preciseTime(now() + 30),
                                            "---"}));
    EXPECT_EQ(texts.mid(texts.size() - 3), (QStringList{"Insights", "Settings", "Quit"}));
    EXPECT_FALSE(menuAction("statusAlertNotice")->isEnabled());
    EXPECT_EQ(menuAction("quitButton")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(menuAction("settingsButton")->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));

    std::vector<double> snoozes;
    model->snoozeAlertsAction = [&](double seconds) { snoozes.push_back(seconds); };
    menuAction("snoozeAlerts2HoursButton")->trigger();
    EXPECT_EQ(snoozes, std::vector<double>{7200});
}

// Panels may show the exported menu from a copy taken earlier, without asking first
// (AboutToShow): the closed menu's entries follow each poll as the poller writes it.
TEST_F(StatusBarControllerTest, ClosedMenuFollowsEveryPollWithoutBeingOpened)
{
    StatusBarController &c = controller();
    trayAvailable = true;
    c.checkTrayHost();
    ASSERT_FALSE(c.isMenuOpen());
    // One poll as the poller makes it: present the newest, then hand over the graph list.
    const GlucoseReading first(99, "Flat", now() - 60);
    model->present(first, now());
    model->updateGlucoseHistory({first});
    EXPECT_TRUE(menuTexts()[0].startsWith("5.5 → mmol/L · Last reading: ")) << menuTexts()[0].toStdString();

    config.clock->advance(300);
    const GlucoseReading second(140, "Flat", now() - 30);
    model->present(second, now());
    model->updateGlucoseHistory({first, second});
    EXPECT_TRUE(menuTexts()[0].startsWith("7.8 → mmol/L · Last reading: ")) << menuTexts()[0].toStdString();

    // A failed poll: its retry time reaches the closed menu as well.
    model->setError(ErrorInfo{"Network error", "Unable to connect to Dexcom servers.", ""});
    model->setNextRetryAt(now() + 30);
    model->rebuildMenuIfBuilt();
    EXPECT_TRUE(menuTexts().contains("Next retry at " + c.menuModel().formatter().preciseTime(now() + 30)));
}

// The popup panel is among the application's windows while it is shown, as a client walking
// the tree from the application finds it: the graph as one image named by its spoken label,
// the entries as buttons named by their text.
TEST_F(StatusBarControllerTest, PopupPanelIsInTheAccessibilityTreeWhileShown)
{
    StatusBarController &c = controller();
    trayAvailable = true;
    c.checkTrayHost();
    ASSERT_TRUE(c.isDocked());
    const auto listed = [&] {
        QAccessibleInterface *application = QAccessible::queryAccessibleInterface(qApp);
        for (int i = 0; i < application->childCount(); ++i) {
            if (application->child(i)->object() == c.popup()) {
                EXPECT_EQ(application->indexOfChild(application->child(i)), i);
                return application->child(i);
            }
        }
        return static_cast<QAccessibleInterface *>(nullptr);
    };
    EXPECT_EQ(listed(), nullptr);

    c.showPopup(QPoint(100, 10));
    ASSERT_TRUE(c.popup()->isVisible());
    QAccessibleInterface *popup = listed();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->text(QAccessible::Name), QStringLiteral("Quillby"));
    QAccessibleInterface *graph = nullptr;
    QStringList buttons;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        if (node->object() == c.graphView()) {
            graph = node;
        }
        if (node->role() == QAccessible::Button) {
            buttons.append(node->text(QAccessible::Name));
        }
        for (int i = 0; i < node->childCount(); ++i) {
            walk(node->child(i));
        }
    };
    walk(popup);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->role(), QAccessible::Graphic);
    EXPECT_EQ(graph->text(QAccessible::Name), c.graphView()->accessibleName());
    EXPECT_FALSE(graph->text(QAccessible::Name).isEmpty());
    EXPECT_TRUE(buttons.contains(QStringLiteral("Settings"))) << buttons.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Quit"))) << buttons.join(QLatin1Char('|')).toStdString();

    c.popup()->hide();
    EXPECT_EQ(listed(), nullptr);
}

TEST_F(StatusBarControllerTest, PanelEntriesRunTheSameActions)
{
    StatusBarController &c = controller();
    int settings = 0;
    model->settingsAction = [&] { ++settings; };
    auto *entry = c.panel()->findChild<StatusBarPanelEntry *>(QStringLiteral("settingsButton"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->accessibleName(), "Settings");
    entry->click();
    EXPECT_EQ(settings, 1);

    // A snooze in force shows its end and the resume entry instead of the snooze entries.
    model->setAlertsSnoozedUntil(now() + 1800);
    model->rebuildMenuIfBuilt();
    drainEvents();
    EXPECT_NE(c.panel()->findChild<StatusBarPanelEntry *>(QStringLiteral("resumeAlertsButton")), nullptr);
    auto *snoozed = c.panel()->findChild<StatusBarPanelEntry *>(QStringLiteral("alertsSnoozedValue"));
    ASSERT_NE(snoozed, nullptr);
    EXPECT_FALSE(snoozed->isEnabled());
    EXPECT_EQ(c.panel()->findChild<StatusBarPanelEntry *>(QStringLiteral("snoozeAlerts30MinutesButton")), nullptr);
}

TEST_F(StatusBarControllerTest, OpeningTheMenuEvaluatesTheNewestReadingAgain)
{
    StatusBarController &c = controller();
    model->updateGlucoseHistory({GlucoseReading(99, "Flat", now() - 60)});
    model->present(GlucoseReading(99, "Flat", now() - 60), now());
    EXPECT_EQ(model->statusTitle(), "5.5 →");
    config.clock->advance(1000);
    emit c.menu()->aboutToShow();
    EXPECT_EQ(model->statusTitle(), "5.5 ?");
    EXPECT_TRUE(c.isMenuOpen());
    EXPECT_EQ(c.menuEntries()[2].kind, StatusBarMenuEntry::Kind::alertRow);
    emit c.menu()->aboutToHide();
}

TEST_F(StatusBarControllerTest, ShownGraphAgesWithTheTitle)
{
    // No tray host: the status window keeps the panel, graph included, on screen.
    StatusBarController &c = controller();
    ASSERT_TRUE(c.statusWindow()->isVisible());
    const GlucoseReading newest(99, "Flat", now() - 60);
    model->updateGlucoseHistory({newest});
    model->present(newest, now());
    EXPECT_TRUE(c.graphView()->accessibleName().contains("Current glucose: 5.5 millimoles per liter"));

    // The freshness check turns the title stale 900 s after the reading; the graph follows.
    ASSERT_FALSE(sleeper->requests.empty());
    const Date shown = now();
    ASSERT_TRUE(sleeper->runNext());
    EXPECT_DOUBLE_EQ(now(), shown + 840);
    ASSERT_TRUE(waitUntil([&] { return model->statusTitle() == "5.5 ?"; }));
    EXPECT_TRUE(c.graphView()->accessibleName().contains(
        "Stale glucose reading. Last known glucose: 5.5 millimoles per liter. Trend unavailable."))
        << c.graphView()->accessibleName().toStdString();
}

TEST_F(StatusBarControllerTest, WaitingArcTurnsUnlessMotionIsReduced)
{
    StatusBarController &c = controller();
    // Still means no turn across a full round of animation steps.
    auto turnsSeen = [&c, this] {
        std::set<double> turns;
        for (int step = 0; step < 4; ++step) {
            turns.insert(c.iconContent().waitingTurn);
            ticker->step();
            drainEvents();
        }
        turns.insert(c.iconContent().waitingTurn);
        return turns.size();
    };
    const double first = c.iconContent().waitingTurn;
    ticker->step();
    drainEvents();
    EXPECT_NE(c.iconContent().waitingTurn, first) << "the waiting arc never turned";
    c.setReduceMotion(true);
    EXPECT_EQ(turnsSeen(), 1u);
    EXPECT_EQ(c.iconContent().waitingTurn, 0);
    c.setReduceMotion(false);
    model->setError(ErrorInfo{"Offline", "m", "r"});   // attention: nothing turns
    EXPECT_EQ(turnsSeen(), 1u);
}

TEST(StatusBarIconRenderer, StaleMarkIsDrawnAsSolidlyAsATrendArrow)
{
    // Pixels of full ink colour in the lower row, left of the badge dot: a mark made of a pixel
    // or two of ink and a grey fringe cannot be read on a 22-pixel panel (arrows have 17 or more).
    auto solidInk = [](const StatusBarIconContent &content, int size) {
        const QImage image = StatusBarIconRenderer::render(content, size);
        const QColor ink = StatusBarIconRenderer::textColor(content.style);
        int count = 0;
        for (int y = size * 12 / 22; y < size; ++y) {
            for (int x = 0; x < size * 15 / 22; ++x) {
                const QColor p = image.pixelColor(x, y);
                count += std::abs(p.red() - ink.red()) + std::abs(p.green() - ink.green())
                        + std::abs(p.blue() - ink.blue()) < 60;
            }
        }
        return count;
    };
    struct Case {
        const char *title;
        StatusStyle style;
    };
    const Case cases[] = {{"6.8 ?", StatusStyle::normal}, {"-- ?", StatusStyle::normal}, {"288 ?", StatusStyle::high}};
    for (const Case &c : cases) {
        for (int size : {22, 24}) {
            StatusBarIconContent content;
            content.title = QString::fromUtf8(c.title);
            content.style = c.style;
            content.indicator = StatusIndicator::warning;
            EXPECT_GE(solidInk(content, size), 5) << c.title << " at " << size;
        }
    }
}

TEST(StatusBarIconRenderer, TilesTakeTheStatusColours)
{
    auto tileAt = [](const StatusBarIconContent &content, int size) {
        return StatusBarIconRenderer::render(content, size).pixelColor(size / 2, 0);
    };
    for (int size : {22, 44}) {
        StatusBarIconContent content;
        content.title = QStringLiteral("3.1 ↓↓");
        content.style = StatusStyle::low;
        EXPECT_EQ(tileAt(content, size).rgb(), QColor(255, 59, 48).rgb()) << size;
        content.style = StatusStyle::high;
        EXPECT_EQ(tileAt(content, size).rgb(), StatusBarIconRenderer::tileColor(StatusStyle::high).rgb()) << size;
        const QImage image = StatusBarIconRenderer::render(content, size);
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);   // rounded corner
    }
    StatusBarIconContent waiting;
    waiting.iconState = StatusBarIconState::waiting;
    waiting.indicator = StatusIndicator::warning;
    EXPECT_NE(StatusBarIconRenderer::render(waiting, 22), StatusBarIconRenderer::render({}, 22));
}

TEST(StatusBarIconRenderer, DecimalPointStaysClearOfTheTrendMark)
{
    // Between the value and the trend mark there are at least two rows without ink at every
    // panel size, so the decimal point never joins the arrow ("7.3" read as "73").
    const auto clearRowsBetween = [](const StatusBarIconContent &content, int size) {
        const QImage image = StatusBarIconRenderer::render(content, size);
        const QColor tile = StatusBarIconRenderer::tileColor(content.style);
        const QColor ink = StatusBarIconRenderer::textColor(content.style);
        const auto distance = [](const QColor &a, const QColor &b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
        };
        std::vector<bool> inked(size, false);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor p = image.pixelColor(x, y);
                inked[y] = inked[y] || (p.alpha() > 128 && distance(p, tile) * 5 > distance(ink, tile));
            }
        }
        // The value's rows come first; count the clear rows up to the next inked one.
        int y = 0;
        while (y < size && !inked[y]) {
            ++y;
        }
        while (y < size && inked[y]) {
            ++y;
        }
        int clear = 0;
        while (y < size && !inked[y]) {
            ++clear;
            ++y;
        }
        return y < size ? clear : 0;
    };
    const char *titles[] = {"7.3 ↑", "7.3 →", "7.3 ↗", "7.3 ↘", "7.3 ↓↓", "14.2 ↑↑", "6.8 ?", "123 ↓"};
    for (const int size : {16, 22, 24, 32, 44}) {
        for (const char *title : titles) {
            StatusBarIconContent content;
            content.title = QString::fromUtf8(title);
            EXPECT_GE(clearRowsBetween(content, size), 2) << title << " at " << size << " px";
        }
    }
}

TEST(StatusBarIconRenderer, IconIsDrawnForTheScreensPixels)
{
    // A panel on a 2x screen asks for twice the pixels: it gets an image drawn at that size.
    StatusBarIconContent content;
    content.title = QStringLiteral("7.3 ↗");
    const QIcon icon = StatusBarIconRenderer::icon(content);
    for (const int size : {16, 22, 24}) {
        for (const int ratio : {1, 2}) {
            const QPixmap pixmap = icon.pixmap(QSize(size, size), ratio);
            EXPECT_EQ(pixmap.size(), QSize(size, size) * ratio) << size << "@" << ratio;
            EXPECT_EQ(pixmap.devicePixelRatio(), ratio) << size << "@" << ratio;
            EXPECT_EQ(pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                      StatusBarIconRenderer::render(content, size * ratio))
                << size << "@" << ratio;
        }
    }
}
