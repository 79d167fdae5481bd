#pragma once

class QWidget;

namespace quillby {

// Gives the graph and the alert row the roles assistive technologies expect: the graph is one
// image element, the alert row one group element read out by its label alone (its own text
// lines are not read again one by one). Lists the windows given to listAsAccessibleWindow()
// among the application's windows while they are shown. Safe to call repeatedly; the widgets
// call it when made.
void installStatusBarAccessibility();

// Qt leaves popup windows out of the application's accessibility tree (a menu is reached through
// the control that opened it); the tray's popup panel has no such control, so it is listed with
// the application's windows while it is shown.
void listAsAccessibleWindow(QWidget *popup);

} // namespace quillby
