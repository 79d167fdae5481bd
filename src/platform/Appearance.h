#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

namespace quillby {

// Colours of the desktop's appearance. Windows that are light whatever the desktop's colour
// scheme (Insights, onboarding, terms, feedback) take the whole light palette below; windows
// that follow the desktop (Settings, the tray popup) keep the desktop's palette and take only
// the derived secondary text colour from here.

// The role that secondary text (captions, explanations, units) is painted with: a label shows
// it with `setForegroundRole(kSecondaryTextRole)`, and every palette we set or adjust holds a
// readable secondary colour there (placeholders of text fields use it too).
inline constexpr QPalette::ColorRole kSecondaryTextRole = QPalette::PlaceholderText;

// The background of a light window unless it asks for another one.
QColor lightWindowBackground();

// A palette of the light appearance with every role of every colour group set, so nothing of
// the desktop's (perhaps dark) palette shows through; `windowBackground` is the Window role.
QPalette lightAppearancePalette(const QColor &windowBackground = lightWindowBackground());

// The window text colour faded towards the window background as far as it stays readable
// (a contrast of at least 4.5:1 against both the Window and the Base colour of `group`).
QColor secondaryTextColor(const QPalette &palette, QPalette::ColorGroup group = QPalette::Active);
// `palette` with kSecondaryTextRole set to secondaryTextColor in every group.
QPalette withSecondaryText(QPalette palette);

// The colour of a control's boundary (the outline of a check box, a text field, a button) that
// stands out at least 3:1 from the Window, Base and Button colours of `group`: the window text
// faded towards the window as far as that holds.
QColor boundaryColor(const QPalette &palette, QPalette::ColorGroup group = QPalette::Active);
// The boundary of a control with keyboard focus: the Highlight colour of `group`, moved towards
// the window text as far as needed to stand out 3:1 in the same way.
QColor focusBoundaryColor(const QPalette &palette, QPalette::ColorGroup group = QPalette::Active);

// The palette's Link colour where it reads at least 4.5:1 on the palette's Window and Base
// colours; otherwise that link colour moved towards the window text until it does (a desktop
// that leaves the default blue in a dark palette).
QColor readableLinkColor(const QPalette &palette);

// A link for a rich-text label, in the Link colour of the palette it shows on (made readable as
// readableLinkColor does): Qt colours links from the application's palette when it reads the
// text, which is the wrong one for a window with a palette of its own. `href` and `text` are
// escaped here.
QString linkHtml(const QString &href, const QString &text, const QPalette &palette);

// True when the palette's window is darker than its text: a dark colour scheme.
bool isDarkPalette(const QPalette &palette);

// Relative luminance (0 black ... 1 white) of an opaque colour, as web contrast rules define it.
double relativeLuminance(const QColor &color);
// Contrast ratio between two opaque colours, from 1:1 to 21:1.
double contrastRatio(const QColor &a, const QColor &b);
// `color` drawn over `background`, as an opaque colour.
QColor composited(const QColor &color, const QColor &background);

} // namespace quillby
