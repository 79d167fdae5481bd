#pragma once

#include "insights_window/InsightsMotion.h"

#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace quillby {

// The opacity change between two pages of the Insights window, laid over the pages for as long
// as it runs: the page that leaves, as it looked, fades out over the new one, and a page that
// arrives with a fade comes up out of the window background. The pages underneath stay live and
// take the clicks; this layer takes none, is not in the accessibility tree and is hidden (and
// runs nothing) between changes.
class InsightsPageFade : public QWidget {
    Q_OBJECT
public:
    explicit InsightsPageFade(QWidget *parent);

    // Starts a change over `area` (in the parent): `leaving` (may be null: that page goes at
    // once) drawn at `leavingRect` from `leavingOpacity` to 0; `arriving`, when set, is the page
    // that fades in (its area is read as it moves). Without a curve nothing is shown.
    void start(const QPixmap &leaving, QRect leavingRect, double leavingOpacity, QWidget *arriving,
               const QColor &background, const std::optional<InsightsCurve> &curve);
    // Ends a running change at once.
    void finish();

    bool isRunning() const { return progress_->isAnimating(); }
    // How much of the change is done (0...1).
    double progress() const { return progress_->value(); }
    // The opacity the page shown underneath has now: below 1 while it fades in.
    double arrivingOpacity() const;
    double leavingOpacity() const;
    QWidget *arrivingPage() const { return arriving_; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    InsightsAnimatedValue *progress_;
    QPixmap leaving_;
    QRect leavingRect_;
    double leavingStart_ = 0;
    QPointer<QWidget> arriving_;
    QColor background_;
};

} // namespace quillby
