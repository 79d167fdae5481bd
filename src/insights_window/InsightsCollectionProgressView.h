#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "insights/InsightsCollectionProgress.h"
#include "insights_window/InsightsCollectionStatusState.h"
#include "insights_window/InsightsMotion.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

// The 24 px collection indicator: a pie filling towards the readiness gates while collecting,
// and, when Insights unlock while the window is open, a green checkmark that stays 2 s and then
// goes for good. It keeps the shared status state moving even while it is transparent.
// Motion: the pie fades in and out and its fill follows a spring of response 0.3 s; the
// checkmark appears (growing out of its centre along the same spring) and leaves with a 0.25 s
// ease-out fade. With reduced motion the pie jumps and the checkmark only fades.
class InsightsCollectionProgressView : public QWidget {
    Q_OBJECT
public:
    struct Input {
        std::optional<InsightsCollectionProgress> progress;
        std::optional<std::string> accountScope;
        std::optional<QUuid> historyEpoch;
        bool hasUnlockedInsights = false;
        bool operator==(const Input &) const = default;
    };

    InsightsCollectionProgressView(InsightsCollectionStatusState &state, std::shared_ptr<Sleeper> sleeper,
                                   QWidget *parent = nullptr);
    ~InsightsCollectionProgressView() override;

    // Feeds the view; the status state is updated when the input changed (and on the first call).
    void setInput(Input input, bool isSaving);

    std::optional<QUuid> completionID() const;
    bool isIndicatorVisible() const;
    std::optional<double> fillFraction() const;
    QString statusText() const;
    QString coverageText() const;
    QString collectionDaysText() const;
    QString helpText() const;

    static constexpr double kSpringResponse = 0.3;
    void setReduceMotion(bool reduce);
    // What is drawn now (0...1 each): the pie's opacity and fill, and the checkmark's opacity
    // and appearance (its size, as a share of the full size).
    double pieOpacity() const { return pieOpacity_->value(); }
    double pieFill() const { return pieFill_->value(); }
    double checkmarkOpacity() const { return checkOpacity_->value() * checkAppear_->value(); }
    double checkmarkScale() const { return checkAppear_->value(); }
    bool isAnimating() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    void scheduleAcknowledgement();
    static QCoro::Task<void> acknowledgeLater(QPointer<InsightsCollectionProgressView> self, QUuid id,
                                              std::shared_ptr<Sleeper> sleeper, std::stop_token stop);

    InsightsCollectionStatusState &state_;
    std::shared_ptr<Sleeper> sleeper_;
    std::optional<Input> input_;
    bool isSaving_ = false;
    std::optional<QUuid> scheduledFor_;
    std::stop_source acknowledgementStop_;
    bool reduceMotion_ = false;
    InsightsAnimatedValue *pieOpacity_;
    InsightsAnimatedValue *pieFill_;
    InsightsAnimatedValue *checkOpacity_;
    InsightsAnimatedValue *checkAppear_;
};

} // namespace quillby
