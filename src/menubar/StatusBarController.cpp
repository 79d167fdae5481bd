#include "menubar/StatusBarController.h"
#include "menubar/TimerAnimationTicker.h"

#include "core/GlucoseThresholdSetting.h"
#include "platform/WindowPlacement.h"

#include "menubar/GlucoseGraphView.h"
#include "menubar/MainThread.h"
#include "menubar/StatusBarAccessibility.h"
#include "menubar/StatusBarPanel.h"
#include "menubar/StatusBarSymbols.h"
#include "menubar/StatusBarViewModel.h"
#include "platform/TrayHostMonitor.h"

#include <QAction>
#include <algorithm>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace quillby {

namespace {

const QString kProductName = QStringLiteral("Quillby");
const QString kButtonHelp =
    QStringLiteral("Shows the latest glucose reading. Open the menu for the graph and settings.");

// A top-level container that holds the panel with no margins and sizes itself to it.
std::unique_ptr<QWidget> makeContainer(Qt::WindowFlags flags, const QString &objectName)
{
    auto container = std::make_unique<QWidget>(nullptr, flags);
    container->setObjectName(objectName);
    auto *layout = new QVBoxLayout(container.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    return container;
}

} // namespace

StatusBarController::StatusBarController(StatusBarViewModel &viewModel) : StatusBarController(viewModel, Options{}) {}

StatusBarController::StatusBarController(StatusBarViewModel &viewModel, Options options)
    : viewModel_(viewModel), options_(std::move(options)), menuModel_(options_.formatter)
{
    requireMainThread("StatusBarController");
    if (!options_.isTrayAvailable) {
        trayHostMonitor_ = new TrayHostMonitor(QDBusConnection::sessionBus(), TrayHostMonitor::kStatusNotifierWatcher,
                                               QGuiApplication::platformName() == QLatin1String("xcb"), this);
        connect(trayHostMonitor_, &TrayHostMonitor::availabilityChanged, this, &StatusBarController::checkTrayHost);
        TrayHostMonitor *monitor = trayHostMonitor_;
        options_.isTrayAvailable = [monitor] { return monitor->isAvailable(); };
    }
}

StatusBarController::~StatusBarController()
{
    if (animationTicker_) {
        animationTicker_->stop();   // a ticker shared with a test must not call back into this
    }
    // The panel lives in one of the two containers and goes with it.
    popup_.reset();
    statusWindow_.reset();
    menu_.reset();
}

GlucoseGraphView *StatusBarController::graphView() const
{
    return panel_ ? panel_->graphView() : nullptr;
}

void StatusBarController::setUp()
{
    requireMainThread("StatusBarController::setUp");
    if (trayIcon_) {
        return;
    }
    trayIcon_ = new QSystemTrayIcon(this);
    trayIcon_->setObjectName(QStringLiteral("statusBarButton"));
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &StatusBarController::onTrayActivated);

    menu_ = std::make_unique<QMenu>();
    menu_->setObjectName(QStringLiteral("statusBarMenu"));
    menu_->setTitle(kProductName);
    connect(menu_.get(), &QMenu::aboutToShow, this, &StatusBarController::onMenuAboutToShow);
    connect(menu_.get(), &QMenu::aboutToHide, this, [this] { menuOpen_ = false; });
    trayIcon_->setContextMenu(menu_.get());

    // Wayland has no popup without a parent window: there the panel is a frameless tool window
    // that closes when it loses focus, placed by the compositor.
    const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    popup_ = makeContainer(wayland ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                   : Qt::Popup | Qt::FramelessWindowHint,
                           QStringLiteral("statusBarPopup"));
    popup_->setAccessibleName(kProductName);
    listAsAccessibleWindow(popup_.get());
    if (wayland) {
        popup_->installEventFilter(this);
    }
    // A hairline border, so the frameless popup stands apart from windows of the same colour.
    popup_->layout()->setContentsMargins(1, 1, 1, 1);
    popup_->setAutoFillBackground(true);
    popup_->setBackgroundRole(QPalette::Mid);
    statusWindow_ = makeContainer(Qt::Window, QStringLiteral("statusWindow"));
    statusWindow_->setWindowTitle(kProductName);
    statusWindow_->setAccessibleName(kProductName);
    statusWindow_->setAccessibleDescription(kButtonHelp);

    panel_ = new StatusBarPanel(viewModel_.clock(), options_.formatter);
    panel_->setFocusPolicy(Qt::StrongFocus);
    connect(panel_, &StatusBarPanel::actionTriggered, this, &StatusBarController::onAction);
    applySettings(*panel_->graphView());
    panel_->graphView()->setGlucoseHistory(viewModel_.glucoseHistory());

    animationTicker_ = options_.animationTicker ? options_.animationTicker
                                                : std::make_shared<TimerAnimationTicker>(std::chrono::milliseconds(250));

    updateTitle(viewModel_.statusTitle());
    setAccessibilityValue(spokenStatus());
    rebuildMenu();
    updateIndicator();

    docked_ = !options_.isTrayAvailable();   // so that dock() below always acts
    dock(!docked_);
}

QString StatusBarController::spokenStatus() const
{
    return viewModel_.statusAccessibilityText(viewModel_.statusTitle(), viewModel_.clock()->now());
}

StatusBarIconContent StatusBarController::iconContent() const
{
    StatusBarIconContent content;
    if (viewModel_.iconState()) {
        content.iconState = viewModel_.iconState();
        content.waitingTurn = *content.iconState == StatusBarIconState::waiting ? waitingTurn_ : 0;
        return content;
    }
    content.title = shownTitle_;
    content.style = viewModel_.titleStyle();
    content.indicator = viewModel_.indicatorState();
    return content;
}

void StatusBarController::updateTitle(const QString &title)
{
    if (!trayIcon_) {
        return;
    }
    shownTitle_ = title;
    statusWindow_->setWindowTitle(title.isEmpty() ? kProductName : title + QStringLiteral(" – ") + kProductName);
    renderIcon();
    // The graph's value block and spoken label age with the reading just like the title; the
    // popup or the status window may be showing them when the freshness check turns it stale.
    if (GlucoseGraphView *graph = graphView()) {
        graph->refreshAccessibilityText();
        graph->update();
    }
    updateIndicator();
}

void StatusBarController::updateIndicator()
{
    if (!trayIcon_) {
        return;
    }
    setAccessibilityValue(spokenStatus());
    renderIcon();
}

void StatusBarController::setAccessibilityValue(const QString &text)
{
    if (!trayIcon_) {
        return;
    }
    accessibilityValue_ = text;
    trayIcon_->setToolTip(text);
    // Only a change is reported: each report reaches screen readers, and a burst of them as
    // readings arrive makes Orca drop announcements it has not spoken yet.
    if (panel_ && panel_->accessibleDescription() != text) {
        panel_->setAccessibleDescription(text);
    }
}

void StatusBarController::renderIcon()
{
    const StatusBarIconContent content = iconContent();
    if (renderedContent_ != content) {
        renderedContent_ = content;
        const QIcon icon = StatusBarIconRenderer::icon(content);
        trayIcon_->setIcon(icon);
        statusWindow_->setWindowIcon(icon);
    }
    updateAnimation();
}

void StatusBarController::updateAnimation()
{
    const bool visible = docked_ || (statusWindow_ && statusWindow_->isVisible());
    const bool turning = visible && !reduceMotion_ && viewModel_.iconState() == StatusBarIconState::waiting;
    if (turning && !animationTicker_->isActive()) {
        animationTicker_->start([this] {
            waitingTurn_ = waitingTurn_ >= 0.75 ? 0 : waitingTurn_ + 0.25;
            renderIcon();
        });
    } else if (!turning && animationTicker_->isActive()) {
        animationTicker_->stop();
        waitingTurn_ = 0;
    }
}

void StatusBarController::setReduceMotion(bool reduce)
{
    reduceMotion_ = reduce;
    if (trayIcon_) {
        if (reduce) {
            waitingTurn_ = 0;
        }
        renderIcon();
    }
}

void StatusBarController::applySettings(GlucoseGraphView &graph) const
{
    const ConfigurationManager &manager = viewModel_.configurationManager();
    const auto &configuration = manager.configuration();
    graph.setLowThreshold(configuration ? configuration->app.lowGlucoseThreshold : GlucoseThresholds::low.defaultValue);
    graph.setHighThreshold(configuration ? configuration->app.highGlucoseThreshold : GlucoseThresholds::high.defaultValue);
    graph.setMeasurementUnit(QString::fromStdString(manager.appSettings().measurementUnit));
    graph.setTimeWindow(graph_window::fromHours(manager.graphTimeWindowHours()));
    graph.refreshAccessibilityText();
    graph.update();
}

void StatusBarController::refreshGraph()
{
    if (trayIcon_) {
        setAccessibilityValue(spokenStatus());
    }
    if (GlucoseGraphView *graph = graphView()) {
        graph->setGlucoseHistory(viewModel_.glucoseHistory());
        applySettings(*graph);
        graph->repaint();
    }
}

bool StatusBarController::isMenuOpen() const
{
    return menuOpen_ || (popup_ && popup_->isVisible()) || (statusWindow_ && statusWindow_->isVisible());
}

void StatusBarController::rebuildMenu()
{
    if (!menu_) {
        return;
    }
    std::vector<StatusBarMenuEntry> entries = menuModel_.entries(viewModel_.menuState(), viewModel_.clock()->now());
    // The menu is rebuilt on every change of the state, open or not; an exported menu is sent
    // to the panel again only when what it shows has changed.
    if (entries == entries_ && !menu_->actions().isEmpty()) {
        return;
    }
    entries_ = std::move(entries);
    fillMenu(entries_);
    if (panel_) {
        panel_->setEntries(entries_);
    }
}

void StatusBarController::fillMenu(const std::vector<StatusBarMenuEntry> &entries)
{
    // An entry's own action may lead here (a hook that updates the view model at once), so
    // the old actions are deleted later rather than from under the running signal.
    for (QAction *old : menu_->actions()) {
        menu_->removeAction(old);
        old->deleteLater();
    }
    const QColor secondary = menu_->palette().color(QPalette::Disabled, QPalette::WindowText);
    auto addInfo = [this](const QString &text, const QString &name, const QIcon &icon = {}) {
        QAction *action = menu_->addAction(icon, text);
        action->setEnabled(false);
        action->setObjectName(name);
        return action;
    };
    for (const StatusBarMenuEntry &entry : entries) {
        switch (entry.kind) {
        case StatusBarMenuEntry::Kind::graph:
            addInfo(entry.text, QStringLiteral("glucoseSummaryValue"));
            break;
        case StatusBarMenuEntry::Kind::separator:
            menu_->addSeparator();
            break;
        case StatusBarMenuEntry::Kind::alertRow: {
            if (!entry.alert) {
                break;
            }
            // Exported menus carry plain entries only: one line per part of the row.
            addInfo(QString::fromStdString(entry.alert->title), entry.objectName,
                    statusBarSymbolIcon(StatusBarSymbol::warningTriangle, secondary));
            addInfo(QString::fromStdString(entry.alert->message), entry.objectName + QStringLiteral("Message"));
            if (!entry.alert->remediation.empty()) {
                addInfo(QString::fromStdString(entry.alert->remediation), entry.objectName + QStringLiteral("Remedy"),
                        statusBarSymbolIcon(StatusBarSymbol::arrowRight, secondary));
            }
            if (!entry.retryText.isEmpty()) {
                addInfo(entry.retryText, entry.objectName + QStringLiteral("Retry"),
                        statusBarSymbolIcon(StatusBarSymbol::arrowClockwise, secondary));
            }
            break;
        }
        case StatusBarMenuEntry::Kind::action: {
            QAction *action = menu_->addAction(entry.text);
            action->setObjectName(entry.objectName);
            action->setEnabled(entry.enabled);
            if (!entry.shortcutKey.isEmpty()) {
                action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") + entry.shortcutKey.toUpper()));
                action->setShortcutVisibleInContextMenu(true);
            }
            const StatusBarMenuAction what = entry.action;
            connect(action, &QAction::triggered, this, [this, what] { onAction(what); });
            break;
        }
        }
    }
}

void StatusBarController::prepareForOpening()
{
    viewModel_.prepareForMenuOpen();
    rebuildMenu();
    refreshGraph();
}

void StatusBarController::onMenuAboutToShow()
{
    requireMainThread("StatusBarController::menuWillOpen");
    menuOpen_ = true;
    prepareForOpening();
}

void StatusBarController::onAction(StatusBarMenuAction action)
{
    requireMainThread("StatusBarController::onAction");
    if (popup_ && popup_->isVisible()) {
        popup_->hide();
    }
    viewModel_.performMenuAction(action);
}

bool StatusBarController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == popup_.get() && event->type() == QEvent::WindowDeactivate) {
        popup_->hide();
    }
    return QObject::eventFilter(watched, event);
}

void StatusBarController::onTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger) {
        return;
    }
    QPoint anchor = QCursor::pos();
    const QRect geometry = trayIcon_->geometry();
    if (geometry.isValid() && !geometry.isEmpty()) {
        anchor = geometry.center();
    }
    togglePopup(anchor);
}

void StatusBarController::togglePopup(QPoint anchor)
{
    if (popup_ && popup_->isVisible()) {
        popup_->hide();
        return;
    }
    showPopup(anchor);
}

void StatusBarController::showPopup(QPoint anchor)
{
    if (!popup_ || !panel_ || !docked_) {
        return;
    }
    prepareForOpening();
    popup_->adjustSize();
    const QSize size = popup_->sizeHint();
    QScreen *screen = QGuiApplication::screenAt(anchor);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size);
    // Open away from the panel's edge: below an icon in the upper half, above one in the lower.
    int y = anchor.y() < available.center().y() ? anchor.y() + 12 : anchor.y() - 12 - size.height();
    int x = anchor.x() - size.width() / 2;
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() - size.width() + 1));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() - size.height() + 1));
    if (canPlaceWindows()) {   // on Wayland the compositor places it
        popup_->move(x, y);
    }
    popup_->show();
    popup_->activateWindow();
    panel_->setFocus(Qt::PopupFocusReason);
}

void StatusBarController::showPanel()
{
    if (!trayIcon_) {
        return;
    }
    if (docked_) {
        showPopup(QCursor::pos());
        return;
    }
    prepareForOpening();
    statusWindow_->show();
    statusWindow_->raise();
    statusWindow_->activateWindow();
}

bool StatusBarController::showStatusWindowIfUndocked()
{
    if (!trayIcon_ || docked_) {
        return false;
    }
    showPanel();
    return true;
}

void StatusBarController::checkTrayHost()
{
    if (!trayIcon_) {
        return;
    }
    const bool available = options_.isTrayAvailable();
    if (available != docked_) {
        dock(available);
    }
}

void StatusBarController::dock(bool docked)
{
    docked_ = docked;
    auto *target = docked ? popup_.get() : statusWindow_.get();
    if (panel_->parentWidget() != target) {
        target->layout()->addWidget(panel_);
        panel_->show();
    }
    if (docked) {
        statusWindow_->hide();
        trayIcon_->show();
    } else {
        popup_->hide();
        trayIcon_->hide();
        prepareForOpening();
        statusWindow_->show();
    }
    updateAnimation();
}

} // namespace quillby
