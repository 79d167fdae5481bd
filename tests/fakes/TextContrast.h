#pragma once

#include "platform/Appearance.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolButton>
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

// The colour most of `area` (in device pixels of `shot`) has.
inline QColor mostCommonColour(const QImage &shot, const QRect &area, std::map<QRgb, int> *countsOut = nullptr)
{
    std::map<QRgb, int> counts;
    const QRect inside = area.intersected(shot.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            ++counts[shot.pixel(x, y)];
        }
    }
    if (counts.empty()) {
        return {};
    }
    if (countsOut) {
        *countsOut = counts;
    }
    return QColor(std::max_element(counts.begin(), counts.end(), [](const auto &a, const auto &b) {
                      return a.second < b.second;
                  })->first);
}

// Where a button draws its text, in its own coordinates (the box of a check box left out).
inline QRect buttonTextArea(QAbstractButton *button)
{
    if (auto *box = qobject_cast<QCheckBox *>(button)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    }
    return button->rect().adjusted(3, 3, -3, -3);
}

// The text of every visible, enabled button: the background is the colour most of its text
// area has, the ink the most contrasting colour drawn there (buttons may draw with a style
// sheet, so only what is drawn counts).
inline void measureButtonTexts(QWidget *window, const QImage &shot, std::vector<LabelContrast> &result)
{
    const double ratio = shot.devicePixelRatio();
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (!button->isVisibleTo(window) || !button->isEnabled() || button->text().trimmed().isEmpty()) {
            continue;
        }
        if (auto *tool = qobject_cast<QToolButton *>(button);
            tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull()) {
            continue;
        }
        const QRect text = buttonTextArea(button).intersected(button->visibleRegion().boundingRect());
        if (text.width() < 2 || text.height() < 2) {
            continue;
        }
        const QRect area(button->mapTo(window, text.topLeft()) * ratio, text.size() * ratio);
        std::map<QRgb, int> counts;
        const QColor background = mostCommonColour(shot, area, &counts);
        if (!background.isValid()) {
            continue;
        }
        LabelContrast measured;
        measured.name = button->objectName().isEmpty() ? button->text().left(40) : button->objectName();
        for (const auto &[pixel, count] : counts) {
            measured.ink = std::max(measured.ink, contrastRatio(QColor(pixel), background));
        }
        measured.ratio = measured.ink;
        const QFontInfo font(button->font());
        measured.large = font.pixelSize() >= 24 || (font.bold() && font.pixelSize() >= 19);
        result.push_back(measured);
    }
}

inline std::vector<LabelContrast> measureTextContrast(QWidget *window)
{
    const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const double ratio = shot.devicePixelRatio();
    std::vector<LabelContrast> result;
    measureButtonTexts(window, shot, result);
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

// How well a control's outline stands out from what is drawn around it.
struct BoundaryContrast {
    QString name;
    double ratio = 0;
};

// The contrast of the boundary of `area` (in `widget`'s coordinates) as drawn in `shot` (of
// `window`): the background is the colour most of a thin ring just outside it has; along each
// side, the most contrasting pixel within its outer two pixels (its outline, or its fill where
// the fill itself stands out) counts, and the boundary is as visible as the least visible tenth
// of its length, corners left out.
inline double boundaryContrast(QWidget *window, const QImage &shot, QWidget *widget, const QRect &area)
{
    const double ratio = shot.devicePixelRatio();
    const QRect r(widget->mapTo(window, area.topLeft()) * ratio, area.size() * ratio);
    const int ring = std::max(2, static_cast<int>(2 * ratio));
    std::map<QRgb, int> around;
    const auto count = [&](int x, int y) {
        if (shot.rect().contains(x, y)) {
            ++around[shot.pixel(x, y)];
        }
    };
    for (int d = 1; d <= ring; ++d) {
        for (int x = r.left(); x <= r.right(); ++x) {
            count(x, r.top() - d);
            count(x, r.bottom() + d);
        }
        for (int y = r.top(); y <= r.bottom(); ++y) {
            count(r.left() - d, y);
            count(r.right() + d, y);
        }
    }
    if (around.empty()) {
        return 0;
    }
    const QColor background(std::max_element(around.begin(), around.end(), [](const auto &a, const auto &b) {
                                return a.second < b.second;
                            })->first);
    const int depth = std::max(2, static_cast<int>(2 * ratio));
    const int corner = static_cast<int>(4 * ratio);
    std::vector<double> along;
    const auto strongest = [&](int x, int y, int dx, int dy) {
        double best = 1;
        for (int d = 0; d < depth; ++d) {
            const int px = x + dx * d, py = y + dy * d;
            if (shot.rect().contains(px, py)) {
                best = std::max(best, contrastRatio(QColor(shot.pixel(px, py)), background));
            }
        }
        along.push_back(best);
    };
    for (int x = r.left() + corner; x <= r.right() - corner; ++x) {
        strongest(x, r.top(), 0, 1);
        strongest(x, r.bottom(), 0, -1);
    }
    for (int y = r.top() + corner; y <= r.bottom() - corner; ++y) {
        strongest(r.left(), y, 1, 0);
        strongest(r.right(), y, -1, 0);
    }
    if (along.empty()) {
        return 0;
    }
    std::sort(along.begin(), along.end());
    return along[along.size() / 10];
}

// Where a control draws its boundary, in its own coordinates: the box of a check box, the
// whole of a text field, combo box or button.
inline QRect controlBoundaryArea(QWidget *control)
{
    if (auto *box = qobject_cast<QCheckBox *>(control)) {
        QStyleOptionButton option;
        option.initFrom(box);
        return box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    }
    return control->rect();
}

// The boundary of every visible, enabled check box, text field with a frame, combo box and
// button with a frame (push or tool button) in `window`, and of the widgets named in `alsoNamed`.
inline std::vector<BoundaryContrast> measureControlBoundaries(QWidget *window, const QStringList &alsoNamed = {})
{
    const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::vector<BoundaryContrast> result;
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (!control->isVisibleTo(window) || !control->isEnabled()) {
            continue;
        }
        bool measured = alsoNamed.contains(control->objectName());
        if (qobject_cast<QCheckBox *>(control) || qobject_cast<QComboBox *>(control)) {
            measured = true;
        } else if (auto *field = qobject_cast<QLineEdit *>(control)) {
            measured = field->hasFrame() && !qobject_cast<QComboBox *>(field->parentWidget());
        } else if (auto *button = qobject_cast<QPushButton *>(control)) {
            measured = !button->isFlat();
        } else if (auto *tool = qobject_cast<QToolButton *>(control)) {
            measured = !tool->autoRaise();
        }
        if (!measured || control->visibleRegion().boundingRect() != control->rect()) {
            continue;   // hidden, or scrolled partly out of sight
        }
        BoundaryContrast boundary;
        boundary.name = control->objectName().isEmpty() ? control->metaObject()->className() : control->objectName();
        if (auto *button = qobject_cast<QAbstractButton *>(control); button && !button->text().isEmpty()) {
            boundary.name += QStringLiteral(" \"") + button->text().left(30) + QLatin1Char('"');
        }
        boundary.ratio = boundaryContrast(window, shot, control, controlBoundaryArea(control));
        result.push_back(boundary);
    }
    return result;
}

// Every control boundary in `window` (at least `atLeast` of them) stands out at least 3:1 from
// what is drawn around it.
inline void expectVisibleControlBoundaries(QWidget *window, std::size_t atLeast, const QStringList &alsoNamed = {})
{
    const auto boundaries = measureControlBoundaries(window, alsoNamed);
    EXPECT_GE(boundaries.size(), atLeast);
    for (const auto &boundary : boundaries) {
        EXPECT_GE(boundary.ratio, 3.0 * 0.97) << qPrintable(boundary.name);
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

// While it lives, the application has a light palette like the one a desktop in a light scheme
// hands out (KDE's Breeze), unless the desktop's own palette is light already.
class LightDesktopPalette {
public:
    LightDesktopPalette() : saved_(QApplication::palette())
    {
        if (qEnvironmentVariable("QUILLBY_RENDER_SCHEME") == QLatin1String("light") && isDarkPalette(saved_)) {
            ADD_FAILURE() << "the desktop's light scheme did not reach the application's palette";
        }
        if (isDarkPalette(saved_)) {
            QApplication::setPalette(palette());
            changed_ = true;
        }
    }
    ~LightDesktopPalette()
    {
        if (changed_) {
            QApplication::setPalette(saved_);
        }
    }
    LightDesktopPalette(const LightDesktopPalette &) = delete;
    LightDesktopPalette &operator=(const LightDesktopPalette &) = delete;

private:
    static QPalette palette()
    {
        QPalette light;
        const QColor window(239, 240, 241), text(35, 38, 41);
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            light.setColor(group, QPalette::Window, window);
            light.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? QColor(160, 162, 162) : text);
            light.setColor(group, QPalette::Base, Qt::white);
            light.setColor(group, QPalette::AlternateBase, QColor(247, 247, 247));
            light.setColor(group, QPalette::Text, group == QPalette::Disabled ? QColor(160, 162, 162) : text);
            light.setColor(group, QPalette::Button, QColor(252, 252, 252));
            light.setColor(group, QPalette::ButtonText, text);
            light.setColor(group, QPalette::Highlight, QColor(61, 174, 233));
            light.setColor(group, QPalette::HighlightedText, Qt::white);
            light.setColor(group, QPalette::PlaceholderText, QColor(35, 38, 41, 128));
            light.setColor(group, QPalette::Light, Qt::white);
            light.setColor(group, QPalette::Midlight, QColor(246, 247, 247));
            light.setColor(group, QPalette::Mid, QColor(196, 200, 204));
            light.setColor(group, QPalette::Dark, QColor(136, 142, 147));
            light.setColor(group, QPalette::Shadow, QColor(71, 74, 76));
            light.setColor(group, QPalette::Link, QColor(41, 128, 185));
        }
        return light;
    }
    QPalette saved_;
    bool changed_ = false;
};

// Runs `check` once under a light desktop palette and once under a dark one.
template <typename Check>
void underLightAndDarkDesktops(Check check)
{
    {
        SCOPED_TRACE("light desktop");
        LightDesktopPalette light;
        check();
    }
    {
        SCOPED_TRACE("dark desktop");
        DarkDesktopPalette dark;
        check();
    }
}

} // namespace quillby::test
