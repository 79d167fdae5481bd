#include "menubar/StatusBarAccessibility.h"

#include "menubar/GlucoseGraphView.h"
#include "menubar/StatusBarAlertMenuItemView.h"

#include <QAccessible>
#include <QAccessibleWidget>

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

QAccessibleInterface *statusBarAccessibleFactory(const QString &className, QObject *object)
{
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
        return true;
    }();
    (void)installed;
}

} // namespace quillby
