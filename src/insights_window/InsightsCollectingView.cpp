#include "insights_window/InsightsCollectingView.h"

#include "insights_window/InsightsSurfaces.h"
#include "widgets/AmbientBackgroundView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quillby {

InsightsProgressRing::InsightsProgressRing(QWidget *parent)
    : QWidget(parent), fill_(new InsightsAnimatedValue(0, [this](double) { update(); }, this))
{
    setObjectName(QStringLiteral("insightsCollectionRing"));
    setAccessibleName(QStringLiteral("History collection progress"));
    setFixedSize(80, 80);
}

void InsightsProgressRing::setFraction(std::optional<double> fraction, const QString &accessibleValue,
                                       const std::optional<InsightsCurve> &curve)
{
    const double value = fraction && std::isfinite(*fraction) ? std::clamp(*fraction, 0.0, 1.0) : 0.0;
    // The spoken value is the new one at once; only the drawing moves.
    if (accessibleDescription() != accessibleValue) {
        setAccessibleDescription(accessibleValue);
    }
    fill_->moveTo(value, curve);
}

void InsightsProgressRing::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor blue = InsightsColors::systemBlue();
    QColor faint = blue;
    faint.setAlphaF(0.12f);
    p.setPen(QPen(faint, 3));
    p.drawEllipse(circle);
    const double fraction = std::clamp(fill_->value(), 0.0, 1.0);
    if (fraction > 0) {
        QPen arc(blue, 3);
        arc.setCapStyle(Qt::RoundCap);
        p.setPen(arc);
        // From the top, clockwise; Qt counts sixteenths of a degree, counter-clockwise.
        p.drawArc(circle, 90 * 16, -static_cast<int>(std::lround(fraction * 360 * 16)));
    }
    const int symbol = 28;
    insightsSymbol(QStringLiteral("chart.bar.xaxis"), blue)
        .paint(&p, QRect((width() - symbol) / 2, (height() - symbol) / 2, symbol, symbol));
}

InsightsCollectingView::InsightsCollectingView(std::function<void()> enableHistoryAction,
                                               std::function<void()> manageHistoryAction,
                                               std::function<void()> retryAction, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("insightsCollectingView"));
    setAutoFillBackground(true);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    background_ = new AmbientBackgroundView(std::nullopt, InsightsColors::windowBackground(InsightsColors::palette()), 1.0, true, false, this);
    background_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    row->addWidget(background_, 1);

    auto *content = new QWidget(this);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(48, 32, 48, 32);
    column->setSpacing(24);
    column->addStretch(1);
    ring_ = new InsightsProgressRing(content);
    column->addWidget(ring_, 0, Qt::AlignLeft);

    auto *texts = new QVBoxLayout();
    texts->setSpacing(12);
    title_ = plainLabel(QString(), content);
    title_->setObjectName(QStringLiteral("insightsCollectingTitle"));
    title_->setWordWrap(true);
    QFont titleFont = title_->font();
    titleFont.setPixelSize(26);
    titleFont.setWeight(QFont::DemiBold);
    title_->setFont(titleFont);
    texts->addWidget(title_);
    message_ = plainLabel(QString(), content);
    message_->setObjectName(QStringLiteral("insightsCollectingMessage"));
    message_->setWordWrap(true);
    QFont messageFont = message_->font();
    messageFont.setPixelSize(15);
    message_->setFont(messageFont);
    useSecondaryText(message_);
    texts->addWidget(message_);
    column->addLayout(texts);

    enableButton_ = new QPushButton(QStringLiteral("Enable Insights"), content);
    enableButton_->setObjectName(QStringLiteral("enableInsightsHistoryButton"));
    enableButton_->setAccessibleName(QStringLiteral("Enable Insights"));
    enableButton_->setDefault(true);
    enableButton_->setMinimumHeight(34);
    // Prominent: the one action of the card.
    // The accent of the window's palette, on which its highlighted text reads at more than 4.5:1.
    const QPalette &colours = InsightsColors::palette();
    enableButton_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 7px; padding: 7px 18px; }"
                       "QPushButton:disabled { background: rgba(0, 122, 255, 90); }")
            .arg(colours.color(QPalette::Active, QPalette::Highlight).name(),
                 colours.color(QPalette::Active, QPalette::HighlightedText).name()));
    connect(enableButton_, &QPushButton::clicked, this, [action = std::move(enableHistoryAction)] {
        if (action) {
            action();
        }
    });
    column->addWidget(enableButton_, 0, Qt::AlignLeft);
    settingsButton_ = new QPushButton(QStringLiteral("Insights settings"), content);
    settingsButton_->setObjectName(QStringLiteral("insightsCollectingSettingsButton"));
    settingsButton_->setMinimumHeight(34);
    settingsButton_->setStyleSheet(QStringLiteral("QPushButton { padding: 7px 18px; }"));
    connect(settingsButton_, &QPushButton::clicked, this, [action = std::move(manageHistoryAction)] {
        if (action) {
            action();
        }
    });
    column->addWidget(settingsButton_, 0, Qt::AlignLeft);

    errorBlock_ = new QWidget(content);
    errorBlock_->setObjectName(QStringLiteral("insightsHistoryError"));
    auto *errorColumn = new QVBoxLayout(errorBlock_);
    errorColumn->setContentsMargins(0, 0, 0, 0);
    errorColumn->setSpacing(12);
    auto *errorRow = new QHBoxLayout();
    errorRow->setSpacing(6);
    auto *warning = new QLabel(errorBlock_);
    warning->setPixmap(insightsSymbol(QStringLiteral("exclamationmark.triangle"), InsightsColors::orange()).pixmap(16, 16));
    errorRow->addWidget(warning, 0, Qt::AlignTop);
    errorText_ = plainLabel(QString(), errorBlock_);
    errorText_->setObjectName(QStringLiteral("insightsHistoryErrorText"));
    errorText_->setWordWrap(true);
    useSecondaryText(errorText_);
    errorRow->addWidget(errorText_, 1);
    errorColumn->addLayout(errorRow);
    retryButton_ = new QPushButton(QStringLiteral("Try again"), errorBlock_);
    retryButton_->setObjectName(QStringLiteral("insightsRetryButton"));
    connect(retryButton_, &QPushButton::clicked, this, [action = std::move(retryAction)] {
        if (action) {
            action();
        }
    });
    errorColumn->addWidget(retryButton_, 0, Qt::AlignLeft);
    column->addWidget(errorBlock_);
    column->addStretch(1);
    row->addWidget(content, 1);
}

void InsightsCollectingView::setReduceMotion(bool reduce)
{
    reduceMotion_ = reduce;
    background_->setReduceMotion(reduce);
    if (reduce) {
        ring_->fill().finish();
    }
}

void InsightsCollectingView::setModel(const Model &model)
{
    if (model_ == model) {
        return;
    }
    model_ = model;
    const auto &presentation = model.presentation;
    title_->setText(presentation.title());
    message_->setText(presentation.message());
    ring_->setFraction(presentation.progressFraction(), presentation.progressAccessibilityValue(),
                       InsightsMotion::forWidget(ring_, reduceMotion_,
                                                 InsightsMotion::spring(InsightsProgressRing::kSpringResponse)));
    const auto action = presentation.historyAction();
    enableButton_->setVisible(action == InsightsReadinessPresentation::HistoryAction::enable);
    enableButton_->setEnabled(model.canEnableHistory);
    settingsButton_->setVisible(action == InsightsReadinessPresentation::HistoryAction::settings);
    errorBlock_->setVisible(model.errorMessage.has_value());
    errorText_->setText(model.errorMessage.value_or(QString()));
    retryButton_->setEnabled(!model.isRetrying);
}

} // namespace quillby
