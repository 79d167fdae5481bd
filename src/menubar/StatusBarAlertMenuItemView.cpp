#include "menubar/StatusBarAlertMenuItemView.h"

#include "menubar/StatusBarAccessibility.h"
#include "menubar/StatusBarMenuModel.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>

namespace quillby {

namespace {

constexpr int kContentWidth = 252;
constexpr int kIconWidth = 14;
constexpr int kIconSpacing = 6;

QColor secondaryColor(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.68f);
    return color;
}

} // namespace

StatusBarAlertMenuItemView::StatusBarAlertMenuItemView(const ErrorInfo &errorInfo, const QString &retryText,
                                                       StatusBarSymbol symbol, QWidget *parent)
    : QWidget(parent)
{
    installStatusBarAccessibility();
    setObjectName(QStringLiteral("statusAlertNotice"));
    const QPalette &pal = palette();
    const QColor label = pal.color(QPalette::WindowText);
    const QColor secondary = secondaryColor(pal);
    QFont regular = font();
    QFont bold = regular;
    bold.setBold(true);
    QFont small = regular;
    small.setPointSizeF(std::max(7.0, regular.pointSizeF() - 1.5));

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(14, 8, 14, 8);
    stack->setSpacing(7);
    stack->setSizeConstraint(QLayout::SetFixedSize);
    stack->addWidget(makeIconRow(symbol, QString::fromStdString(errorInfo.title), bold, label));
    stack->addWidget(makeLabel(QString::fromStdString(errorInfo.message), regular, secondary, kContentWidth));
    if (!errorInfo.remediation.empty()) {
        stack->addWidget(makeIconRow(StatusBarSymbol::arrowRight, QString::fromStdString(errorInfo.remediation), small,
                                     secondary));
    }
    if (!retryText.isEmpty()) {
        stack->addWidget(makeIconRow(StatusBarSymbol::arrowClockwise, retryText, small, secondary));
    }

    setAccessibleName(StatusBarMenuModel::alertAccessibleLabel(errorInfo, retryText));
    setFocusPolicy(Qt::NoFocus);
}

QSize StatusBarAlertMenuItemView::sizeHint() const
{
    return {kWidth, layout()->sizeHint().height()};
}

QWidget *StatusBarAlertMenuItemView::makeIconRow(StatusBarSymbol symbol, const QString &text, const QFont &font,
                                                 const QColor &color)
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kIconSpacing);
    layout->setAlignment(Qt::AlignTop);

    const QFontMetrics metrics(font);
    const int iconHeight = metrics.ascent() + metrics.descent();
    auto *image = new QLabel(row);
    image->setFixedSize(kIconWidth, iconHeight);
    image->setAlignment(Qt::AlignCenter);
    image->setPixmap(statusBarSymbolPixmap(symbol, std::min(kIconWidth, metrics.ascent()), color, devicePixelRatioF()));
    image->setAccessibleName(QString());
    layout->addWidget(image, 0, Qt::AlignTop);
    layout->addWidget(makeLabel(text, font, color, kContentWidth - kIconWidth - kIconSpacing), 0, Qt::AlignTop);
    row->setFixedWidth(kContentWidth);
    return row;
}

QLabel *StatusBarAlertMenuItemView::makeLabel(const QString &text, const QFont &font, const QColor &color, int width)
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->setFixedWidth(width);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

} // namespace quillby
