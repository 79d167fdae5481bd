#include "platform/Appearance.h"
#include "insights_window/HistoryEnableDisclosureView.h"

#include "core/async/RunDetached.h"
#include "history/HistoryCoordinator.h"
#include "insights_window/InsightsExplanationView.h"
#include "insights_window/InsightsSurfaces.h"
#include "insights_window/InsightsViewState.h"
#include "widgets/AccessibilityMarks.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace quillby {

namespace {

// Started from the button and not awaited: it outlives the sheet and ends when the
// coordinator has answered. The coordinator reports the outcome through its own state.
QCoro::Task<void> enableHistoryDetached(QPointer<HistoryCoordinator> history)
{
    if (history) {
        co_await history->enableHistory();
    }
}

QLabel *wrapped(const QString &text, QWidget *parent)
{
    auto *label = plainLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

QString HistoryEnableDisclosureView::retentionParagraph(int days)
{
    return QStringLiteral("History is kept for %1 days. Turning saving off or signing out keeps existing readings, "
                          "subject to retention. Returning to the same account and person restores history and your "
                          "saving preference. Delete all saved history removes every account's saved readings and "
                          "encryption keys. The app requests backup exclusion, but cannot remove copies outside its "
                          "control.")
        .arg(days);
}

HistoryEnableDisclosureView::HistoryEnableDisclosureView(HistoryCoordinator *history, bool isSignedIn,
                                                         const QUrl &privacyPolicyURL, QWidget *parent)
    : QDialog(parent), history_(history), isSignedIn_(isSignedIn)
{
    useInsightsAppearance(this);
    setObjectName(QStringLiteral("historyEnableDisclosure"));
    setWindowTitle(QStringLiteral("Save glucose history"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(520);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(20);
    auto *title = plainLabel(QStringLiteral("Save glucose history on this computer?"), this);
    title->setWordWrap(true);
    scaleFont(title, 1.4, QFont::Bold);
    markAccessibleHeading(title);
    column->addWidget(title);

    auto *texts = new QVBoxLayout();
    texts->setSpacing(12);
    texts->addWidget(wrapped(
        QStringLiteral("Quillby will save glucose values, reading times, trends, and limited history metadata in "
                       "encrypted files on this computer to support Insights and restore the recent graph. History is "
                       "kept separately for each account and selected person, with its own encryption key in the "
                       "system keyring. Saved history and calculated insights are never uploaded or synced between "
                       "devices."),
        this));
    texts->addWidget(wrapped(QStringLiteral("The first collection may include recent readings available from your "
                                            "provider: up to 24 hours for Dexcom Share, or about 12 hours for "
                                            "LibreLinkUp. History can be incomplete when the app is closed or readings "
                                            "are unavailable."),
                             this));
    retention_ = wrapped(QString(), this);
    retention_->setObjectName(QStringLiteral("historyRetentionText"));
    texts->addWidget(retention_);
    auto *caution = wrapped(QStringLiteral("Insights are supplementary summaries, not a complete medical record or a "
                                           "guaranteed backup. Do not make treatment changes based solely on Quillby."),
                            this);
    useSecondaryText(caution);
    texts->addWidget(caution);
    auto *privacy = new QLabel(this);
    privacy->setTextFormat(Qt::RichText);
    privacy->setText(
        linkHtml(privacyPolicyURL.toString(QUrl::FullyEncoded), QStringLiteral("Read privacy policy"),
                 InsightsColors::palette()));
    privacy->setOpenExternalLinks(true);
    privacy->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    tabStopsOnLinks(privacy);
    texts->addWidget(privacy);
    column->addLayout(texts);

    auto *buttons = new QHBoxLayout();
    buttons->addStretch(1);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("historyEnableCancelButton"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel_);
    enable_ = new QPushButton(QStringLiteral("Enable saving"), this);
    enable_->setObjectName(QStringLiteral("historyEnableSavingButton"));
    enable_->setDefault(true);
    startFocusOn(this, enable_);
    connect(enable_, &QPushButton::clicked, this, &HistoryEnableDisclosureView::enableSaving);
    buttons->addWidget(enable_);
    column->addLayout(buttons);

    if (history_) {
        connect(history_, &HistoryCoordinator::snapshotChanged, this, &HistoryEnableDisclosureView::refresh);
        connect(history_, &HistoryCoordinator::isBusyChanged, this, &HistoryEnableDisclosureView::refresh);
    }
    refresh();
}

int HistoryEnableDisclosureView::retentionDays() const
{
    const auto *snapshot = history_ ? currentHistorySnapshot(*history_) : nullptr;
    return snapshot ? snapshot->configuration.retentionDays : 90;
}

bool HistoryEnableDisclosureView::canEnable() const
{
    return history_ && !history_->isBusy() && isSignedIn_ && currentHistorySnapshot(*history_) != nullptr;
}

void HistoryEnableDisclosureView::refresh()
{
    retention_->setText(retentionParagraph(retentionDays()));
    // A refresh of the history while the sheet is open disables the button for a moment; the
    // keyboard focus waits on it rather than moving on to the link.
    setEnabledKeepingFocus(enable_, canEnable());
}

void HistoryEnableDisclosureView::enableSaving()
{
    if (!canEnable()) {
        return;   // Return while disabled does nothing
    }
    accept();
    // After the dismissal, on a later turn: the sheet does not wait for the outcome.
    QTimer::singleShot(0, history_.data(), [history = history_] { runDetached(enableHistoryDetached(history)); });
}

} // namespace quillby
