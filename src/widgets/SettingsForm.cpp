#include "widgets/SettingsForm.h"

#include "platform/Appearance.h"
#include "widgets/AccessibilityMarks.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QShowEvent>
#include <QVBoxLayout>

namespace quillby {

namespace {

QFont scaledFont(const QFont &base, double factor)
{
    QFont font = base;
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(9, static_cast<int>(font.pixelSize() * factor)));
    }
    return font;
}

} // namespace

QLabel *makePlainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

void useSecondaryColour(QWidget *widget)
{
    // The palette's secondary text colour, whatever palette the widget shows: the Settings
    // window keeps it readable on the desktop's scheme as it changes (followDesktopAppearance),
    // the light windows have it in their palette.
    widget->setForegroundRole(kSecondaryTextRole);
}

void followDesktopAppearance(QWidget *root)
{
    const QColor wanted = secondaryTextColor(root->palette());
    if (root->palette().color(kSecondaryTextRole) == wanted) {
        return;
    }
    // Only the secondary role is set here; every other role keeps following the desktop.
    QPalette own;
    own.setResolveMask(0);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        own.setColor(group, kSecondaryTextRole, secondaryTextColor(root->palette(), group));
    }
    root->setPalette(own);
}

QLabel *makeSecondaryLabel(const QString &text, bool small, QWidget *parent)
{
    QLabel *label = makePlainLabel(text, parent);
    label->setWordWrap(true);
    useSecondaryColour(label);
    if (small) {
        label->setFont(scaledFont(label->font(), 0.88));
    }
    return label;
}

QLabel *makeSymbolLabel(const QIcon &icon, int size, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(icon.pixmap(size, size));
    label->setFixedSize(size, size);
    // Decorative: a screen reader reads the text beside it.
    hideFromAccessibility(label);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

SettingsForm::SettingsForm(QWidget *parent)
    : QScrollArea(parent)
{
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    // The form's controls take the focus, and the form scrolls to the one that has it: the
    // scroll area itself is no Tab stop.
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget(this);
    content->setObjectName(QStringLiteral("settingsFormContent"));
    auto *outer = new QVBoxLayout(content);
    outer->setContentsMargins(20, 12, 20, 16);
    outer->setSpacing(0);
    sections_ = new QVBoxLayout();
    sections_->setSpacing(18);
    outer->addLayout(sections_);
    outer->addStretch(1);
    setWidget(content);
}

SettingsSection *SettingsForm::addSection(const QString &header, const QString &footer)
{
    auto *section = new SettingsSection(header, footer, widget());
    sections_->addWidget(section);
    return section;
}

void SettingsForm::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    if (!event->spontaneous()) {
        appeared();
    }
}

void SettingsForm::hideEvent(QHideEvent *event)
{
    QScrollArea::hideEvent(event);
    if (!event->spontaneous()) {
        disappeared();
    }
}

SettingsSection::SettingsSection(const QString &header, const QString &footer, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        header_ = makePlainLabel(header, this);
        QFont font = header_->font();
        font.setBold(true);
        header_->setFont(font);
        markAccessibleHeading(header_);
        layout->addWidget(header_);
    }
    group_ = new QFrame(this);
    group_->setObjectName(QStringLiteral("settingsGroup"));
    group_->setFrameShape(QFrame::StyledPanel);
    group_->setAutoFillBackground(true);
    group_->setBackgroundRole(QPalette::Base);
    // A grouping of the rows, named by the section's header.
    group_->setAccessibleName(header);
    rows_ = new QVBoxLayout(group_);
    rows_->setContentsMargins(12, 8, 12, 8);
    rows_->setSpacing(8);
    layout->addWidget(group_);
    footers_ = new QVBoxLayout();
    footers_->setContentsMargins(2, 0, 2, 0);
    footers_->setSpacing(4);
    layout->addLayout(footers_);
    if (!footer.isEmpty()) {
        footer_ = addFooterLine(footer);
    }
}

QWidget *SettingsSection::addRow(QWidget *widget)
{
    widget->setParent(group_);
    rows_->addWidget(widget);
    return widget;
}

QWidget *SettingsSection::addLabeledRow(const QString &title, QWidget *control, QLabel **titleLabel)
{
    auto *row = new QWidget(group_);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    QLabel *label = makePlainLabel(title, row);
    label->setBuddy(control);
    if (titleLabel) {
        *titleLabel = label;
    }
    layout->addWidget(label);
    layout->addStretch(1);
    control->setParent(row);
    layout->addWidget(control);
    rows_->addWidget(row);
    return row;
}

QLabel *SettingsSection::addValueRow(const QString &title, const QString &value, QWidget **rowOut)
{
    QLabel *valueLabel = makePlainLabel(value);
    valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    valueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    useSecondaryColour(valueLabel);
    // Read as its value; the title is the label it is the buddy of, and its description.
    valueLabel->setAccessibleDescription(title);
    QWidget *row = addLabeledRow(title, valueLabel);
    if (rowOut) {
        *rowOut = row;
    }
    return valueLabel;
}

QLabel *SettingsSection::addFooterLine(const QString &text)
{
    QLabel *label = makeSecondaryLabel(text, true, this);
    footers_->addWidget(label);
    return label;
}

ProgressButton::ProgressButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent)
{
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, &ProgressButton::advance);
}

void ProgressButton::setBusy(bool busy)
{
    if (busy == busy_) {
        return;
    }
    busy_ = busy;
    if (busy_) {
        idleIcon_ = icon();
        frame_ = 0;
        advance();
        timer_.start();
    } else {
        timer_.stop();
        setIcon(idleIcon_);
    }
}

void ProgressButton::advance()
{
    // A small indeterminate indicator: an arc turning one twelfth per frame.
    const int size = iconSize().height() > 0 ? iconSize().height() : 16;
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(palette().color(QPalette::ButtonText), 2.0);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    const QRectF bounds(2, 2, size - 4, size - 4);
    painter.drawArc(bounds, -frame_ * 30 * 16, 270 * 16);
    painter.end();
    setIcon(QIcon(pixmap));
    frame_ = (frame_ + 1) % 12;
}

} // namespace quillby
