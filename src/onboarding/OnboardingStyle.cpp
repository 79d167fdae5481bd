#include "onboarding/OnboardingStyle.h"

#include "platform/WindowPlacement.h"

#include "onboarding/AmbientBackgroundView.h"

#include "platform/ReducedMotionMonitor.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace quillby {

QPalette lightAppearancePalette(QPalette palette)
{
    const QColor window(Qt::white);
    const QColor text(0x1d, 0x1d, 0x1f);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::AlternateBase, QColor(0xf5, 0xf5, 0xf7));
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::Button, QColor(0xef, 0xef, 0xf1));
        palette.setColor(group, QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x8e));
        palette.setColor(group, QPalette::Mid, QColor(0xc6, 0xc6, 0xc8));
        palette.setColor(group, QPalette::Highlight, QColor(0x0a, 0x7a, 0xff));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, QColor(0x0a, 0x6a, 0xe0));
    }
    palette.setColor(QPalette::Disabled, QPalette::Window, window);
    palette.setColor(QPalette::Disabled, QPalette::Base, QColor(0xf7, 0xf7, 0xf8));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa0, 0xa0, 0xa4));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xa0, 0xa0, 0xa4));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa0, 0xa0, 0xa4));
    return palette;
}

QWidget *makeAmbientSplit(QWidget *window, QSize size, int panelWidth, AmbientBackgroundView *&background)
{
    window->setFixedSize(size);
    window->setPalette(lightAppearancePalette(window->palette()));
    window->setAutoFillBackground(true);
    auto *row = new QHBoxLayout(window);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    background = new AmbientBackgroundView(panelWidth, Qt::white, 1.0, true, true, window);
    row->addWidget(background);
    auto *panel = new QWidget(window);
    panel->setFixedWidth(size.width() - panelWidth);
    row->addWidget(panel);
    return panel;
}

void presentAmbientWindow(QWidget *window, AmbientBackgroundView *background, ReducedMotionMonitor *reducedMotion)
{
    if (reducedMotion) {
        background->setReduceMotion(reducedMotion->reduceMotion());
        QObject::connect(reducedMotion, &ReducedMotionMonitor::reduceMotionChanged, background,
                         &AmbientBackgroundView::setReduceMotion);
    }
    if (const QScreen *screen = QGuiApplication::primaryScreen(); screen && canPlaceWindows()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
}

QFont scaledFont(const QFont &base, double factor, QFont::Weight weight)
{
    QFont font = base;
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(static_cast<int>(font.pixelSize() * factor + 0.5));
    }
    font.setWeight(weight);
    return font;
}

QColor secondaryTextColour()
{
    return QColor(0x6e, 0x6e, 0x73);
}

QLabel *makeTextLabel(const QString &text, QWidget *parent, double scale, QFont::Weight weight)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    if (scale != 1.0 || weight != QFont::Normal) {
        label->setFont(scaledFont(label->font(), scale, weight));
    }
    return label;
}

QLabel *makeSecondaryTextLabel(const QString &text, QWidget *parent, double scale)
{
    QLabel *label = makeTextLabel(text, parent, scale);
    QPalette palette = label->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, secondaryTextColour());
    }
    label->setPalette(palette);
    return label;
}

QLabel *makeLargeTitle(const QString &text, QWidget *parent)
{
    QLabel *label = makeTextLabel(text, parent, 2.0, QFont::Bold);
    label->setAccessibleName(text);
    // Qt 6.4 has no heading role for a label: the mark is kept for a bridge that can tell it.
    label->setProperty("accessibilityHeading", true);
    return label;
}

void makeProminent(QPushButton *button)
{
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background: #0a7aff; color: white; border: none; border-radius: 6px; padding: 5px 16px; "
        "min-height: 20px; }"
        "QPushButton:hover { background: #2a8cff; }"
        "QPushButton:pressed { background: #0062d1; }"
        "QPushButton:disabled { background: #a9cdf7; color: #f4f8fd; }"
        "QPushButton:focus { outline: none; border: 2px solid #7fb8ff; }"));
}

void makeBordered(QPushButton *button)
{
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background: #f4f4f6; color: #1d1d1f; border: 1px solid #c6c6c8; border-radius: 6px; "
        "padding: 4px 15px; min-height: 20px; }"
        "QPushButton:hover { background: #ececef; }"
        "QPushButton:pressed { background: #e2e2e6; }"
        "QPushButton:disabled { color: #a0a0a4; border-color: #dcdce0; }"
        "QPushButton:focus { outline: none; border: 2px solid #7fb8ff; padding: 3px 14px; }"));
}

QIcon onboardingSymbol(const QString &name)
{
    const QString path = QStringLiteral(":/quillby/onboarding/icons/%1.svg").arg(name);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QLabel *makeSymbolImage(const QString &symbol, int size, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(onboardingSymbol(symbol).pixmap(size, size));
    label->setFixedSize(size, size);
    label->setAccessibleName(QString());
    label->setProperty("accessibilityHidden", true);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace quillby
