#pragma once

#include "platform/Appearance.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QString>

class QLabel;
class QSize;
class QPushButton;
class QWidget;

namespace quillby {

class AmbientBackgroundView;
class ReducedMotionMonitor;

// The look shared by the onboarding and terms windows: a light appearance whatever the
// desktop's colour scheme, titles scaled from the desktop's font, faded secondary text, and the
// accent-filled style of the button that agrees or goes forward.

// Gives `window` the light appearance (every palette role, a window background filled in
// `background`), whatever the desktop's colour scheme. Dialogs of a light window need it too:
// a window does not take its parent's palette.
void useLightAppearance(QWidget *window, const QColor &background = Qt::white);
// Paints `widget`'s text in the secondary colour of whatever palette it shows.
void useSecondaryText(QWidget *widget);
// Lays out the onboarding, terms and feedback windows: `window` fixed at `size` in the light
// appearance, the ambient background filling its left `panelWidth` pixels (stored in
// `background`) and an empty panel filling the rest, which is returned for the caller's layout.
QWidget *makeAmbientSplit(QWidget *window, QSize size, int panelWidth, AmbientBackgroundView *&background);
// Shows a window laid out by makeAmbientSplit: its background follows the desktop's reduced-motion
// setting when a monitor is given, and the window is centred on the primary screen (not on
// Wayland, where the compositor places windows), raised and activated.
void presentAmbientWindow(QWidget *window, AmbientBackgroundView *background, ReducedMotionMonitor *reducedMotion);
// `base` scaled by `factor` with `weight`.
QFont scaledFont(const QFont &base, double factor, QFont::Weight weight = QFont::Normal);

// A wrapping plain-text label: texts from servers or the user are never read as markup.
QLabel *makeTextLabel(const QString &text, QWidget *parent, double scale = 1.0, QFont::Weight weight = QFont::Normal);
// The same in the secondary colour.
QLabel *makeSecondaryTextLabel(const QString &text, QWidget *parent, double scale = 1.0);
// A large title marked as a heading for assistive technology.
QLabel *makeLargeTitle(const QString &text, QWidget *parent);

// The bordered prominent style: the accent colour filled, white text; paler while disabled.
void makeProminent(QPushButton *button);
// The bordered style of the buttons beside it (cancel, quit, back), of the same height.
void makeBordered(QPushButton *button);

// A decorative symbol image of `size` pixels, hidden from assistive technology.
QLabel *makeSymbolImage(const QString &symbol, int size, QWidget *parent);
// The symbols of the onboarding and terms windows by their design names ("stethoscope",
// "hand.raised", "paintbrush.pointed", "checkmark.circle.fill"), bundled with the program.
QIcon onboardingSymbol(const QString &name);

} // namespace quillby
