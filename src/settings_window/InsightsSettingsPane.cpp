#include "settings_window/InsightsSettingsPane.h"
#include "core/async/RunDetached.h"

#include "history/HistoryCoordinator.h"
#include "settings/SettingsViewModel.h"
#include "widgets/SettingsSymbols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace quillby {

namespace {

// Deletes every account's saved history; a refusal or failure is left in the coordinator's
// error text (a failure during the deletion is already there; a refusal only the pane sets).
QCoro::Task<void> deleteAllSavedHistory(QPointer<HistoryCoordinator> history)
{
    try {
        co_await history->deleteAllHistory();
    } catch (const std::exception &error) {
        if (history) {
            history->setErrorMessage(std::string(error.what()));
        }
    }
}

QWidget *leadingButtonRow(QPushButton *button)
{
    auto *row = new QWidget();
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button);
    layout->addStretch(1);
    return row;
}

} // namespace

QString InsightsSettingsPane::deleteConfirmationMessage()
{
    return QStringLiteral(
        "This deletes saved glucose history and encryption keys for every account and person on this computer, "
        "including accounts you are signed out of. Saving is turned off for all accounts, and deleted readings will "
        "not be saved again automatically. This cannot be undone. It does not delete data held by your glucose "
        "provider, submitted feedback, notifications, or copies outside the app's control.");
}

InsightsSettingsPane::InsightsSettingsPane(SettingsViewModel &model, HistoryCoordinator *history,
                                           ConsentSheetFactory makeConsentSheet, QWidget *parent)
    : SettingsForm(parent), model_(model), history_(history), makeConsentSheet_(std::move(makeConsentSheet))
{
    setObjectName(QStringLiteral("insightsSettingsPane"));

    SettingsSection *saved = addSection(
        QStringLiteral("Saved history"),
        QStringLiteral("Saved readings support Insights and restore your recent graph. History is encrypted on this "
                       "computer and is never uploaded or synced."));
    savingToggle_ = new QCheckBox(QStringLiteral("Save glucose history on this computer"));
    savingToggle_->setObjectName(QStringLiteral("saveGlucoseHistoryToggle"));
    saved->addRow(savingToggle_);
    signInNotice_ = saved->addFooterLine(QStringLiteral("Sign in to your glucose account to enable history saving."));
    // `toggled`, not `clicked`: an assistive technology's toggle action reports only that; the
    // snapshot is shown with signals blocked, so it is never taken for a person's change.
    connect(savingToggle_, &QCheckBox::toggled, this, &InsightsSettingsPane::savingToggled);

    SettingsSection *storage = addSection(
        QStringLiteral("Storage"),
        QStringLiteral("Saving and retention apply to the selected account and person. Turning saving off or signing "
                       "out keeps existing history, subject to retention."));
    retentionPicker_ = new QComboBox();
    retentionPicker_->setObjectName(QStringLiteral("historyRetentionPicker"));
    retentionPicker_->setAccessibleName(QStringLiteral("Keep history for"));
    retentionPicker_->addItem(QStringLiteral("30 days"), 30);
    retentionPicker_->addItem(QStringLiteral("90 days"), 90);
    storage->addLabeledRow(QStringLiteral("Keep history for"), retentionPicker_);
    connect(retentionPicker_, &QComboBox::activated, this,
            [this](int index) { retentionChosen(retentionPicker_->itemData(index).toInt()); });
    countValue_ = storage->addValueRow(QStringLiteral("Saved readings"), QString(), &countRow_);
    countValue_->setObjectName(QStringLiteral("savedReadingsValue"));
    deleteButton_ = new QPushButton(QStringLiteral("Delete all saved history"));
    deleteButton_->setObjectName(QStringLiteral("deleteSavedHistoryButton"));
    storage->addRow(leadingButtonRow(deleteButton_));
    connect(deleteButton_, &QPushButton::clicked, this, &InsightsSettingsPane::confirmDeleteAll);
    busyRow_ = new QWidget();
    busyRow_->setObjectName(QStringLiteral("historyBusyIndicator"));
    auto *busy = new QHBoxLayout(busyRow_);
    busy->setContentsMargins(0, 0, 0, 0);
    auto *bar = new QProgressBar(busyRow_);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumSize(80, 10);
    bar->setAccessibleName(QStringLiteral("Updating saved history"));
    busy->addWidget(bar);
    busy->addWidget(makeSecondaryLabel(QStringLiteral("Updating saved history"), true, busyRow_), 1);
    storage->addRow(busyRow_);

    SettingsSection *error = addSection();
    errorSection_ = error;
    auto *errorRow = new QWidget();
    auto *errorLayout = new QHBoxLayout(errorRow);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    errorLayout->setSpacing(8);
    errorLayout->addWidget(makeSymbolLabel(settingsSymbol(QStringLiteral("exclamationmark.triangle")), 16, errorRow),
                           0, Qt::AlignTop);
    errorText_ = makeSecondaryLabel(QString(), false, errorRow);
    errorText_->setObjectName(QStringLiteral("historyErrorText"));
    errorLayout->addWidget(errorText_, 1);
    error->addRow(errorRow);
    tryAgainButton_ = new QPushButton(QStringLiteral("Try again"));
    tryAgainButton_->setObjectName(QStringLiteral("historyTryAgainButton"));
    error->addRow(leadingButtonRow(tryAgainButton_));
    connect(tryAgainButton_, &QPushButton::clicked, this, [this] {
        if (history_) {
            runDetached(history_->requestSnapshotRefresh());
        }
    });

    connect(&model_, &SettingsViewModel::isConfigurationValidChanged, this, &InsightsSettingsPane::refresh);
    if (history_) {
        connect(history_, &HistoryCoordinator::snapshotChanged, this, &InsightsSettingsPane::refresh);
        connect(history_, &HistoryCoordinator::isBusyChanged, this, &InsightsSettingsPane::refresh);
        connect(history_, &HistoryCoordinator::errorMessageChanged, this, &InsightsSettingsPane::refresh);
        connect(history_, &HistoryCoordinator::selectedScopeChanged, this, &InsightsSettingsPane::refresh);
    }
    refresh();
}

bool InsightsSettingsPane::controlsLocked() const
{
    return !model_.isConfigurationValid() || !history_ || history_->isBusy() || !history_->snapshot();
}

void InsightsSettingsPane::refresh()
{
    const bool signedIn = model_.isConfigurationValid();
    const auto snapshot = history_ ? history_->snapshot() : std::nullopt;
    const bool busy = history_ && history_->isBusy();
    const bool locked = controlsLocked();

    {
        const QSignalBlocker blocker(savingToggle_);
        savingToggle_->setChecked(snapshot && snapshot->configuration.isEnabled);
    }
    // While a history operation runs the controls wait disabled; focus waits with them.
    setEnabledKeepingFocus(savingToggle_, !locked);
    signInNotice_->setVisible(!signedIn);

    {
        const QSignalBlocker blocker(retentionPicker_);
        const int retention = snapshot ? snapshot->configuration.retentionDays : 90;
        retentionPicker_->setCurrentIndex(retentionPicker_->findData(retention));
    }
    setEnabledKeepingFocus(retentionPicker_, !locked);

    countRow_->setVisible(signedIn && snapshot.has_value());
    countValue_->setText(snapshot ? QLocale().toString(static_cast<qlonglong>(snapshot->readings.size())) : QString());
    setEnabledKeepingFocus(deleteButton_, !busy);
    if (deleteConfirmation_) {
        if (auto *confirm = deleteConfirmation_->findChild<QPushButton *>(QStringLiteral("confirmDeleteSavedHistoryButton"))) {
            confirm->setEnabled(!busy);
        }
    }
    if (retentionConfirmation_) {
        if (auto *confirm = retentionConfirmation_->findChild<QPushButton *>(QStringLiteral("keepThirtyDaysButton"))) {
            confirm->setEnabled(!locked);
        }
    }
    busyRow_->setVisible(busy);

    const QString message = history_ ? history_->errorText() : QString();
    errorSection_->setVisible(!message.isEmpty());
    errorText_->setText(message);
    setEnabledKeepingFocus(tryAgainButton_, !busy);
}

void InsightsSettingsPane::savingToggled(bool on)
{
    if (!history_) {
        return;
    }
    if (!on) {
        runDetached(history_->setSavingEnabled(false));
        refresh();
        return;
    }
    // Saving is turned on only by the consent sheet; until then the toggle shows the snapshot.
    refresh();
    if (consentSheet_ || !makeConsentSheet_) {
        return;
    }
    consentSheet_ = makeConsentSheet_(window(), *history_, model_.isConfigurationValid());
    if (!consentSheet_) {
        return;
    }
    consentSheet_->setAttribute(Qt::WA_DeleteOnClose);
    consentSheet_->setWindowModality(Qt::WindowModal);
    connect(consentSheet_, &QDialog::finished, consentSheet_, &QObject::deleteLater);
    consentSheet_->open();
}

void InsightsSettingsPane::retentionChosen(int days)
{
    if (!history_) {
        return;
    }
    const auto snapshot = history_->snapshot();
    if (days == 30 && (!snapshot || snapshot->configuration.retentionDays > 30)) {
        confirmShorterRetention();
    } else {
        runDetached(history_->setRetentionDays(days));
    }
    // The picker shows the stored retention until the coordinator publishes another.
    refresh();
}

void InsightsSettingsPane::confirmShorterRetention()
{
    if (retentionConfirmation_) {
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Keep only the latest 30 days?"),
                                QStringLiteral("Keep only the latest 30 days?"), QMessageBox::NoButton, window());
    box->setObjectName(QStringLiteral("historyRetentionConfirmation"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(QStringLiteral("Older saved readings for this account and person will be removed "
                                           "immediately. This cannot be undone."));
    QPushButton *keep = box->addButton(QStringLiteral("Keep 30 days"), QMessageBox::DestructiveRole);
    keep->setObjectName(QStringLiteral("keepThirtyDaysButton"));
    QPushButton *cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(keep, &QPushButton::clicked, this, [this] {
        if (history_) {
            runDetached(history_->setRetentionDays(30));
        }
    });
    retentionConfirmation_ = box;
    refresh();
    box->open();
}

void InsightsSettingsPane::confirmDeleteAll()
{
    if (deleteConfirmation_) {
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Delete all saved history?"),
                                QStringLiteral("Delete all saved history?"), QMessageBox::NoButton, window());
    box->setObjectName(QStringLiteral("deleteSavedHistoryConfirmation"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(deleteConfirmationMessage());
    QPushButton *remove = box->addButton(QStringLiteral("Delete all saved history"), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("confirmDeleteSavedHistoryButton"));
    QPushButton *cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(remove, &QPushButton::clicked, this, [this] {
        if (history_) {
            runDetached(deleteAllSavedHistory(history_));
        }
    });
    deleteConfirmation_ = box;
    refresh();
    box->open();
}

void InsightsSettingsPane::appeared()
{
    if (history_) {
        runDetached(history_->requestSnapshotRefresh());
    }
}

} // namespace quillby
