#include "settings_window/AppSettingsPane.h"
#include "core/async/RunDetached.h"

#include "core/LowAlertRepeatSetting.h"
#include "platform/Announcer.h"
#include "polling/GlucoseAlertNotificationDelivering.h"
#include "settings/SettingsViewModel.h"
#include "settings_window/QuietHoursTimeInputField.h"
#include "widgets/SettingsSymbols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace quillby {

namespace {

QWidget *trailingButtonRow(QPushButton *button, QWidget *parent = nullptr)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button);
    layout->addStretch(1);
    return row;
}

// A warning line saying why a quiet-hours time was not saved; it follows the field's problem and
// is hidden while there is none.
QWidget *quietHoursProblemRow(QuietHoursTimeInputField *field, const char *objectName)
{
    auto *row = new QWidget();
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(makeSymbolLabel(settingsSymbol(QStringLiteral("exclamationmark.triangle")), 16, row), 0,
                      Qt::AlignTop);
    QLabel *text = makePlainLabel(QString(), row);
    text->setObjectName(QString::fromLatin1(objectName));
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    QObject::connect(field, &QuietHoursTimeInputField::problemChanged, text, &QLabel::setText);
    return row;
}

// Shows the model's value; only a person's change (mouse, keyboard or an assistive technology's
// toggle action, all reported as `toggled`) is written back.
void setChecked(QCheckBox *box, bool checked)
{
    const QSignalBlocker blocker(box);
    box->setChecked(checked);
}

} // namespace

// --- General ---

QString GeneralSettingsPane::automaticUpdatesText(UpdateInstallSupport support)
{
    const QString reportOnly = QStringLiteral(
        " so Quillby does not download or install updates itself: it tells you when a new version is out, with its "
        "download page.");
    switch (support) {
    case UpdateInstallSupport::installs:
        return QStringLiteral("Updates are installed when the app can relaunch.");
    case UpdateInstallSupport::checking:
        return QStringLiteral("Quillby is finding out whether it can install updates on this computer.");
    case UpdateInstallSupport::notSigned:
        return QStringLiteral("This build of Quillby has no key to check updates with,") + reportOnly;
    case UpdateInstallSupport::notFromPackage:
        return QStringLiteral("This copy of Quillby was not installed from its package,") + reportOnly;
    case UpdateInstallSupport::noPackageKit:
        return QStringLiteral("This computer has no PackageKit to install packages with,") + reportOnly;
    }
    return {};
}

GeneralSettingsPane::GeneralSettingsPane(SettingsViewModel &model, std::function<void()> checkForUpdates,
                                         std::function<UpdateInstallSupport()> installSupport, QWidget *parent)
    : SettingsForm(parent), model_(model), checkForUpdates_(std::move(checkForUpdates)),
      installSupport_(std::move(installSupport))
{
    setObjectName(QStringLiteral("generalSettingsPane"));

    SettingsSection *startup = addSection(QStringLiteral("Startup"));
    launchAtLogin_ = new QCheckBox(QStringLiteral("Launch at login"));
    launchAtLogin_->setObjectName(QStringLiteral("launchAtLoginToggle"));
    launchAtLogin_->setAccessibleName(QStringLiteral("Launch at login"));
    launchAtLogin_->setAccessibleDescription(QStringLiteral("Automatically start Quillby when you log in to your computer"));
    startup->addRow(launchAtLogin_);
    connect(launchAtLogin_, &QCheckBox::toggled, this, [this](bool checked) { model_.setStartAtLogin(checked); });

    SettingsSection *updates = addSection(QStringLiteral("Updates"));
    automaticUpdates_ = new QCheckBox(QStringLiteral("Automatically download and install updates"));
    automaticUpdates_->setObjectName(QStringLiteral("autoInstallUpdatesToggle"));
    updates->addRow(automaticUpdates_);
    automaticUpdatesNotice_ = makeSecondaryLabel(QString(), true);
    automaticUpdatesNotice_->setObjectName(QStringLiteral("autoInstallUpdatesUnavailableNotice"));
    updates->addRow(automaticUpdatesNotice_);
    connect(automaticUpdates_, &QCheckBox::toggled, this,
            [this](bool checked) { model_.setAutomaticallyInstallUpdates(checked); });
    lastChecked_ = updates->addValueRow(QStringLiteral("Last checked"), QString());
    lastChecked_->setObjectName(QStringLiteral("lastUpdateCheckValue"));
    auto *check = new QPushButton(QStringLiteral("Check for updates"));
    check->setObjectName(QStringLiteral("checkForUpdatesButton"));
    updates->addRow(trailingButtonRow(check));
    connect(check, &QPushButton::clicked, this, [this] {
        if (checkForUpdates_) {
            checkForUpdates_();
        }
        model_.refreshUpdateStatus();
    });

    connect(&model_, &SettingsViewModel::startAtLoginChanged, this, &GeneralSettingsPane::refresh);
    connect(&model_, &SettingsViewModel::lastCheckedForUpdatesChanged, this, &GeneralSettingsPane::refresh);
    connect(&model_, &SettingsViewModel::automaticallyInstallUpdatesChanged, this, &GeneralSettingsPane::refresh);
    refresh();
}

void GeneralSettingsPane::refresh()
{
    setChecked(launchAtLogin_, model_.startAtLogin());
    setChecked(automaticUpdates_, model_.automaticallyInstallUpdates());
    const UpdateInstallSupport support = installSupport_ ? installSupport_() : UpdateInstallSupport::notSigned;
    automaticUpdates_->setEnabled(support == UpdateInstallSupport::installs);
    automaticUpdatesNotice_->setText(automaticUpdatesText(support));
    automaticUpdates_->setAccessibleDescription(automaticUpdatesText(support));
    lastChecked_->setText(QString::fromStdString(model_.lastCheckedForUpdates()));
}

void GeneralSettingsPane::appeared()
{
    model_.refreshUpdateStatus();
    refresh();
}

// --- Alerts ---

std::vector<std::pair<QString, int>> AlertsSettingsPane::repeatRows()
{
    std::vector<std::pair<QString, int>> rows;
    for (const int minutes : LowAlertRepeatSetting::allowedMinutes) {
        const QString text = minutes == 0    ? QStringLiteral("Never")
                             : minutes == 60 ? QStringLiteral("Every hour")
                                             : QStringLiteral("Every %1 minutes").arg(minutes);
        rows.emplace_back(text, minutes);
    }
    return rows;
}

QCheckBox *AlertsSettingsPane::addToggle(SettingsSection *section, const QString &title, const char *objectName,
                                         bool (SettingsViewModel::*getter)() const,
                                         void (SettingsViewModel::*setter)(bool), void (SettingsViewModel::*changed)())
{
    auto *box = new QCheckBox(title);
    if (objectName) {
        box->setObjectName(QString::fromLatin1(objectName));
    }
    section->addRow(box);
    connect(box, &QCheckBox::toggled, this, [this, setter](bool checked) {
        model_.editAppSetting(setter, checked);
    });
    const auto refresh = [this, box, getter] { setChecked(box, (model_.*getter)()); };
    connect(&model_, changed, box, refresh);
    refreshers_.push_back(refresh);
    return box;
}

AlertsSettingsPane::AlertsSettingsPane(SettingsViewModel &model, Announcer *announcer, QWidget *parent)
    : SettingsForm(parent), model_(model), announcer_(announcer)
{
    setObjectName(QStringLiteral("alertsSettingsPane"));
    using VM = SettingsViewModel;

    // 1. The master switch.
    SettingsSection *master = addSection();
    alertsEnabled_ = new QCheckBox(QStringLiteral("Enable glucose alerts"));
    alertsEnabled_->setObjectName(QStringLiteral("alertsEnabledToggle"));
    master->addRow(alertsEnabled_);
    connect(alertsEnabled_, &QCheckBox::toggled, this, [this](bool checked) {
        model_.setAlertsEnabled(checked);
        model_.alertsEnabledDidChange();
    });

    // 2. Alert types.
    SettingsSection *types = addSection(QStringLiteral("Alert types"));
    addToggle(types, QStringLiteral("Low threshold alerts"), "alertOnLowThresholdToggle", &VM::alertOnLowThreshold,
              &VM::setAlertOnLowThreshold, &VM::alertOnLowThresholdChanged);
    repeatPicker_ = new QComboBox();
    repeatPicker_->setObjectName(QStringLiteral("lowAlertRepeatPicker"));
    repeatPicker_->setAccessibleName(QStringLiteral("Repeat low alerts"));
    for (const auto &[text, minutes] : repeatRows()) {
        repeatPicker_->addItem(text, minutes);
    }
    types->addLabeledRow(QStringLiteral("Repeat low alerts"), repeatPicker_);
    connect(repeatPicker_, &QComboBox::activated, this, [this](int index) {
        const int minutes = repeatPicker_->itemData(index).toInt();
        model_.editAppSetting(&SettingsViewModel::setLowAlertRepeatMinutes, minutes);
    });
    addToggle(types, QStringLiteral("High threshold alerts"), "alertOnHighThresholdToggle", &VM::alertOnHighThreshold,
              &VM::setAlertOnHighThreshold, &VM::alertOnHighThresholdChanged);
    addToggle(types, QStringLiteral("Rapid drop alerts"), "alertOnRapidFallToggle", &VM::alertOnRapidFall,
              &VM::setAlertOnRapidFall, &VM::alertOnRapidFallChanged);
    addToggle(types, QStringLiteral("Rapid rise alerts"), "alertOnRapidRiseToggle", &VM::alertOnRapidRise,
              &VM::setAlertOnRapidRise, &VM::alertOnRapidRiseChanged);

    // 3. Quiet hours.
    SettingsSection *quiet = addSection(QStringLiteral("Quiet hours"));
    addToggle(quiet, QStringLiteral("Quiet hours"), "quietHoursEnabledToggle", &VM::quietHoursEnabled,
              &VM::setQuietHoursEnabled, &VM::quietHoursEnabledChanged);
    startField_ = new QuietHoursTimeInputField(QStringLiteral("Quiet hours start"));
    startField_->setObjectName(QStringLiteral("quietHoursStartPicker"));
    startRow_ = quiet->addLabeledRow(QStringLiteral("Start"), startField_);
    startProblemRow_ = quiet->addRow(quietHoursProblemRow(startField_, "quietHoursStartProblemText"));
    endField_ = new QuietHoursTimeInputField(QStringLiteral("Quiet hours end"));
    endField_->setObjectName(QStringLiteral("quietHoursEndPicker"));
    endRow_ = quiet->addLabeledRow(QStringLiteral("End"), endField_);
    endProblemRow_ = quiet->addRow(quietHoursProblemRow(endField_, "quietHoursEndProblemText"));
    allowLowRow_ = addToggle(quiet, QStringLiteral("Allow low alerts during quiet hours"),
                             "allowLowAlertsDuringQuietHoursToggle", &VM::allowLowAlertsDuringQuietHours,
                             &VM::setAllowLowAlertsDuringQuietHours, &VM::allowLowAlertsDuringQuietHoursChanged);
    // A typed time is stored as the minutes the user typed; the model counts the edit and saves.
    connect(startField_, &QuietHoursTimeInputField::timeEdited, this, [this](int minutes) {
        model_.editAppSetting(&SettingsViewModel::setQuietHoursStartMinutes, minutes);
    });
    connect(endField_, &QuietHoursTimeInputField::timeEdited, this, [this](int minutes) {
        model_.editAppSetting(&SettingsViewModel::setQuietHoursEndMinutes, minutes);
    });
    // A time that was not taken is said at once: the focus has usually moved on by then.
    for (QuietHoursTimeInputField *field : {startField_, endField_}) {
        connect(field, &QuietHoursTimeInputField::problemChanged, this, [this](const QString &problem) {
            showQuietHoursProblems();
            if (announcer_ && !problem.isEmpty()) {
                announcer_->announce(problem);
            }
        });
    }
    connect(startField_, &QuietHoursTimeInputField::focusChanged, this,
            [this](bool focus) { quietHoursFocusChanged(QuietHoursField::start, focus); });
    connect(endField_, &QuietHoursTimeInputField::focusChanged, this,
            [this](bool focus) { quietHoursFocusChanged(QuietHoursField::end, focus); });

    // 4. Snooze behaviour.
    SettingsSection *snooze = addSection(QStringLiteral("Snooze behavior"),
                                         QStringLiteral("Snooze actions in the Quillby menu only silence the alert "
                                                        "categories selected above."));
    addToggle(snooze, QStringLiteral("Snooze low alerts"), nullptr, &VM::snoozeLowAlerts, &VM::setSnoozeLowAlerts,
              &VM::snoozeLowAlertsChanged);
    addToggle(snooze, QStringLiteral("Snooze high alerts"), nullptr, &VM::snoozeHighAlerts, &VM::setSnoozeHighAlerts,
              &VM::snoozeHighAlertsChanged);
    addToggle(snooze, QStringLiteral("Snooze rapid-change alerts"), nullptr, &VM::snoozeRapidChangeAlerts,
              &VM::setSnoozeRapidChangeAlerts, &VM::snoozeRapidChangeAlertsChanged);

    // 5. Notifications.
    SettingsSection *notifications = addSection(QStringLiteral("Notifications"));
    deniedBanner_ = new QWidget();
    auto *banner = new QVBoxLayout(deniedBanner_);
    banner->setContentsMargins(0, 0, 0, 0);
    banner->setSpacing(6);
    QLabel *deniedTitle = makePlainLabel(QStringLiteral("Notifications are disabled for Quillby."), deniedBanner_);
    QFont semibold = deniedTitle->font();
    semibold.setWeight(QFont::DemiBold);
    deniedTitle->setFont(semibold);
    banner->addWidget(deniedTitle);
    banner->addWidget(makeSecondaryLabel(QString::fromUtf8(kEnableNotificationsHint), false, deniedBanner_));
    // A notification service started now is found when asked again.
    checkAgainButton_ = new QPushButton(QStringLiteral("Check again"));
    checkAgainButton_->setObjectName(QStringLiteral("checkNotificationsAgainButton"));
    banner->addWidget(trailingButtonRow(checkAgainButton_, deniedBanner_));
    connect(checkAgainButton_, &QPushButton::clicked, this,
            [this] { runDetached(checkNotificationsAgain(QPointer<AlertsSettingsPane>(this))); });
    notifications->addRow(deniedBanner_);

    testAlertGroup_ = new QWidget();
    auto *test = new QVBoxLayout(testAlertGroup_);
    test->setContentsMargins(0, 0, 0, 0);
    test->setSpacing(6);
    testAlertButton_ = new ProgressButton();
    testAlertButton_->setObjectName(QStringLiteral("sendTestAlertButton"));
    test->addWidget(trailingButtonRow(testAlertButton_, testAlertGroup_));
    testAlertStatus_ = makeSecondaryLabel(QString(), true, testAlertGroup_);
    testAlertStatus_->setObjectName(QStringLiteral("testAlertStatusText"));
    test->addWidget(testAlertStatus_);
    notifications->addRow(testAlertGroup_);
    connect(testAlertButton_, &QPushButton::clicked, this, [this] { runDetached(model_.sendTestAlert()); });

    alertSections_ = {types, quiet, snooze, notifications};

    for (auto signal : {&VM::alertsEnabledChanged, &VM::lowAlertRepeatMinutesChanged, &VM::quietHoursEnabledChanged,
                        &VM::quietHoursStartMinutesChanged, &VM::quietHoursEndMinutesChanged,
                        &VM::notificationPermissionDeniedChanged, &VM::isSendingTestAlertChanged}) {
        connect(&model_, signal, this, &AlertsSettingsPane::refresh);
    }
    connect(&model_, &VM::testAlertStatusMessageChanged, this, [this] {
        refresh();
        if (announcer_ && !model_.testAlertStatusMessage().empty()) {
            announcer_->announce(QString::fromStdString(model_.testAlertStatusMessage()));
        }
    });
    refresh();
}

void AlertsSettingsPane::refresh()
{
    for (const auto &refresher : refreshers_) {
        refresher();
    }
    const bool enabled = model_.alertsEnabled();
    setChecked(alertsEnabled_, enabled);
    for (QWidget *section : alertSections_) {
        section->setVisible(enabled);
    }

    {
        const QSignalBlocker blocker(repeatPicker_);
        // A stored interval that is no row shows no selection and stays as it is.
        repeatPicker_->setCurrentIndex(repeatPicker_->findData(model_.lowAlertRepeatMinutes()));
    }

    const bool quiet = model_.quietHoursEnabled();
    startRow_->setVisible(quiet);
    endRow_->setVisible(quiet);
    showQuietHoursProblems();
    allowLowRow_->setVisible(quiet);
    startField_->setMinutes(model_.minutesOfDay(model_.quietHoursStartDate()));
    endField_->setMinutes(model_.minutesOfDay(model_.quietHoursEndDate()));

    const bool denied = model_.notificationPermissionDenied();
    // Focus moves on from the banner's button to the test button that replaces it.
    const bool focusOnBanner = checkAgainButton_->hasFocus();
    testAlertGroup_->setVisible(!denied);
    deniedBanner_->setVisible(denied);
    if (!denied && focusOnBanner) {
        testAlertButton_->setFocus(Qt::OtherFocusReason);
    }
    const bool sending = model_.isSendingTestAlert();
    testAlertButton_->setBusy(sending);
    testAlertButton_->setText(sending ? QString() : QStringLiteral("Send test alert"));
    testAlertButton_->setAccessibleName(sending ? QStringLiteral("Sending test alert") : QStringLiteral("Send test alert"));
    // Focus stays with the button while it waits, instead of moving on to the next control.
    setEnabledKeepingFocus(testAlertButton_, !sending);
    const QString status = QString::fromStdString(model_.testAlertStatusMessage());
    testAlertStatus_->setText(status);
    testAlertStatus_->setVisible(!status.isEmpty());
}

QCoro::Task<void> AlertsSettingsPane::checkNotificationsAgain(QPointer<AlertsSettingsPane> self)
{
    if (!self) {
        co_return;
    }
    co_await self->model_.refreshNotificationPermission();
    if (self && self->model_.notificationPermissionDenied() && self->announcer_) {
        self->announcer_->announce(QStringLiteral("Notifications are disabled for Quillby."));
    }
}

void AlertsSettingsPane::showQuietHoursProblems()
{
    const bool quiet = model_.quietHoursEnabled();
    startProblemRow_->setVisible(quiet && !startField_->problem().isEmpty());
    endProblemRow_->setVisible(quiet && !endField_->problem().isEmpty());
}

void AlertsSettingsPane::quietHoursFocusChanged(QuietHoursField field, bool hasFocus)
{
    if (hasFocus) {
        focusedQuietHoursField_ = field;
    } else if (focusedQuietHoursField_ == field) {
        focusedQuietHoursField_.reset();
    }
}

void AlertsSettingsPane::appeared()
{
    runDetached(model_.refreshNotificationPermission());
}

} // namespace quillby
