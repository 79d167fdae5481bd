#include "menubar/StatusBarAccessibility.h"

#include "menubar/GlucoseGraphView.h"
#include "menubar/StatusBarAlertMenuItemView.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>

namespace quillby {

namespace {

// One element whose label says everything; its child widgets stay out of the accessibility tree.
class SingleElementAccessible final : public QAccessibleWidget {
public:
    SingleElementAccessible(QWidget *widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *focusChild() const override { return nullptr; }
};

constexpr char kListedWindow[] = "quillbyListedAccessibleWindow";

// The application's windows as Qt lists them, then the listed popups that are shown.
class ApplicationAccessible final : public QAccessibleApplication {
public:
    int childCount() const override { return QAccessibleApplication::childCount() + static_cast<int>(popups().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const int windows = QAccessibleApplication::childCount();
        return index < windows ? QAccessibleApplication::child(index) : popups().value(index - windows);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const int index = QAccessibleApplication::indexOfChild(child);
        if (index >= 0) {
            return index;
        }
        const int popup = static_cast<int>(popups().indexOf(const_cast<QAccessibleInterface *>(child)));
        return popup < 0 ? -1 : QAccessibleApplication::childCount() + popup;
    }

private:
    static QList<QAccessibleInterface *> popups()
    {
        QList<QAccessibleInterface *> result;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->windowType() == Qt::Popup && window->isVisible() && window->property(kListedWindow).toBool()) {
                if (QAccessibleInterface *popup = QAccessible::queryAccessibleInterface(window)) {
                    result.append(popup);
                }
            }
        }
        return result;
    }
};

QAccessibleInterface *statusBarAccessibleFactory(const QString &className, QObject *object)
{
    if (object && object == qApp && className == QLatin1String("QApplication")) {
        return new ApplicationAccessible;
    }
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    auto *widget = static_cast<QWidget *>(object);
    if (className == QLatin1String(GlucoseGraphView::staticMetaObject.className())) {
        return new SingleElementAccessible(widget, QAccessible::Graphic);
    }
    if (className == QLatin1String(StatusBarAlertMenuItemView::staticMetaObject.className())) {
        return new SingleElementAccessible(widget, QAccessible::Grouping);
    }
    return nullptr;
}

} // namespace

void installStatusBarAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(statusBarAccessibleFactory);
        // The application's interface is made once, often before this: made again, it is ours.
        if (qobject_cast<QApplication *>(qApp)) {
            QAccessibleInterface *application = QAccessible::queryAccessibleInterface(qApp);
            if (application && !dynamic_cast<ApplicationAccessible *>(application)) {
                QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(application));
            }
        }
        return true;
    }();
    (void)installed;
}

void listAsAccessibleWindow(QWidget *popup)
{
    installStatusBarAccessibility();
    popup->setProperty(kListedWindow, true);
}

} // namespace quillby
