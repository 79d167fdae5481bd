#include "insights_window/InsightsPageFade.h"

#include "widgets/AccessibilityMarks.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace quillby {

InsightsPageFade::InsightsPageFade(QWidget *parent)
    : QWidget(parent)
    , progress_(new InsightsAnimatedValue(1, [this](double) { update(); }, this))
{
    setObjectName(QStringLiteral("insightsPageFade"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hideFromAccessibility(this);
    connect(progress_, &InsightsAnimatedValue::finished, this, [this] {
        leaving_ = QPixmap();
        arriving_ = nullptr;
        hide();
    });
    hide();
    parent->installEventFilter(this);
}

bool InsightsPageFade::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible()) {
        setGeometry(parentWidget()->rect());
    }
    return false;
}

double InsightsPageFade::arrivingOpacity() const
{
    return arriving_ && isRunning() ? progress_->value() : 1.0;
}

double InsightsPageFade::leavingOpacity() const
{
    return isRunning() ? leavingStart_ * (1 - progress_->value()) : 0.0;
}

void InsightsPageFade::start(const QPixmap &leaving, QRect leavingRect, double leavingOpacity, QWidget *arriving,
                             const QColor &background, const std::optional<InsightsCurve> &curve)
{
    progress_->finish();
    if (!curve || (leaving.isNull() && !arriving)) {
        return;
    }
    leaving_ = leaving;
    leavingRect_ = leavingRect;
    leavingStart_ = leavingOpacity;
    arriving_ = arriving;
    background_ = background;
    setGeometry(parentWidget()->rect());
    raise();
    show();
    progress_->moveTo(0, std::nullopt);
    progress_->moveTo(1, curve);
}

void InsightsPageFade::finish()
{
    progress_->finish();
}

void InsightsPageFade::paintEvent(QPaintEvent *)
{
    if (!isRunning()) {
        return;
    }
    QPainter p(this);
    const double t = progress_->value();
    if (arriving_ && arriving_->isVisible()) {
        // The arriving page at opacity t: the background over it at 1 − t.
        QColor veil = background_;
        veil.setAlphaF(static_cast<float>(std::clamp(1 - t, 0.0, 1.0)));
        const QRect area(arriving_->mapTo(parentWidget(), QPoint(0, 0)), arriving_->size());
        p.fillRect(area, veil);
    }
    if (!leaving_.isNull()) {
        p.setOpacity(std::clamp(leavingStart_ * (1 - t), 0.0, 1.0));
        p.drawPixmap(leavingRect_, leaving_);
    }
}

} // namespace quillby
