#pragma once

#include <QString>

namespace quillby {

// What the status-bar view model asks of the object that owns the tray icon, its menu and its
// popup. StatusBarController is the real one; every call is a no-op while the status item is
// not set up. Main thread only.
class StatusItemControlling {
public:
    virtual ~StatusItemControlling() = default;

    // Creates the tray icon (or the status window while no tray host runs), its menu and popup.
    virtual void setUp() = 0;
    virtual bool hasStatusItem() const = 0;
    // Shows the given title, or the icon while the view model has an icon state.
    virtual void updateTitle(const QString &title) = 0;
    // Refreshes the spoken status text and the warning or update badge.
    virtual void updateIndicator() = 0;
    // Refreshes the spoken status text and the graph from the view model.
    virtual void refreshGraph() = 0;
    // Sets the spoken status text (tooltip and accessible description).
    virtual void setAccessibilityValue(const QString &text) = 0;
    // True once the menu has been built (with the status item).
    virtual bool hasMenu() const = 0;
    // True while the menu, the popup or the status window is shown.
    virtual bool isMenuOpen() const = 0;
    // Rebuilds the menu entries below the graph.
    virtual void rebuildMenu() = 0;
    // Shows the status window again when no tray host runs (the application was opened
    // again); returns whether it did.
    virtual bool showStatusWindowIfUndocked() { return false; }
    // Follows the desktop's reduced-motion setting (the waiting icon stops turning).
    virtual void setReduceMotion(bool /*reduce*/) {}
};

} // namespace quillby
