#include "insights_window/InsightsTextSelection.h"

#include <QAction>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace quillby {

InsightsTextSelection::InsightsTextSelection(QWidget *root) : QObject(root), root_(root)
{
    // Ctrl+C wherever the keyboard focus is in the window: the texts themselves never take it.
    auto *copyAction = new QAction(root);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WindowShortcut);
    connect(copyAction, &QAction::triggered, this, [this] { copy(); });
    root->addAction(copyAction);
    root->installEventFilter(this);
}

void InsightsTextSelection::addLabels(QWidget *widget)
{
    for (QLabel *label : widget->findChildren<QLabel *>()) {
        if (!label->text().isEmpty() || label->pixmap().isNull()) {
            add(label);
        }
    }
}

void InsightsTextSelection::add(QLabel *label)
{
    std::erase_if(labels_, [](const QPointer<QLabel> &known) { return known.isNull(); });
    if (std::find(labels_.begin(), labels_.end(), label) != labels_.end()) {
        return;
    }
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Qt gives a selectable label click focus; here a click selects and the focus stays.
    label->setFocusPolicy(Qt::NoFocus);
    label->installEventFilter(this);
    labels_.emplace_back(label);
}

QString InsightsTextSelection::selectedText() const
{
    for (const auto &label : labels_) {
        if (label && label->hasSelectedText()) {
            return label->selectedText();
        }
    }
    return {};
}

bool InsightsTextSelection::copy() const
{
    const QString text = selectedText();
    if (text.isEmpty()) {
        return false;
    }
    QGuiApplication::clipboard()->setText(text);
    return true;
}

void InsightsTextSelection::clearSelection(const QLabel *except)
{
    for (const auto &label : labels_) {
        if (label && label != except && label->hasSelectedText()) {
            label->setSelection(0, 0);
        }
    }
}

bool InsightsTextSelection::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        // A press starts a new selection: the one in another text (or a press beside the texts)
        // ends the old one.
        clearSelection(qobject_cast<QLabel *>(watched));
    }
    return false;
}

} // namespace quillby
