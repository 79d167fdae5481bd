#include "widgets/AccessibilityMarks.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <utility>
#include <vector>

namespace quillby {

namespace {

constexpr char kHeading[] = "quillbyAccessibleHeading";
constexpr char kHidden[] = "quillbyAccessibleHidden";
constexpr char kCombined[] = "quillbyAccessibleCombined";

bool isHidden(const QObject *object)
{
    return object && object->property(kHidden).toBool();
}

// Whether `child` is in the tree: neither marked hidden nor hidden on screen (a hidden or
// collapsed control must not be found, or read, by a screen reader).
bool inTree(const QAccessibleInterface *child)
{
    if (!child || isHidden(child->object())) {
        return false;
    }
    const QObject *object = child->object();
    if (object && object->isWidgetType()) {
        const auto *widget = static_cast<const QWidget *>(object);
        // Hidden by its own choice: shown again only when told, whatever its parent does.
        if (!widget->isWindow() && widget->parentWidget() && !widget->isVisibleTo(widget->parentWidget())) {
            return false;
        }
    }
    return true;
}

// A plain container: Qt's own interface for it, less the children hidden from accessibility or
// from the screen. A bordered panel (a card of a form) is a grouping named by its accessible
// name, not the "frame" Qt makes of it: screen readers take a frame for a window of its own and
// drop the focus events of the controls in it.
class ContainerAccessible final : public QAccessibleWidget {
public:
    explicit ContainerAccessible(QWidget *widget, QAccessible::Role role = QAccessible::Client)
        : QAccessibleWidget(widget, role)
    {
    }

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
            if (inTree(child)) {
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
// Its shown text is also its (read-only) text: Orca reads a combo box's value there, and Qt
// offers no selection interface it would read it from otherwise.
class LabelledComboBoxAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LabelledComboBoxAccessible(QWidget *widget) : QAccessibleWidget(widget, QAccessible::ComboBox) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface *>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    // QAccessibleTextInterface: the shown text, read-only, without a caret or a selection.
    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override
    {
        return shownText().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(shownText().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

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

// The accessible row of the combo box's list that shows its current item.
QAccessibleInterface *currentRow(QComboBox *combo)
{
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(combo->view());
    const int current = combo->currentIndex();
    if (!list || current < 0) {
        return nullptr;
    }
    QAccessibleInterface *guess = current < list->childCount() ? list->child(current) : nullptr;
    const auto isCurrent = [current](QAccessibleInterface *row) {
        return row && row->tableCellInterface() && row->tableCellInterface()->rowIndex() == current;
    };
    if (isCurrent(guess)) {
        return guess;
    }
    for (int i = 0; i < list->childCount(); ++i) {
        if (QAccessibleInterface *row = list->child(i); isCurrent(row)) {
            return row;
        }
    }
    return nullptr;
}

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
        // A closed box with the focus hands it on to the row of its new value for a moment, so
        // a screen reader speaks the new value (Orca speaks nothing for the change itself; an
        // open list moves its own focus). The box keeps the keyboard focus.
        if (combo->hasFocus() && !combo->view()->isVisible() && combo->currentIndex() >= 0) {
            if (QAccessibleInterface *row = currentRow(combo)) {
                QAccessibleEvent focus(row, QAccessible::Focus);
                QAccessible::updateAccessibility(&focus);
            }
        }
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
    // A window of that class is a window to screen readers (Orca speaks the focus only in
    // what it knows for the active window).
    if (className == QLatin1String("QWidget")) {
        return new ContainerAccessible(widget, widget->isWindow() ? QAccessible::Window : QAccessible::Client);
    }
    if (className == QLatin1String("QFrame")) {
        const auto *frame = static_cast<QFrame *>(widget);
        if (frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine) {
            return new QAccessibleWidget(widget, QAccessible::Separator);
        }
        return new ContainerAccessible(widget, QAccessible::Grouping);
    }
    // The pages of a stack are structure, not content: a filler, which screen readers pass
    // over, in place of an unnamed "layered pane" they would read.
    if (className == QLatin1String("QStackedWidget")) {
        return new ContainerAccessible(widget, widget->accessibleName().isEmpty() ? QAccessible::Client
                                                                                   : QAccessible::Grouping);
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

constexpr char kWaitingForFocus[] = "quillbyWaitingForFocus";

// The first control inside `container`, in Tab order, that can take the focus now.
QWidget *firstFocusableIn(QWidget *container)
{
    QWidget *candidate = container;
    for (int guard = 0; guard < 10000; ++guard) {
        candidate = candidate->nextInFocusChain();
        if (!candidate || candidate == container) {
            return nullptr;
        }
        if (container->isAncestorOf(candidate) && candidate->isVisible() && candidate->isEnabled() &&
            (candidate->focusPolicy() & Qt::TabFocus) && !isHidden(candidate)) {
            return candidate;
        }
    }
    return nullptr;
}

// Keeps the keyboard focus on a control of the active window. Qt leaves a window without a
// focus widget when the focused control is deleted (a face of a form replaced by another) or is
// disabled with nothing after it to take the focus; a keyboard or screen-reader user is then
// nowhere. The focus goes instead to the first control of the nearest part of the window that
// is still shown around the lost control: what replaced it, or the step it was part of. A control
// disabled while it waits for its operation (setEnabledKeepingFocus) takes it back itself.
//
// It also lets assistive technologies hear of a text field's focus before its selection: a
// field reached by Tab selects its text as it takes the focus, which Qt reports before the
// focus; Orca then takes the field for the focus silently and drops the focus report that
// follows, so the field was never spoken. While assistive technology is on, such a field takes
// the focus as if given it by the program, and selects its text on the next turn.
class FocusKeeper final : public QObject {
public:
    FocusKeeper() : QObject(qApp)
    {
        connect(qApp, &QApplication::focusChanged, this, &FocusKeeper::focusChanged);
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow()) {
            windowActivated(static_cast<QWidget *>(watched));
            return false;
        }
        if (event->type() != QEvent::FocusIn || !QAccessible::isActive()) {
            return false;
        }
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason && reason != Qt::ShortcutFocusReason) {
            return false;
        }
        auto *field = qobject_cast<QLineEdit *>(watched);
        auto *spinBox = qobject_cast<QAbstractSpinBox *>(watched);
        if (!field && !spinBox) {
            return false;
        }
        QFocusEvent quiet(QEvent::FocusIn, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(watched, &quiet);
        QTimer::singleShot(0, watched, [widget = QPointer<QWidget>(static_cast<QWidget *>(watched)), field, spinBox] {
            if (!widget || !widget->hasFocus()) {
                return;
            }
            if (field && field->inputMask().isEmpty() && !field->hasSelectedText()) {
                field->selectAll();
            } else if (spinBox) {
                spinBox->selectAll();
            }
        });
        return true;
    }

private:
    void focusChanged(QWidget *, QWidget *now)
    {
        if (now) {
            QList<QPointer<QWidget>> path;
            for (QWidget *widget = now; widget; widget = widget->isWindow() ? nullptr : widget->parentWidget()) {
                path.append(widget);
            }
            lastWindow_ = now->window();
            pathFor(now->window()) = path;
            return;
        }
        // After the change is over: a control hidden or deleted in a row of changes may be
        // followed by the control that replaces it.
        QTimer::singleShot(0, this, [this, window = lastWindow_] { restore(window); });
    }

    void windowActivated(QWidget *window)
    {
        // A window coming back (a sheet or dialog over it closed) whose focused control was lost
        // meanwhile.
        QTimer::singleShot(0, this, [this, window = QPointer<QWidget>(window)] { restore(window); });
    }

    void restore(const QPointer<QWidget> &window)
    {
        if (!window || !window->isActiveWindow() || window->focusWidget() || QApplication::focusWidget() ||
            QApplication::activePopupWidget()) {
            return;
        }
        const QList<QPointer<QWidget>> path = pathFor(window);
        if (!path.isEmpty() && path.first() && path.first()->property(kWaitingForFocus).toBool()) {
            return;   // it takes the focus back itself
        }
        for (const QPointer<QWidget> &around : path) {
            if (!around || !around->isVisible()) {
                continue;
            }
            QWidget *target = around->isEnabled() && (around->focusPolicy() & Qt::TabFocus) && !isHidden(around)
                                  ? around.data()
                                  : firstFocusableIn(around);
            if (target) {
                target->setFocus(Qt::OtherFocusReason);
                return;
            }
        }
    }

    QList<QPointer<QWidget>> &pathFor(QWidget *window)
    {
        paths_.erase(std::remove_if(paths_.begin(), paths_.end(), [](const auto &entry) { return !entry.first; }),
                     paths_.end());
        for (auto &entry : paths_) {
            if (entry.first == window) {
                return entry.second;
            }
        }
        paths_.emplace_back(window, QList<QPointer<QWidget>>{});
        return paths_.back().second;
    }

    QPointer<QWidget> lastWindow_;
    // Per window: its last focused control, then that control's parents up to the window.
    std::vector<std::pair<QPointer<QWidget>, QList<QPointer<QWidget>>>> paths_;
};

} // namespace

void installAccessibilityInterfaces()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibilityFactory);
        if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
            new FocusKeeper();
        }
        return true;
    }();
    (void)installed;
}

void setEnabledKeepingFocus(QWidget *widget, bool enabled)
{
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

bool focusFirstControlIn(QWidget *container)
{
    QWidget *target = firstFocusableIn(container);
    if (target) {
        target->setFocus(Qt::OtherFocusReason);
    }
    return target != nullptr;
}

void updateAccessibleName(QWidget *widget, const QString &name)
{
    if (widget->accessibleName() != name) {
        widget->setAccessibleName(name);
    }
}

void updateAccessibleDescription(QWidget *widget, const QString &description)
{
    if (widget->accessibleDescription() != description) {
        widget->setAccessibleDescription(description);
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

namespace {
class LinkTabStops final : public QObject {
public:
    explicit LinkTabStops(QLabel *label) : QObject(label), label_(label) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != label_ || event->type() != QEvent::FocusIn) {
            return false;
        }
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason) {
            return false;
        }
        // The label takes the focus, then a Tab inside it chooses its (first) link.
        static_cast<QObject *>(label_)->event(event);
        if (label_->selectedText().isEmpty()) {
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
            static_cast<QObject *>(label_)->event(&tab);
        }
        return true;
    }

private:
    QLabel *label_;
};
} // namespace

void tabStopsOnLinks(QLabel *label)
{
    label->setTextInteractionFlags(label->textInteractionFlags() | Qt::LinksAccessibleByKeyboard);
    label->installEventFilter(new LinkTabStops(label));
}

} // namespace quillby
