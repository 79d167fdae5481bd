#pragma once

#include "platform/Appearance.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <map>
#include <vector>

namespace quillby::test {

// The contrast of every piece of text a window shows, measured on the window as drawn: for
// each visible label with text, the background is the colour most of its area has, the text
// colour the one its palette paints with; `ink` is the most contrasting colour actually drawn
// there (what a reader sees, antialiasing included).
struct LabelContrast {
    QString name;          // object name, else the text
    double ratio = 0;      // palette text colour against the drawn background
    double ink = 0;        // most contrasting drawn pixel against the drawn background
    bool large = false;    // large text, for which 3:1 is enough
};

inline std::vector<LabelContrast> measureTextContrast(QWidget *window)
{
    const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const double ratio = shot.devicePixelRatio();
    std::vector<LabelContrast> result;
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(window) || label->text().trimmed().isEmpty() || !label->isEnabled()) {
            continue;
        }
        const QRect visible = label->visibleRegion().boundingRect();
        if (visible.width() < 2 || visible.height() < 2) {
            continue;
        }
        const QRect area(label->mapTo(window, visible.topLeft()) * ratio, visible.size() * ratio);
        std::map<QRgb, int> counts;
        for (int y = area.top(); y <= area.bottom() && y < shot.height(); ++y) {
            for (int x = area.left(); x <= area.right() && x < shot.width(); ++x) {
                ++counts[shot.pixel(x, y)];
            }
        }
        if (counts.empty()) {
            continue;
        }
        const QColor background(std::max_element(counts.begin(), counts.end(), [](const auto &a, const auto &b) {
                                    return a.second < b.second;
                                })->first);
        LabelContrast measured;
        measured.name = label->objectName().isEmpty() ? label->text().left(40) : label->objectName();
        const QColor text = composited(label->palette().color(label->foregroundRole()), background);
        measured.ratio = contrastRatio(text, background);
        for (const auto &[pixel, count] : counts) {
            measured.ink = std::max(measured.ink, contrastRatio(QColor(pixel), background));
        }
        const QFontInfo font(label->font());
        measured.large = font.pixelSize() >= 24 || (font.bold() && font.pixelSize() >= 19);
        result.push_back(measured);
    }
    return result;
}

// Every visible text of `window` (at least `atLeast` of them) is readable on what it is drawn on:
// 4.5:1 for body text, 3:1 for large text, by its colour and by the pixels actually drawn
// (antialiased edges never reach the full colour, stems do).
inline void expectReadableTexts(QWidget *window, std::size_t atLeast)
{
    const auto texts = measureTextContrast(window);
    EXPECT_GE(texts.size(), atLeast);
    for (const auto &text : texts) {
        const double needed = text.large ? 3.0 : 4.5;
        EXPECT_GE(text.ratio, needed) << qPrintable(text.name);
        EXPECT_GE(text.ink, needed * 0.9) << qPrintable(text.name);
    }
}

// While it lives, the application has a dark palette like the one a desktop in a dark scheme
// hands out (KDE's Breeze Dark), for tests that run without a desktop; under a dark desktop
// scheme (QUILLBY_RENDER_SCHEME=dark) the desktop's own palette stays.
class DarkDesktopPalette {
public:
    DarkDesktopPalette() : saved_(QApplication::palette())
    {
        if (qEnvironmentVariable("QUILLBY_RENDER_SCHEME") == QLatin1String("dark") && !isDarkPalette(saved_)) {
            ADD_FAILURE() << "the desktop's dark scheme did not reach the application's palette";
        }
        if (!isDarkPalette(saved_)) {
            QApplication::setPalette(palette());
            changed_ = true;
        }
    }
    ~DarkDesktopPalette()
    {
        if (changed_) {
            QApplication::setPalette(saved_);
        }
    }
    DarkDesktopPalette(const DarkDesktopPalette &) = delete;
    DarkDesktopPalette &operator=(const DarkDesktopPalette &) = delete;

private:
    static QPalette palette();
    QPalette saved_;
    bool changed_ = false;
};

inline QPalette DarkDesktopPalette::palette()
{
    QPalette dark;
    const QColor window(32, 35, 38), view(20, 22, 24), button(41, 44, 48), text(252, 252, 252);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        dark.setColor(group, QPalette::Window, window);
        dark.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? QColor(110, 113, 117) : text);
        dark.setColor(group, QPalette::Base, view);
        dark.setColor(group, QPalette::AlternateBase, QColor(29, 31, 34));
        dark.setColor(group, QPalette::Text, group == QPalette::Disabled ? QColor(110, 113, 117) : text);
        dark.setColor(group, QPalette::Button, button);
        dark.setColor(group, QPalette::ButtonText, text);
        dark.setColor(group, QPalette::Highlight, QColor(61, 174, 233));
        dark.setColor(group, QPalette::HighlightedText, text);
        dark.setColor(group, QPalette::PlaceholderText, QColor(252, 252, 252, 128));
        dark.setColor(group, QPalette::ToolTipBase, button);
        dark.setColor(group, QPalette::ToolTipText, text);
        dark.setColor(group, QPalette::Light, QColor(64, 69, 76));
        dark.setColor(group, QPalette::Midlight, QColor(52, 57, 62));
        dark.setColor(group, QPalette::Mid, QColor(36, 40, 43));
        dark.setColor(group, QPalette::Dark, QColor(18, 20, 21));
        dark.setColor(group, QPalette::Shadow, QColor(0, 0, 0));
        dark.setColor(group, QPalette::Link, QColor(29, 153, 243));
    }
    return dark;
}

} // namespace quillby::test
