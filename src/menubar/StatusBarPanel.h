#pragma once

#include "core/Clock.h"
#include "menubar/GlucoseGraphView.h"
#include "menubar/StatusBarMenuModel.h"

#include <QAbstractButton>
#include <QWidget>

#include <memory>
#include <vector>

class QVBoxLayout;

namespace quillby {

// One entry of the popup panel, drawn like a menu item: its title on the left, its keyboard
// shortcut on the right, highlighted under the pointer or with keyboard focus.
class StatusBarPanelEntry : public QAbstractButton {
    Q_OBJECT
public:
    StatusBarPanelEntry(const StatusBarMenuEntry &entry, QWidget *parent = nullptr);
    const StatusBarMenuEntry &entry() const { return entry_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    StatusBarMenuEntry entry_;
    bool hovered_ = false;
};

// The contents of the status item's popup and of the status window: the glucose graph on
// top, then the entries of the menu model (alert row, update, snooze, Insights, Settings, Quit).
class StatusBarPanel : public QWidget {
    Q_OBJECT
public:
    explicit StatusBarPanel(std::shared_ptr<const Clock> clock, StatusDateFormatter formatter = StatusDateFormatter(),
                            QWidget *parent = nullptr);

    GlucoseGraphView *graphView() const { return graph_; }
    // Replaces every entry below the graph; the graph entry of the list is the graph itself.
    void setEntries(const std::vector<StatusBarMenuEntry> &entries);
    const std::vector<StatusBarMenuEntry> &entries() const { return entries_; }
    // Moves keyboard focus to the first enabled entry.
    void focusFirstEntry();

signals:
    void actionTriggered(quillby::StatusBarMenuAction action);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void moveFocus(int step);
    std::vector<StatusBarPanelEntry *> enabledEntries() const;

    GlucoseGraphView *graph_;
    QWidget *body_;
    QVBoxLayout *bodyLayout_;
    std::vector<StatusBarMenuEntry> entries_;
};

} // namespace quillby
