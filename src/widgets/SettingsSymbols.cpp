#include "widgets/SettingsSymbols.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

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
            return QStringLiteral(":/quillby/widgets/icons/%1.svg").arg(name);
        }
    }
    return {};
}

QIcon settingsTintedSymbol(const QString &name, const QColor &colour, const QColor &selectedColour)
{
    QIcon icon;
    QSvgRenderer renderer(settingsSymbolFallbackPath(name));
    if (!renderer.isValid()) {
        return icon;
    }
    for (const int size : {14, 16, 18, 24, 32}) {
        for (const int ratio : {1, 2}) {
            for (const auto &[mode, ink] : {std::pair{QIcon::Normal, colour}, std::pair{QIcon::Selected, selectedColour}}) {
                QPixmap pixmap(size * ratio, size * ratio);
                pixmap.fill(Qt::transparent);
                QPainter painter(&pixmap);
                painter.setRenderHint(QPainter::Antialiasing);
                renderer.render(&painter, QRectF(0, 0, size * ratio, size * ratio));
                // Every drawn pixel in the one colour, keeping its coverage.
                painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
                painter.fillRect(pixmap.rect(), ink);
                painter.end();
                pixmap.setDevicePixelRatio(ratio);
                icon.addPixmap(pixmap, mode);
            }
        }
    }
    return icon;
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
