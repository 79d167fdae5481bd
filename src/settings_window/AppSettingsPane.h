#pragma once

#include "core/UpdateInstallSupport.h"
#include "widgets/SettingsForm.h"

#include <QCoroTask>
#include <QPointer>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;

namespace quillby {

class Announcer;
class QuietHoursTimeInputField;
class SettingsViewModel;

// The General tab: launch at login and the update section. Automatic download and installation
// can be turned on only where this program installs its own updates; elsewhere the switch is
// shown disabled, with the reason under it.
class GeneralSettingsPane : public SettingsForm {
    Q_OBJECT
public:
    GeneralSettingsPane(SettingsViewModel &model, std::function<void()> checkForUpdates,
                        std::function<UpdateInstallSupport()> installSupport = {}, QWidget *parent = nullptr);

    // The line under the switch for each case; the footer where updates are installed.
    static QString automaticUpdatesText(UpdateInstallSupport support);

protected:
    void appeared() override;

private:
    void refresh();
    SettingsViewModel &model_;
    std::function<void()> checkForUpdates_;
    std::function<UpdateInstallSupport()> installSupport_;
    QLabel *automaticUpdatesNotice_;
    QCheckBox *launchAtLogin_;
    QCheckBox *automaticUpdates_;
    QLabel *lastChecked_;
};

// The Alerts tab: the master switch, the alert kinds and the low-alert repeat, quiet hours with
// their two time fields, the snooze kinds, and the notification state with the test alert.
// Every edit goes into the model, which saves it.
class AlertsSettingsPane : public SettingsForm {
    Q_OBJECT
public:
    enum class QuietHoursField { start, end };

    AlertsSettingsPane(SettingsViewModel &model, Announcer *announcer, QWidget *parent = nullptr);

    // The quiet-hours field with keyboard focus, as the fields last reported it. Return or Enter
    // in a field ends its editing (the field gives up focus); elsewhere Return goes on as usual.
    std::optional<QuietHoursField> focusedQuietHoursField() const { return focusedQuietHoursField_; }

    // (shown text, minutes) of the repeat picker: one row per interval LowAlertRepeatSetting allows.
    static std::vector<std::pair<QString, int>> repeatRows();

protected:
    void appeared() override;

private:
    void refresh();
    // Asks again whether a notification service answers; says so when none still does.
    static QCoro::Task<void> checkNotificationsAgain(QPointer<AlertsSettingsPane> self);
    void quietHoursFocusChanged(QuietHoursField field, bool hasFocus);
    // The line under each time field saying why its last text was not saved, while there is one.
    void showQuietHoursProblems();
    QCheckBox *addToggle(SettingsSection *section, const QString &title, const char *objectName,
                         bool (SettingsViewModel::*getter)() const, void (SettingsViewModel::*setter)(bool),
                         void (SettingsViewModel::*changed)());

    SettingsViewModel &model_;
    Announcer *announcer_;
    std::optional<QuietHoursField> focusedQuietHoursField_;
    std::vector<std::function<void()>> refreshers_;

    QCheckBox *alertsEnabled_;
    std::vector<QWidget *> alertSections_;
    QComboBox *repeatPicker_;
    QWidget *startRow_;
    QWidget *endRow_;
    QuietHoursTimeInputField *startField_;
    QuietHoursTimeInputField *endField_;
    // Under each time field: why the text last typed into it was not saved.
    QWidget *startProblemRow_;
    QWidget *endProblemRow_;
    QWidget *allowLowRow_;
    QWidget *deniedBanner_;
    QPushButton *checkAgainButton_;
    QWidget *testAlertGroup_;
    ProgressButton *testAlertButton_;
    QLabel *testAlertStatus_;
};

} // namespace quillby
