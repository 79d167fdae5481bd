#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace quillby {

class ConfigurationManager;
class HistoryCoordinator;

// Owner of the "Insights" window: builds it on demand and reuses it while it is visible.
// Main thread only.
class InsightsLauncher : public QObject {
    Q_OBJECT
public:
    InsightsLauncher(HistoryCoordinator *history, ConfigurationManager *configurationManager,
                     std::function<void()> manageHistoryAction, QObject *parent = nullptr);
    ~InsightsLauncher() override;

    void show();
    QWidget *window() const { return window_; }
    const std::function<void()> &manageHistoryAction() const { return manageHistoryAction_; }

private:
    HistoryCoordinator *history_;
    ConfigurationManager *configurationManager_;
    std::function<void()> manageHistoryAction_;
    QPointer<QWidget> window_;
};

} // namespace quillby
