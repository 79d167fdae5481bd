#pragma once

#include "widgets/SettingsForm.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;

namespace quillby {

class HistoryCoordinator;
class SettingsViewModel;

// The Insights tab: saving of glucose history for the selected account and person (turned on
// only through the consent sheet), how long readings are kept, how many are saved, deleting
// the saved history of every account, and the last failed history operation with a retry.
// Everything shown belongs to the history coordinator; the pane keeps only which sheet or
// confirmation is open.
class InsightsSettingsPane : public SettingsForm {
    Q_OBJECT
public:
    using ConsentSheetFactory = std::function<QDialog *(QWidget *parent, HistoryCoordinator &history, bool isSignedIn)>;

    InsightsSettingsPane(SettingsViewModel &model, HistoryCoordinator *history, ConsentSheetFactory makeConsentSheet,
                         QWidget *parent = nullptr);

    // The open consent sheet and confirmations, none when closed.
    QDialog *consentSheet() const { return consentSheet_; }
    QMessageBox *deleteConfirmation() const { return deleteConfirmation_; }
    QMessageBox *retentionConfirmation() const { return retentionConfirmation_; }

    static QString deleteConfirmationMessage();

protected:
    void appeared() override;

private:
    void refresh();
    bool controlsLocked() const;
    void savingToggled(bool on);
    void retentionChosen(int days);
    void confirmDeleteAll();
    void confirmShorterRetention();

    SettingsViewModel &model_;
    QPointer<HistoryCoordinator> history_;
    ConsentSheetFactory makeConsentSheet_;
    QPointer<QDialog> consentSheet_;
    QPointer<QMessageBox> deleteConfirmation_;
    QPointer<QMessageBox> retentionConfirmation_;

    QCheckBox *savingToggle_;
    QLabel *signInNotice_;
    QComboBox *retentionPicker_;
    QWidget *countRow_;
    QLabel *countValue_;
    QPushButton *deleteButton_;
    QWidget *busyRow_;
    QWidget *errorSection_;
    QLabel *errorText_;
    QPushButton *tryAgainButton_;
};

} // namespace quillby
