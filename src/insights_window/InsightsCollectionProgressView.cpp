#include "insights_window/InsightsCollectionProgressView.h"

#include "core/async/RunDetached.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsSurfaces.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace quillby {

namespace {
constexpr double kCompletionDisplaySeconds = 2.0;
}

InsightsCollectionProgressView::InsightsCollectionProgressView(InsightsCollectionStatusState &state,
                                                               std::shared_ptr<Sleeper> sleeper, QWidget *parent)
    : QWidget(parent)
    , state_(state)
    , sleeper_(std::move(sleeper))
    , pieOpacity_(new InsightsAnimatedValue(0, [this](double) { update(); }, this))
    , pieFill_(new InsightsAnimatedValue(0, [this](double) { update(); }, this))
    , checkOpacity_(new InsightsAnimatedValue(0, [this](double) { update(); }, this))
    , checkAppear_(new InsightsAnimatedValue(0, [this](double) { update(); }, this))
{
    setObjectName(QStringLiteral("insightsCollectionProgress"));
    setAccessibleName(QStringLiteral("History collection"));
    setFixedSize(24, 24);
    connect(&state_, &InsightsCollectionStatusState::phaseChanged, this, [this] {
        scheduleAcknowledgement();
        refresh();
    });
}

InsightsCollectionProgressView::~InsightsCollectionProgressView()
{
    // Going away during the notice ends it: reopening the window does not show it again.
    disconnect(&state_, nullptr, this, nullptr);
    acknowledgementStop_.request_stop();
    if (const auto id = completionID()) {
        state_.acknowledgeCompletion(*id);
    }
}

void InsightsCollectionProgressView::setInput(Input input, bool isSaving)
{
    const bool changed = !input_ || *input_ != input;
    isSaving_ = isSaving;
    input_ = std::move(input);
    if (changed) {
        state_.update(input_->progress, input_->accountScope, input_->historyEpoch, input_->hasUnlockedInsights);
    }
    refresh();
}

std::optional<QUuid> InsightsCollectionProgressView::completionID() const
{
    if (const auto *complete = std::get_if<InsightsCollectionStatusState::Complete>(&state_.phase())) {
        return complete->id;
    }
    return std::nullopt;
}

bool InsightsCollectionProgressView::isIndicatorVisible() const
{
    if (!input_) {
        return false;
    }
    const bool complete = completionID().has_value();
    return (input_->progress || complete) &&
           !std::holds_alternative<InsightsCollectionStatusState::Hidden>(state_.phase()) &&
           state_.matches(input_->accountScope, input_->historyEpoch);
}

std::optional<double> InsightsCollectionProgressView::fillFraction() const
{
    if (!input_ || !input_->progress) {
        return std::nullopt;
    }
    return input_->progress->progressFraction();
}

QString InsightsCollectionProgressView::statusText() const
{
    if (input_ && input_->hasUnlockedInsights) {
        return isSaving_ ? QStringLiteral("Initial 3-day collection complete")
                         : QStringLiteral("Initial 3-day collection complete. History saving is off");
    }
    if (!input_ || !input_->progress) {
        return {};
    }
    const auto &progress = *input_->progress;
    QString text = progress.meetsReadinessGates()
                       ? QStringLiteral("Minimum dataset collected")
                       : QStringLiteral("Collecting history: %1 of the minimum dataset")
                             .arg(InsightsFormat::percent(progress.collectedShare(), 0));
    if (!isSaving_) {
        text += QStringLiteral(". History saving is off");
    }
    return text;
}

QString InsightsCollectionProgressView::coverageText() const
{
    if (!input_ || !input_->progress) {
        return {};
    }
    return InsightsFormat::percent(input_->progress->roundedDownCoverageFraction(), 1);
}

QString InsightsCollectionProgressView::collectionDaysText() const
{
    if (!input_ || !input_->progress) {
        return {};
    }
    return InsightsFormat::shortDecimal(input_->progress->roundedDownCollectionDays(), 1);
}

QString InsightsCollectionProgressView::helpText() const
{
    QStringList lines;
    lines << statusText();
    if (!input_ || !input_->hasUnlockedInsights) {
        lines << QStringLiteral("Collection: %1 of 3 days").arg(collectionDaysText())
              << QStringLiteral("Latest 3 days: %1 saved (70% target)").arg(coverageText()) << QString()
              << QStringLiteral("Progress always uses the latest 3 days, regardless of the report period. Meeting "
                                "these targets does not guarantee representative data.");
    } else {
        if (input_->progress) {
            lines << QStringLiteral("Latest 3 days: %1 saved").arg(coverageText());
        }
        lines << QString()
              << QStringLiteral("Your report stays available if readings are missing. Individual metrics may need "
                                "more history.");
    }
    return lines.join(QLatin1Char('\n'));
}

void InsightsCollectionProgressView::setReduceMotion(bool reduce)
{
    reduceMotion_ = reduce;
    if (reduce) {
        for (auto *value : {pieOpacity_, pieFill_, checkAppear_}) {
            value->finish();
        }
    }
}

bool InsightsCollectionProgressView::isAnimating() const
{
    return pieOpacity_->isAnimating() || pieFill_->isAnimating() || checkOpacity_->isAnimating() ||
           checkAppear_->isAnimating();
}

void InsightsCollectionProgressView::refresh()
{
    const bool visible = isIndicatorVisible();
    const QString help = visible ? helpText() : QString();
    if (toolTip() != help) {
        setToolTip(help);
    }
    if (accessibleDescription() != help) {
        setAccessibleDescription(help);
    }
    setAttribute(Qt::WA_TransparentForMouseEvents, !visible);

    const auto spring = InsightsMotion::forWidget(this, reduceMotion_, InsightsMotion::spring(kSpringResponse));
    // Fades stay with reduced motion; they only need the indicator on screen.
    const auto fadeIn = InsightsMotion::forWidget(this, false, InsightsMotion::easeInOut());
    const auto fadeOut = InsightsMotion::forWidget(this, false, InsightsMotion::easeOut());

    const auto fraction = fillFraction();
    const bool pie = visible && !completionID() && fraction;
    if (pie) {
        const bool arriving = pieOpacity_->target() == 0;
        // A pie that comes in comes in full size at its fill; one that is there moves its fill.
        pieFill_->moveTo(*fraction, arriving ? std::nullopt : spring);
        pieOpacity_->moveTo(1, spring);
    } else {
        pieOpacity_->moveTo(0, spring);
    }

    const bool checkmark = visible && completionID().has_value();
    if (checkmark && checkOpacity_->target() == 0) {
        if (reduceMotion_) {
            checkAppear_->moveTo(1, std::nullopt);
            checkOpacity_->moveTo(1, fadeIn);
        } else {
            checkOpacity_->moveTo(1, std::nullopt);
            checkAppear_->moveTo(0, std::nullopt);
            checkAppear_->moveTo(1, spring);
        }
    } else if (!checkmark && checkOpacity_->target() == 1) {
        checkOpacity_->moveTo(0, fadeOut);
    }
    update();
}

void InsightsCollectionProgressView::scheduleAcknowledgement()
{
    const auto id = completionID();
    if (id == scheduledFor_) {
        return;
    }
    acknowledgementStop_.request_stop();
    acknowledgementStop_ = std::stop_source();
    scheduledFor_ = id;
    if (id) {
        runDetached(acknowledgeLater(QPointer<InsightsCollectionProgressView>(this), *id, sleeper_, acknowledgementStop_.get_token()));
    }
}

QCoro::Task<void> InsightsCollectionProgressView::acknowledgeLater(QPointer<InsightsCollectionProgressView> self,
                                                                   QUuid id, std::shared_ptr<Sleeper> sleeper,
                                                                   std::stop_token stop)
{
    co_await sleeper->sleep(kCompletionDisplaySeconds, stop);
    if (!self || stop.stop_requested()) {
        co_return;
    }
    self->state_.acknowledgeCompletion(id);
}

void InsightsCollectionProgressView::paintEvent(QPaintEvent *)
{
    const double checkmark = checkmarkOpacity();
    const double pie = pieOpacity();
    if (checkmark <= 0 && pie <= 0) {
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (pie > 0) {
        p.setOpacity(std::min(pie, 1.0));
        const double fraction = std::clamp(pieFill(), 0.0, 1.0);
        QColor blue = InsightsColors::systemBlue();
        blue.setAlphaF(0.14f);
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawEllipse(r);
        if (fraction > 0) {
            blue.setAlphaF(0.8f);
            p.setBrush(blue);
            if (fraction >= 1) {
                p.drawEllipse(r);
            } else {
                QPainterPath sector;
                sector.moveTo(r.center());
                sector.arcTo(r, 90.0, -fraction * 360.0);
                sector.closeSubpath();
                p.drawPath(sector);
            }
        }
        blue.setAlphaF(0.25f);
        p.setPen(QPen(blue, 0.75));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(r.adjusted(0.375, 0.375, -0.375, -0.375));
    }
    if (checkmark > 0) {
        // Grows out of its centre as it appears.
        const double scale = std::clamp(checkmarkScale(), 0.0, 1.0);
        p.setOpacity(std::min(checkmark, 1.0));
        p.translate(QRectF(rect()).center());
        p.scale(scale, scale);
        p.translate(-QRectF(rect()).center());
        insightsSymbol(QStringLiteral("checkmark.circle.fill"), InsightsColors::green()).paint(&p, rect());
    }
}

} // namespace quillby
