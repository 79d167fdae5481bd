#include "widgets/AccessibilityMarks.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <QWidget>

namespace quillby {

namespace {

constexpr char kHeading[] = "quillbyAccessibleHeading";
constexpr char kHidden[] = "quillbyAccessibleHidden";
constexpr char kCombined[] = "quillbyAccessibleCombined";

bool isHidden(const QObject *object)
{
    return object && object->property(kHidden).toBool();
}

// A plain container: Qt's own interface for it, less the children hidden from accessibility.
class ContainerAccessible final : public QAccessibleWidget {
public:
    explicit ContainerAccessible(QWidget *widget) : QAccessibleWidget(widget) {}

    int childCount() const override { return static_cast<int>(shownChildren().size()); }
    QAccessibleInterface *child(int index) const override { return shownChildren().value(index); }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return shownChildren().indexOf(const_cast<QAccessibleInterface *>(child));
    }

private:
    QList<QAccessibleInterface *> shownChildren() const
    {
        QList<QAccessibleInterface *> result;
        const int count = QAccessibleWidget::childCount();
        for (int i = 0; i < count; ++i) {
            QAccessibleInterface *child = QAccessibleWidget::child(i);
            if (child && !isHidden(child->object())) {
                result.append(child);
            }
        }
        return result;
    }
};

// A widget read as one element: a heading, or a row of text and symbols read as one text.
class SingleElementAccessible final : public QAccessibleWidget {
public:
    SingleElementAccessible(QWidget *widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    QString text(QAccessible::Text kind) const override
    {
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty()) {
            if (const auto *label = qobject_cast<const QLabel *>(widget())) {
                text = label->text();
            }
        }
        return text;
    }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
};

// The row of the list a combo box opens that holds its current item is the selected one, also
// while the list is closed: a screen reader reads a combo box's value from that row when the box
// announces its value changed. Qt selects the row only when the list opens.
void selectCurrentRow(QComboBox *combo)
{
    QItemSelectionModel *selection = combo->view() ? combo->view()->selectionModel() : nullptr;
    if (!selection || !combo->model()) {
        return;
    }
    const QModelIndex current =
        combo->model()->index(combo->currentIndex(), combo->modelColumn(), combo->rootModelIndex());
    if (!current.isValid()) {
        selection->clear();
    } else if (!selection->isSelected(current) || selection->selectedIndexes().size() != 1) {
        // Selected, not made current: the current row of a list reads as focused.
        selection->select(current, QItemSelectionModel::ClearAndSelect);
    }
}

// A combo box named by its label (its accessible name, else the label it is the buddy of) whose
// value is the shown text; its child is the list it opens, as in Qt's own combo box interface.
class LabelledComboBoxAccessible final : public QAccessibleWidget {
public:
    explicit LabelledComboBoxAccessible(QWidget *widget) : QAccessibleWidget(widget, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value) {
            return shownText();
        }
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty()) {
            text = shownText();   // nothing names it: its text is the best there is
        }
        return text;
    }
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == combo()->view() ? 0 : -1;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = combo()->view()->isVisible();
        state.editable = combo()->isEditable();
        return state;
    }
    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &action) override
    {
        if (action != showMenuAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (!combo()->isEnabled()) {
            return;
        }
        if (combo()->view()->isVisible()) {
            combo()->hidePopup();
        } else {
            combo()->showPopup();
        }
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QComboBox *combo() const { return static_cast<QComboBox *>(widget()); }
    QString shownText() const
    {
        if (combo()->isEditable() && combo()->lineEdit()) {
            return combo()->lineEdit()->text();
        }
        return combo()->currentText();
    }
};

class CurrentRowFollower final : public QObject {
public:
    explicit CurrentRowFollower(QComboBox *combo) : QObject(combo), combo_(combo) {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == combo_ && event->type() == QEvent::Paint && !combo_->view()->isVisible()) {
            selectCurrentRow(combo_);
        }
        return false;
    }

private:
    QComboBox *combo_;
};

// Qt tells assistive technologies nothing when a combo box's current item changes (it renames
// the box on Linux, where a box is named by its text, and leaves it at that); a box named by its
// label announces its new value itself.
void announceValueChanges(QComboBox *combo)
{
    constexpr char kAnnouncing[] = "quillbyAccessibleAnnouncesValue";
    if (combo->property(kAnnouncing).toBool()) {
        return;
    }
    combo->setProperty(kAnnouncing, true);
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [combo] {
        selectCurrentRow(combo);
        QAccessibleValueChangeEvent event(combo, combo->currentText());
        QAccessible::updateAccessibility(&event);
    });
    selectCurrentRow(combo);
    // A box changed with its signals blocked shows its new item when it is painted next.
    combo->installEventFilter(new CurrentRowFollower(combo));
}

QAccessibleInterface *accessibilityFactory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    auto *widget = static_cast<QWidget *>(object);
    // The marks win over the class; the first class asked is the widget's own.
    if (widget->property(kHeading).toBool()) {
        return new SingleElementAccessible(widget, QAccessible::Heading);
    }
    if (widget->property(kCombined).toBool()) {
        return new SingleElementAccessible(widget, QAccessible::StaticText);
    }
    if (className == QLatin1String("QComboBox")) {
        announceValueChanges(static_cast<QComboBox *>(widget));
        return new LabelledComboBoxAccessible(widget);
    }
    // Qt gives a widget of no more specific class this same interface, with every child.
    if (className == QLatin1String("QWidget")) {
        return new ContainerAccessible(widget);
    }
    return nullptr;
}

void mark(QWidget *widget, const char *name)
{
    installAccessibilityInterfaces();
    widget->setProperty(name, true);
    // An interface Qt made before the mark (setting a label's text can ask for one) is made
    // again, now with the mark.
    if (QAccessibleInterface *made = QAccessible::queryAccessibleInterface(widget)) {
        if (!dynamic_cast<SingleElementAccessible *>(made) && name != kHidden) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
        }
    }
}

} // namespace

void installAccessibilityInterfaces()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibilityFactory);
        return true;
    }();
    (void)installed;
}

void setEnabledKeepingFocus(QWidget *widget, bool enabled)
{
    constexpr char kWaitingForFocus[] = "quillbyWaitingForFocus";
    if (enabled == !widget->testAttribute(Qt::WA_ForceDisabled)) {
        return;   // already as asked
    }
    QWidget *window = widget->window();
    if (!enabled) {
        const bool focused = window->focusWidget() == widget;
        if (focused) {
            // Without a focus widget while it waits; Tab starts over from the window.
            widget->clearFocus();
        }
        widget->setProperty(kWaitingForFocus, focused);
        widget->setEnabled(false);
        return;
    }
    widget->setEnabled(true);
    if (widget->property(kWaitingForFocus).toBool()) {
        widget->setProperty(kWaitingForFocus, false);
        if (!window->focusWidget() && widget->isVisible()) {
            widget->setFocus(Qt::OtherFocusReason);
        }
    }
}

void markAccessibleHeading(QWidget *widget)
{
    mark(widget, kHeading);
}

void hideFromAccessibility(QWidget *widget)
{
    mark(widget, kHidden);
    widget->setFocusPolicy(Qt::NoFocus);
}

void combineAccessibleChildren(QWidget *widget)
{
    mark(widget, kCombined);
}

namespace {
class StartFocus final : public QObject {
public:
    StartFocus(QWidget *dialog, QWidget *button) : QObject(dialog), button_(button) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            // After the dialog's own choice, which it makes while it is being shown.
            QTimer::singleShot(0, this, [button = button_] {
                if (button && button->isEnabled() && button->isVisible()) {
                    button->setFocus(Qt::OtherFocusReason);
                }
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> button_;
};
} // namespace

void startFocusOn(QWidget *dialog, QWidget *button)
{
    dialog->installEventFilter(new StartFocus(dialog, button));
}

} // namespace quillby
