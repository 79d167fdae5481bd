#include "insights_window/InsightsLauncher.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillby {

InsightsLauncher::InsightsLauncher(HistoryCoordinator *history, ConfigurationManager *configurationManager,
                                   std::function<void()> manageHistoryAction, QObject *parent)
    : QObject(parent)
    , history_(history)
    , configurationManager_(configurationManager)
    , manageHistoryAction_(std::move(manageHistoryAction))
{
}

InsightsLauncher::~InsightsLauncher()
{
    delete window_.data();
}

void InsightsLauncher::show()
{
    if (window_ && window_->isVisible()) {
        window_->raise();
        window_->activateWindow();
        return;
    }
    if (!window_) {
        auto *window = new QWidget();
        window->setObjectName(QStringLiteral("insightsWindow"));
        window->setWindowTitle(QStringLiteral("Insights"));
        window->resize(980, 620);
        auto *layout = new QVBoxLayout(window);
        auto *label = new QLabel(QStringLiteral("Insights are not available in this version of Quillby yet."), window);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
        window_ = window;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace quillby
