#include "platform/Appearance.h"

#include <algorithm>
#include <iterator>
#include <cmath>

namespace quillby {

namespace {

constexpr double kReadableContrast = 4.5;
constexpr double kBoundaryContrast = 3.0;

QColor mixed(const QColor &a, const QColor &b, double shareOfB)
{
    const auto channel = [shareOfB](double x, double y) { return x * (1 - shareOfB) + y * shareOfB; };
    return QColor::fromRgbF(static_cast<float>(channel(a.redF(), b.redF())),
                            static_cast<float>(channel(a.greenF(), b.greenF())),
                            static_cast<float>(channel(a.blueF(), b.blueF())));
}

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

QColor lightWindowBackground()
{
    return QColor(0xec, 0xec, 0xec);
}

QPalette lightAppearancePalette(const QColor &windowBackground)
{
    const QColor text(0x1d, 0x1d, 0x1f);
    const QColor button(0xf4, 0xf4, 0xf6);
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor foreground = disabled ? QColor(0xa0, 0xa0, 0xa4) : text;
        palette.setColor(group, QPalette::Window, windowBackground);
        palette.setColor(group, QPalette::WindowText, foreground);
        palette.setColor(group, QPalette::Base, disabled ? QColor(0xf7, 0xf7, 0xf8) : QColor(Qt::white));
        palette.setColor(group, QPalette::AlternateBase, QColor(0xf5, 0xf5, 0xf7));
        palette.setColor(group, QPalette::ToolTipBase, QColor(0xfb, 0xfb, 0xfb));
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::Text, foreground);
        palette.setColor(group, QPalette::Button, button);
        palette.setColor(group, QPalette::ButtonText, foreground);
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Light, Qt::white);
        palette.setColor(group, QPalette::Midlight, QColor(0xe4, 0xe4, 0xe8));
        palette.setColor(group, QPalette::Mid, QColor(0xc6, 0xc6, 0xc8));
        palette.setColor(group, QPalette::Dark, QColor(0x9e, 0x9e, 0xa3));
        palette.setColor(group, QPalette::Shadow, QColor(0x4a, 0x4a, 0x4d));
        palette.setColor(group, QPalette::Highlight, disabled ? QColor(0xc8, 0xc8, 0xcc) : QColor(0x00, 0x63, 0xd1));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, QColor(0x00, 0x58, 0xc4));
        palette.setColor(group, QPalette::LinkVisited, QColor(0x6b, 0x3f, 0xa0));
        palette.setColor(group, QPalette::NoRole, Qt::transparent);
    }
    palette = withSecondaryText(palette);
    palette.setColor(QPalette::Disabled, kSecondaryTextRole, QColor(0xb0, 0xb0, 0xb4));
    return palette;
}

QColor secondaryTextColor(const QPalette &palette, QPalette::ColorGroup group)
{
    const QColor window = palette.color(group, QPalette::Window);
    const QColor base = palette.color(group, QPalette::Base);
    const QColor text = composited(palette.color(group, QPalette::WindowText), window);
    // Faded towards the window in small steps; the first one readable on both backgrounds wins.
    for (int step = 9; step > 0; --step) {
        const QColor candidate = mixed(text, window, step * 0.05);
        if (contrastRatio(candidate, window) >= kReadableContrast + 0.1 &&
            contrastRatio(candidate, composited(base, window)) >= kReadableContrast + 0.1) {
            return candidate;
        }
    }
    return text;
}

QPalette withSecondaryText(QPalette palette)
{
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, kSecondaryTextRole, secondaryTextColor(palette, group));
    }
    return palette;
}

QColor boundaryColor(const QPalette &palette, QPalette::ColorGroup group)
{
    const QColor window = palette.color(group, QPalette::Window);
    const QColor text = composited(palette.color(group, QPalette::WindowText), window);
    const QColor behind[] = {window, composited(palette.color(group, QPalette::Base), window),
                             composited(palette.color(group, QPalette::Button), window)};
    // Faded towards the window in small steps; the palest one that stands out everywhere wins.
    for (int step = 19; step > 0; --step) {
        const QColor candidate = mixed(text, window, step * 0.05);
        if (std::all_of(std::begin(behind), std::end(behind), [&candidate](const QColor &background) {
                return contrastRatio(candidate, background) >= kBoundaryContrast + 0.1;
            })) {
            return candidate;
        }
    }
    return text;
}

QColor focusBoundaryColor(const QPalette &palette, QPalette::ColorGroup group)
{
    const QColor window = palette.color(group, QPalette::Window);
    const QColor text = composited(palette.color(group, QPalette::WindowText), window);
    const QColor highlight = composited(palette.color(group, QPalette::Highlight), window);
    const QColor behind[] = {window, composited(palette.color(group, QPalette::Base), window),
                             composited(palette.color(group, QPalette::Button), window)};
    for (int step = 0; step < 20; ++step) {
        const QColor candidate = mixed(highlight, text, step * 0.05);
        if (std::all_of(std::begin(behind), std::end(behind), [&candidate](const QColor &background) {
                return contrastRatio(candidate, background) >= kBoundaryContrast + 0.1;
            })) {
            return candidate;
        }
    }
    return text;
}

QColor readableLinkColor(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    const QColor base = composited(palette.color(QPalette::Active, QPalette::Base), window);
    const QColor link = composited(palette.color(QPalette::Active, QPalette::Link), window);
    const QColor text = composited(palette.color(QPalette::Active, QPalette::WindowText), window);
    // Towards the text in small steps: the first one readable on both backgrounds keeps the
    // most of the link's hue.
    for (int step = 0; step < 20; ++step) {
        const QColor candidate = mixed(link, text, step * 0.05);
        if (contrastRatio(candidate, window) >= kReadableContrast + 0.1 &&
            contrastRatio(candidate, base) >= kReadableContrast + 0.1) {
            return candidate;
        }
    }
    return text;
}

QString linkHtml(const QString &href, const QString &text, const QPalette &palette)
{
    return QStringLiteral("<a href=\"%1\" style=\"color: %2\">%3</a>")
        .arg(href.toHtmlEscaped(), readableLinkColor(palette).name(), text.toHtmlEscaped());
}

bool isDarkPalette(const QPalette &palette)
{
    return relativeLuminance(palette.color(QPalette::Active, QPalette::Window)) <
           relativeLuminance(composited(palette.color(QPalette::Active, QPalette::WindowText),
                                        palette.color(QPalette::Active, QPalette::Window)));
}

double relativeLuminance(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor composited(const QColor &color, const QColor &background)
{
    const QColor opaque = background.toRgb();
    const double alpha = color.alphaF();
    QColor over = mixed(opaque, color.toRgb(), alpha);
    over.setAlpha(255);
    return over;
}

} // namespace quillby
