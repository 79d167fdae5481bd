#pragma once

#include <QIcon>
#include <QString>

namespace quillby {

// The symbols of the Settings window, named as the design names them ("gearshape", "drop",
// "exclamationmark.triangle", ...). Each is taken from the desktop's icon theme under its
// freedesktop name when the theme has it, else from the small SVG bundled with the program, so
// a desktop without an icon theme still shows it.
QIcon settingsSymbol(const QString &name);

// The freedesktop icon-theme name used for a symbol; empty when the theme is never asked.
QString settingsSymbolThemeName(const QString &name);
// The bundled fallback (a Qt resource path); empty for an unknown symbol.
QString settingsSymbolFallbackPath(const QString &name);

} // namespace quillby
