#pragma once

#include "insights_window/InsightsMotion.h"
#include "insights_window/InsightsReadinessPresentation.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace quillby {

class AmbientBackgroundView;

// The readiness ring: a faint full circle, the arc of the fill from the top clockwise, and the
// chart symbol in the middle. One accessibility element. A new fill follows a spring of
// response 0.4 s (critically damped: it never overshoots).
class InsightsProgressRing : public QWidget {
    Q_OBJECT
public:
    static constexpr double kSpringResponse = 0.4;

    explicit InsightsProgressRing(QWidget *parent = nullptr);
    // The new fill, along `curve` from the fill shown now (none: at once).
    void setFraction(std::optional<double> fraction, const QString &accessibleValue,
                     const std::optional<InsightsCurve> &curve = std::nullopt);
    // The fill it is heading for, and the fill drawn now.
    double fraction() const { return fill_->target(); }
    double shownFraction() const { return fill_->value(); }
    InsightsAnimatedValue &fill() { return *fill_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    InsightsAnimatedValue *fill_;
};

// The card shown before the first report: title, message, the ring and the one action that
// moves things on (enable saving, open the Insights settings, or try again after an error).
class InsightsCollectingView : public QWidget {
    Q_OBJECT
public:
    struct Model {
        InsightsReadinessPresentation presentation;
        bool canEnableHistory = false;
        std::optional<QString> errorMessage;
        bool isRetrying = false;
        bool operator==(const Model &) const = default;
    };

    InsightsCollectingView(std::function<void()> enableHistoryAction, std::function<void()> manageHistoryAction,
                           std::function<void()> retryAction, QWidget *parent = nullptr);

    void setModel(const Model &model);
    // Reduced motion: the background's line stands still and the ring jumps to its fill.
    void setReduceMotion(bool reduce);
    const std::optional<Model> &model() const { return model_; }

private:
    std::optional<Model> model_;
    bool reduceMotion_ = false;
    AmbientBackgroundView *background_;
    InsightsProgressRing *ring_;
    QLabel *title_;
    QLabel *message_;
    QPushButton *enableButton_;
    QPushButton *settingsButton_;
    QWidget *errorBlock_;
    QLabel *errorText_;
    QPushButton *retryButton_;
};

} // namespace quillby
