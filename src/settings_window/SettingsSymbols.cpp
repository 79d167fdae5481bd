#include "settings_window/SettingsSymbols.h"

#include <QFile>

#include <array>
#include <utility>

namespace quillby {

namespace {

// Design name, freedesktop icon-theme name (empty: no common theme carries a fitting one).
constexpr std::array<std::pair<const char *, const char *>, 11> kSymbols = {{
    {"gearshape", "preferences-system"},
    {"drop", ""},
    {"chart.bar.xaxis", "view-statistics"},
    {"bell.badge", "preferences-system-notifications"},
    {"person.crop.circle", "avatar-default"},
    {"bubble.left.and.bubble.right", "help-about"},
    {"exclamationmark.triangle", "dialog-warning"},
    {"book", "help-contents"},
    {"paperplane.fill", "mail-send"},
    {"safari", "web-browser"},
    {"info.circle", "dialog-information"},
}};

} // namespace

QString settingsSymbolThemeName(const QString &name)
{
    for (const auto &[symbol, themeName] : kSymbols) {
        if (name == QLatin1String(symbol)) {
            return QString::fromLatin1(themeName);
        }
    }
    return {};
}

QString settingsSymbolFallbackPath(const QString &name)
{
    for (const auto &[symbol, themeName] : kSymbols) {
        if (name == QLatin1String(symbol)) {
            return QStringLiteral(":/quillby/settings_window/icons/%1.svg").arg(name);
        }
    }
    return {};
}

QIcon settingsSymbol(const QString &name)
{
    const QString path = settingsSymbolFallbackPath(name);
    const QIcon fallback = path.isEmpty() ? QIcon() : QIcon(path);
    const QString themeName = settingsSymbolThemeName(name);
    if (themeName.isEmpty()) {
        return fallback;
    }
    return QIcon::fromTheme(themeName, fallback);
}

} // namespace quillby
