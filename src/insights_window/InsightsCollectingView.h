#pragma once

#include "insights_window/InsightsReadinessPresentation.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace quillby {

class AmbientBackgroundView;

// The readiness ring: a faint full circle, the arc of the fill from the top clockwise, and the
// chart symbol in the middle. One accessibility element.
class InsightsProgressRing : public QWidget {
    Q_OBJECT
public:
    explicit InsightsProgressRing(QWidget *parent = nullptr);
    void setFraction(std::optional<double> fraction, const QString &accessibleValue);
    double fraction() const { return fraction_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double fraction_ = 0;
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
    // Reduced motion: the background's line stands still.
    void setReduceMotion(bool reduce);
    const std::optional<Model> &model() const { return model_; }

private:
    std::optional<Model> model_;
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
