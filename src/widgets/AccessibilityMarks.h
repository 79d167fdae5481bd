#pragma once

class QLabel;
class QString;
class QWidget;

namespace quillby {

// What assistive technologies get of our windows beyond the names and roles Qt gives widgets
// by itself. The marks must be set before the window is first shown (they are read when the
// accessibility tree is built); each mark installs the interfaces it needs.

// `widget` is read as a heading.
void markAccessibleHeading(QWidget *widget);
// `widget`, and everything in it, is left out of the accessibility tree: decorative images,
// progress indicators whose meaning the text beside them already carries, the animated
// background.
void hideFromAccessibility(QWidget *widget);
// `widget` is read as one text element, its accessible name (and description); the widgets in
// it are left out of the tree, so their texts are not read a second time one by one.
void combineAccessibleChildren(QWidget *widget);

// Enables or disables `widget`. Qt moves the keyboard focus on from a control that is disabled;
// here a control disabled while it has the focus of its window (a button waiting for its
// operation) takes it back when it is enabled again, unless the focus went elsewhere meanwhile.
void setEnabledKeepingFocus(QWidget *widget, bool enabled);

// Gives the keyboard focus to the first control in `container`, in Tab order, that can take it
// (as when `container` replaces the part of a window that had the focus); false when none can.
bool focusFirstControlIn(QWidget *container);

// Each time `dialog` is shown, the keyboard focus starts on `button` (when it can take it): a
// dialog otherwise gives it to its first focusable child, which may be a link in its text.
void startFocusOn(QWidget *dialog, QWidget *button);

// Set `widget`'s accessible name or description only when it differs from the present one: Qt
// reports each call to assistive technologies, and a burst of such reports (a form refreshed as
// a sign-in starts and ends) makes Orca drop what it has not spoken yet, announcements included.
void updateAccessibleName(QWidget *widget, const QString &name);
void updateAccessibleDescription(QWidget *widget, const QString &description);

// Makes `label`'s links reachable by Tab, each Tab stop a link shown as chosen: a label with
// links otherwise takes the focus first with no link chosen, a stop that shows nothing and that
// a screen reader reads as nothing.
void tabStopsOnLinks(QLabel *label);

// Installs the accessibility interfaces of the marks above and of the program's combo boxes,
// which are named by their label and keep their shown text as their value (Qt names a combo box
// on Linux by its current text). Windows call it before they build their widgets; repeated calls
// do nothing.
void installAccessibilityInterfaces();

} // namespace quillby
