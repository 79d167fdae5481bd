#pragma once

#include "menubar/AnimationTicker.h"
#include "menubar/StatusBarIconRenderer.h"
#include "menubar/StatusBarMenuModel.h"
#include "menubar/StatusBarPanel.h"
#include "menubar/StatusItemControlling.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace quillby {

class GlucoseGraphView;
class TrayHostMonitor;

class StatusBarViewModel;

// Owns the status item on the Linux desktop: the tray icon (drawn by StatusBarIconRenderer,
// tooltip = the spoken status text), its right-click menu of plain entries, and the popup panel
// that a left click opens (graph, alert row and the same entries). While no tray host runs, a
// small status window holds the panel instead; the icon docks by itself when a host appears.
// It keeps no reading state of its own: it draws what the view model publishes.
class StatusBarController : public QObject, public StatusItemControlling {
    Q_OBJECT
public:
    struct Options {
        // Whether a tray host runs now. By default a TrayHostMonitor answers, and tells the
        // controller when a host comes or goes; tests give their own and call checkTrayHost().
        std::function<bool()> isTrayAvailable;
        StatusDateFormatter formatter;
        // Steps the waiting icon's turning. By default a 250 ms timer; tests step their own.
        std::shared_ptr<AnimationTicker> animationTicker;
    };

    explicit StatusBarController(StatusBarViewModel &viewModel);
    StatusBarController(StatusBarViewModel &viewModel, Options options);
    ~StatusBarController() override;

    // --- StatusItemControlling ---
    void setUp() override;
    bool hasStatusItem() const override { return trayIcon_ != nullptr; }
    void updateTitle(const QString &title) override;
    void updateIndicator() override;
    void refreshGraph() override;
    void setAccessibilityValue(const QString &text) override;
    bool hasMenu() const override { return menu_ != nullptr; }
    bool isMenuOpen() const override;
    void rebuildMenu() override;

    // --- The pieces, for the application shell and tests ---
    QSystemTrayIcon *trayIcon() const { return trayIcon_; }
    QMenu *menu() const { return menu_.get(); }
    StatusBarPanel *panel() const { return panel_; }
    GlucoseGraphView *graphView() const;
    QWidget *popup() const { return popup_.get(); }
    QWidget *statusWindow() const { return statusWindow_.get(); }
    bool isDocked() const { return docked_; }
    // The spoken status text last set (tooltip of the icon, description of the panel).
    const QString &accessibilityValue() const { return accessibilityValue_; }
    // What the icon shows right now.
    StatusBarIconContent iconContent() const;
    // The entries the menu and the panel were last built from.
    const std::vector<StatusBarMenuEntry> &menuEntries() const { return entries_; }
    const StatusBarMenuModel &menuModel() const { return menuModel_; }

    // Opens the popup panel near `anchor` (the tray icon or the pointer), after evaluating the
    // newest reading again for this moment; closes it when it is open.
    void togglePopup(QPoint anchor);
    void showPopup(QPoint anchor);
    // Shows the status window (while no tray host runs) or the popup at the pointer.
    void showPanel();
    // Stops the waiting icon's turning (for users who asked for less motion).
    void setReduceMotion(bool reduce) override;
    // Looks for a tray host now and docks or undocks.
    void checkTrayHost();
    // The application was opened again (a second launch): with no tray host to click, the
    // status window is the only way to the reading, so it is shown. Returns whether it was.
    bool showStatusWindowIfUndocked() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void onMenuAboutToShow();
    void onAction(StatusBarMenuAction action);
    void prepareForOpening();
    void dock(bool docked);
    void renderIcon();
    void updateAnimation();
    void applySettings(GlucoseGraphView &graph) const;
    void fillMenu(const std::vector<StatusBarMenuEntry> &entries);
    QString spokenStatus() const;

    StatusBarViewModel &viewModel_;
    Options options_;
    StatusBarMenuModel menuModel_;
    QSystemTrayIcon *trayIcon_ = nullptr;        // child of this controller
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QWidget> popup_;
    std::unique_ptr<QWidget> statusWindow_;
    QPointer<StatusBarPanel> panel_;             // inside the popup or the status window
    TrayHostMonitor *trayHostMonitor_ = nullptr;   // child; only without an injected check
    std::shared_ptr<AnimationTicker> animationTicker_;
    bool docked_ = false;
    bool menuOpen_ = false;
    bool reduceMotion_ = false;
    double waitingTurn_ = 0;
    QString shownTitle_;
    QString accessibilityValue_;
    std::optional<StatusBarIconContent> renderedContent_;
    std::vector<StatusBarMenuEntry> entries_;
};

} // namespace quillby
