#include "widgets/ReadableControlStyle.h"

#include "platform/Appearance.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace quillby {

namespace {

QStyle *makeBaseStyle(const QString &name)
{
    const QString wanted = name.isEmpty() && QApplication::style() ? QApplication::style()->name() : name;
    QStyle *style = QStyleFactory::create(wanted.isEmpty() ? QStringLiteral("Fusion") : wanted);
    return style ? style : QStyleFactory::create(QStringLiteral("Fusion"));
}

QPalette::ColorGroup groupOf(const QStyleOption *option)
{
    if (!(option->state & QStyle::State_Enabled)) {
        return QPalette::Disabled;
    }
    return option->state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
}

} // namespace

ReadableControlStyle::ReadableControlStyle(const QString &baseStyleName) : QProxyStyle(makeBaseStyle(baseStyleName))
{
    redraws_ = baseStyle()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0;
}

void ReadableControlStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                         const QWidget *widget) const
{
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (!redraws_ || !option || !painter) {
        return;
    }
    const bool focused = option->state & State_HasFocus;
    const bool keyboardFocus = focused && (option->state & State_KeyboardFocusChange);
    QRectF outline;
    qreal radius = 0;
    bool focusRing = false;
    switch (element) {
    case PE_IndicatorCheckBox:
        // Keyboard focus shows on the box itself.
        focusRing = keyboardFocus;
        outline = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        break;
    case PE_FrameLineEdit:
        focusRing = focused;
        outline = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        radius = 2;
        break;
    case PE_PanelButtonCommand:
        // Also the face of a combo box and of a tool button that shows a frame.
        focusRing = keyboardFocus;
        outline = QRectF(option->rect).adjusted(0.5, 1.5, -0.5, -0.5);
        radius = 2;
        break;
    default:
        return;
    }
    if (outline.width() < 4 || outline.height() < 4) {
        return;
    }
    const QPalette::ColorGroup group = groupOf(option);
    QColor ink = focusRing ? focusBoundaryColor(option->palette, group) : boundaryColor(option->palette, group);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setBrush(Qt::NoBrush);
    if (!(option->state & State_Enabled)) {
        // A disabled control keeps a fainter outline, as the style's own is.
        ink = QColor::fromRgbF(ink.redF(), ink.greenF(), ink.blueF(), 0.5f);
    }
    painter->setPen(QPen(ink, 1));
    if (radius > 0) {
        painter->drawRoundedRect(outline, radius, radius);
    } else {
        painter->drawRect(outline);
    }
    painter->restore();
}

void useReadableControlStyle()
{
    if (qobject_cast<ReadableControlStyle *>(QApplication::style())) {
        return;
    }
    QApplication::setStyle(new ReadableControlStyle());
}

} // namespace quillby
