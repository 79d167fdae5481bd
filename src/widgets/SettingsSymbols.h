#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace quillby {

// The symbols of the Settings window, named as the design names them ("gearshape", "drop",
// "exclamationmark.triangle", ...). Each is taken from the desktop's icon theme under its
// freedesktop name when the theme has it, else from the small SVG bundled with the program, so
// a desktop without an icon theme still shows it.
QIcon settingsSymbol(const QString &name);

// A monochrome symbol from the bundled set, drawn in `colour`, and in `selectedColour` where a
// view shows it selected (QIcon::Selected), at 1x and 2x. The sidebar and the notes of the panes
// use these, so every row looks alike on every desktop and stays visible on the selection.
QIcon settingsTintedSymbol(const QString &name, const QColor &colour, const QColor &selectedColour);

// The freedesktop icon-theme name used for a symbol; empty when the theme is never asked.
QString settingsSymbolThemeName(const QString &name);
// The bundled fallback (a Qt resource path); empty for an unknown symbol.
QString settingsSymbolFallbackPath(const QString &name);

} // namespace quillby
