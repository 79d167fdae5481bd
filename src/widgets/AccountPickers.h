#pragma once

#include "core/GlucoseReading.h"

#include <QComboBox>
#include <QString>
#include <QWidget>

class QLabel;

namespace quillby {

class SettingsViewModel;

// The names a provider goes by in the account views: the sensor ("Dexcom", "FreeStyle Libre")
// in the provider picker and the signed-in summary; the service ("Dexcom", "LibreLinkUp") in
// headings, accessibility labels, hints and announcements; and the account field's title
// ("Username", "Email address").
QString sensorName(GlucoseProvider provider);
QString serviceName(GlucoseProvider provider);
QString accountTitle(GlucoseProvider provider);

// The "Sensor" picker: one row per provider. Disabled while an account operation runs or an
// account is signed in. Choosing a row stores the provider in the model, which clears the
// account fields when it really changed.
class AccountProviderPicker : public QComboBox {
    Q_OBJECT
public:
    explicit AccountProviderPicker(SettingsViewModel &model, QWidget *parent = nullptr);
    static QString title() { return QStringLiteral("Sensor"); }

private:
    void refresh();
    SettingsViewModel &model_;
};

// The "Region" picker: the provider's regions, stored by code. A stored code that matches no
// row shows no selection and is left as it is. `allowsReconnect` keeps the LibreLinkUp region
// editable while signed in (the reconnect group).
class AccountRegionPicker : public QComboBox {
    Q_OBJECT
public:
    AccountRegionPicker(SettingsViewModel &model, bool allowsReconnect, QWidget *parent = nullptr);
    static QString title() { return QStringLiteral("Region"); }
    // (shown text, stored code) of the provider's rows, in order.
    static std::vector<std::pair<QString, QString>> rows(GlucoseProvider provider);

private:
    void refresh();
    SettingsViewModel &model_;
    bool allowsReconnect_;
    std::optional<GlucoseProvider> rowsProvider_;
};

// The LibreLinkUp person: a caption and a "Person" picker whose first row "Choose a person"
// stands for no choice. Present only while LibreLinkUp connections are listed; disabled while
// an account operation runs. The picker's names come from the service and are shown as text.
class LibreConnectionPicker : public QWidget {
    Q_OBJECT
public:
    explicit LibreConnectionPicker(SettingsViewModel &model, QWidget *parent = nullptr);
    QComboBox *picker() const { return picker_; }

private:
    void refresh();
    SettingsViewModel &model_;
    QComboBox *picker_;
};

} // namespace quillby
