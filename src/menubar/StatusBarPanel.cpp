#include "menubar/StatusBarPanel.h"

#include "menubar/StatusBarAlertMenuItemView.h"

#include <QFrame>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QShortcut>
#include <QStyleOption>
#include <QVBoxLayout>

namespace quillby {

namespace {

constexpr int kHorizontalPadding = 14;

QKeySequence shortcutFor(const QString &key)
{
    if (key.isEmpty()) {
        return {};
    }
    return QKeySequence(QStringLiteral("Ctrl+") + key.toUpper());
}

} // namespace

StatusBarPanelEntry::StatusBarPanelEntry(const StatusBarMenuEntry &entry, QWidget *parent)
    : QAbstractButton(parent), entry_(entry)
{
    setText(entry.text);
    setObjectName(entry.objectName);
    setAccessibleName(entry.text);
    setEnabled(entry.enabled);
    setFocusPolicy(entry.enabled ? Qt::StrongFocus : Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize StatusBarPanelEntry::sizeHint() const
{
    return {GlucoseGraphView::kWidth, fontMetrics().height() + 10};
}

void StatusBarPanelEntry::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPalette &pal = palette();
    const bool highlighted = isEnabled() && (hovered_ || hasFocus() || isDown());
    if (highlighted) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(pal.color(QPalette::Highlight));
        painter.drawRoundedRect(QRectF(rect()).adjusted(5, 1, -5, -1), 4, 4);
    }
    QColor text = pal.color(highlighted ? QPalette::HighlightedText : QPalette::WindowText);
    if (!isEnabled()) {
        text = pal.color(QPalette::Disabled, QPalette::WindowText);
    }
    const QRect area = rect().adjusted(kHorizontalPadding, 0, -kHorizontalPadding, 0);
    painter.setPen(text);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, entry_.text);
    if (!entry_.shortcutKey.isEmpty()) {
        QColor hint = text;
        hint.setAlphaF(highlighted ? 0.85f : 0.55f);
        painter.setPen(hint);
        painter.drawText(area, Qt::AlignRight | Qt::AlignVCenter,
                         shortcutFor(entry_.shortcutKey).toString(QKeySequence::NativeText));
    }
}

void StatusBarPanelEntry::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        event->ignore();   // the panel moves the focus
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void StatusBarPanelEntry::enterEvent(QEnterEvent *event)
{
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void StatusBarPanelEntry::leaveEvent(QEvent *event)
{
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

StatusBarPanel::StatusBarPanel(std::shared_ptr<const Clock> clock, StatusDateFormatter formatter, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("statusBarPanel"));
    setAccessibleName(QStringLiteral("Quillby"));
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    graph_ = new GlucoseGraphView(std::move(clock), std::move(formatter), this);
    layout->addWidget(graph_);
    body_ = new QWidget(this);
    bodyLayout_ = new QVBoxLayout(body_);
    bodyLayout_->setContentsMargins(0, 0, 0, 0);
    bodyLayout_->setSpacing(0);
    layout->addWidget(body_);

    // The menu's keyboard equivalents work while the panel has focus.
    const std::pair<const char *, StatusBarMenuAction> keys[] = {
        {"i", StatusBarMenuAction::insights}, {",", StatusBarMenuAction::settings}, {"q", StatusBarMenuAction::quit}};
    for (const auto &[key, action] : keys) {
        auto *shortcut = new QShortcut(shortcutFor(QString::fromLatin1(key)), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, action = action] { emit actionTriggered(action); });
    }
}

void StatusBarPanel::setEntries(const std::vector<StatusBarMenuEntry> &entries)
{
    entries_ = entries;
    const bool hadFocus = body_->isAncestorOf(QWidget::focusWidget());
    const QString focusedName = hadFocus ? QWidget::focusWidget()->objectName() : QString();
    while (QLayoutItem *item = bodyLayout_->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            // An entry may be rebuilt away from inside its own click: delete it later, and
            // take it out of the panel now.
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    for (const StatusBarMenuEntry &entry : entries) {
        switch (entry.kind) {
        case StatusBarMenuEntry::Kind::graph:
            break;
        case StatusBarMenuEntry::Kind::separator: {
            auto *line = new QFrame(body_);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            line->setContentsMargins(kHorizontalPadding, 0, kHorizontalPadding, 0);
            line->setFixedHeight(9);
            bodyLayout_->addWidget(line);
            break;
        }
        case StatusBarMenuEntry::Kind::alertRow:
            if (entry.alert) {
                bodyLayout_->addWidget(new StatusBarAlertMenuItemView(*entry.alert, entry.retryText,
                                                                      StatusBarSymbol::warningTriangle, body_));
            }
            break;
        case StatusBarMenuEntry::Kind::action: {
            auto *button = new StatusBarPanelEntry(entry, body_);
            const StatusBarMenuAction action = entry.action;
            connect(button, &QAbstractButton::clicked, this, [this, action] { emit actionTriggered(action); });
            bodyLayout_->addWidget(button);
            if (hadFocus && entry.objectName == focusedName) {
                button->setFocus();
            }
            break;
        }
        }
    }
    bodyLayout_->activate();
    layout()->activate();
}

std::vector<StatusBarPanelEntry *> StatusBarPanel::enabledEntries() const
{
    std::vector<StatusBarPanelEntry *> result;
    for (int i = 0; i < bodyLayout_->count(); ++i) {
        auto *entry = qobject_cast<StatusBarPanelEntry *>(bodyLayout_->itemAt(i)->widget());
        if (entry && entry->isEnabled()) {
            result.push_back(entry);
        }
    }
    return result;
}

void StatusBarPanel::focusFirstEntry()
{
    const auto entries = enabledEntries();
    if (!entries.empty()) {
        entries.front()->setFocus(Qt::PopupFocusReason);
    }
}

void StatusBarPanel::moveFocus(int step)
{
    const auto entries = enabledEntries();
    if (entries.empty()) {
        return;
    }
    int index = -1;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        if (entries[i]->hasFocus()) {
            index = i;
        }
    }
    const int count = static_cast<int>(entries.size());
    const int next = index < 0 ? (step > 0 ? 0 : count - 1) : (index + step + count) % count;
    entries[next]->setFocus(Qt::TabFocusReason);
}

void StatusBarPanel::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Down:
        moveFocus(1);
        return;
    case Qt::Key_Up:
        moveFocus(-1);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace quillby
