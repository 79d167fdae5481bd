#include "widgets/OnboardingStyle.h"

#include "widgets/AccessibilityMarks.h"
#include "platform/WindowPlacement.h"

#include "widgets/AmbientBackgroundView.h"
#include "widgets/ReadableControlStyle.h"

#include "platform/Appearance.h"
#include "platform/ReducedMotionMonitor.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace quillby {

void useLightAppearance(QWidget *window, const QColor &background)
{
    useReadableControlStyle();
    window->setPalette(lightAppearancePalette(background));
    window->setAutoFillBackground(true);
}

void useSecondaryText(QWidget *widget)
{
    widget->setForegroundRole(kSecondaryTextRole);
}

QWidget *makeAmbientSplit(QWidget *window, QSize size, int panelWidth, AmbientBackgroundView *&background)
{
    window->setFixedSize(size);
    useLightAppearance(window);
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
    useSecondaryText(label);
    return label;
}

QLabel *makeLargeTitle(const QString &text, QWidget *parent)
{
    QLabel *label = makeTextLabel(text, parent, 2.0, QFont::Bold);
    markAccessibleHeading(label);
    return label;
}

void makeProminent(QPushButton *button)
{
    // The accent of the light appearance, on which white text reads at more than 4.5:1.
    const QPalette light = lightAppearancePalette();
    const QColor accent = light.color(QPalette::Active, QPalette::Highlight);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px; padding: 5px 16px; "
                       "min-height: 20px; }"
                       "QPushButton:hover { background: %3; }"
                       "QPushButton:pressed { background: %4; }"
                       "QPushButton:disabled { background: #a9cdf7; color: #f4f8fd; }"
                       // The focus ring takes its width from the padding, so the label keeps its room;
                       // darker than the accent, it stands out from the window as well.
                       "QPushButton:focus { outline: none; border: 2px solid %5; padding: 3px 14px; }")
            .arg(accent.name(), light.color(QPalette::Active, QPalette::HighlightedText).name(),
                 accent.darker(108).name(), accent.darker(120).name(), accent.darker(170).name()));
}

void makeBordered(QPushButton *button)
{
    // An outline that stands out at least 3:1 from the light window and the button's own face.
    const QPalette light = lightAppearancePalette();
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3; border-radius: 6px; "
                       "padding: 4px 15px; min-height: 20px; }"
                       "QPushButton:hover { background: #ececef; }"
                       "QPushButton:pressed { background: #e2e2e6; }"
                       "QPushButton:disabled { color: #a0a0a4; border-color: #dcdce0; }"
                       "QPushButton:focus { outline: none; border: 2px solid %4; padding: 3px 14px; }")
            .arg(light.color(QPalette::Active, QPalette::Button).name(),
                 light.color(QPalette::Active, QPalette::ButtonText).name(), boundaryColor(light).name(),
                 focusBoundaryColor(light).name()));
}

QIcon onboardingSymbol(const QString &name)
{
    const QString path = QStringLiteral(":/quillby/widgets/icons/%1.svg").arg(name);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QLabel *makeSymbolImage(const QString &symbol, int size, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(onboardingSymbol(symbol).pixmap(size, size));
    label->setFixedSize(size, size);
    hideFromAccessibility(label);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace quillby
