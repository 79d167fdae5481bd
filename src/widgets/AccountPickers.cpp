#include "widgets/AccountPickers.h"

#include "providers/GlucoseProviderDescription.h"
#include "widgets/AccessibilityMarks.h"
#include "settings/SettingsViewModel.h"
#include "widgets/SettingsForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace quillby {

QString sensorName(GlucoseProvider provider)
{
    return QString::fromStdString(describeProvider(provider).sensorName);
}

QString serviceName(GlucoseProvider provider)
{
    return QString::fromStdString(describeProvider(provider).shortServiceName);
}

QString accountTitle(GlucoseProvider provider)
{
    return QString::fromStdString(describeProvider(provider).accountFieldTitle);
}

namespace {

// The three account pickers (sensor, region, person) are one kind: one width, whatever their
// rows, wide enough for the longest fixed row; a longer person's name is shortened in the box
// and shown whole in the open list.
void useAccountPickerWidth(QComboBox *picker)
{
    picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker->setMinimumContentsLength(16);
    picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

} // namespace

// --- AccountProviderPicker ---

AccountProviderPicker::AccountProviderPicker(SettingsViewModel &model, QWidget *parent)
    : QComboBox(parent), model_(model)
{
    setObjectName(QStringLiteral("glucoseProviderPicker"));
    updateAccessibleName(this, title());
    useAccountPickerWidth(this);
    for (const GlucoseProviderDescription &description : allProviderDescriptions()) {
        addItem(QString::fromStdString(description.sensorName), static_cast<int>(description.provider));
    }
    connect(this, &QComboBox::activated, this, [this](int index) {
        model_.setProvider(static_cast<GlucoseProvider>(itemData(index).toInt()));
        refresh();
    });
    connect(&model_, &SettingsViewModel::providerChanged, this, &AccountProviderPicker::refresh);
    connect(&model_, &SettingsViewModel::isLoadingChanged, this, &AccountProviderPicker::refresh);
    connect(&model_, &SettingsViewModel::isConfigurationValidChanged, this, &AccountProviderPicker::refresh);
    refresh();
}

void AccountProviderPicker::refresh()
{
    const QSignalBlocker blocker(this);
    setCurrentIndex(findData(static_cast<int>(model_.provider())));
    setEnabled(!model_.isLoading() && !model_.isConfigurationValid());
}

// --- AccountRegionPicker ---

std::vector<std::pair<QString, QString>> AccountRegionPicker::rows(GlucoseProvider provider)
{
    std::vector<std::pair<QString, QString>> result;
    for (const ProviderRegion &region : describeProvider(provider).regions) {
        result.emplace_back(QString::fromStdString(region.title), QString::fromStdString(region.code));
    }
    return result;
}

AccountRegionPicker::AccountRegionPicker(SettingsViewModel &model, bool allowsReconnect, QWidget *parent)
    : QComboBox(parent), model_(model), allowsReconnect_(allowsReconnect)
{
    useAccountPickerWidth(this);
    connect(this, &QComboBox::activated, this, [this](int index) {
        model_.setRegion(itemData(index).toString().toStdString());
        refresh();
    });
    connect(&model_, &SettingsViewModel::providerChanged, this, &AccountRegionPicker::refresh);
    connect(&model_, &SettingsViewModel::regionChanged, this, &AccountRegionPicker::refresh);
    connect(&model_, &SettingsViewModel::isLoadingChanged, this, &AccountRegionPicker::refresh);
    connect(&model_, &SettingsViewModel::isConfigurationValidChanged, this, &AccountRegionPicker::refresh);
    refresh();
}

void AccountRegionPicker::refresh()
{
    const QSignalBlocker blocker(this);
    const GlucoseProvider provider = model_.provider();
    if (rowsProvider_ != provider) {
        clear();
        for (const auto &[text, code] : rows(provider)) {
            addItem(text, code);
        }
        rowsProvider_ = provider;
    }
    updateAccessibleName(this, serviceName(provider) + QStringLiteral(" region"));
    setCurrentIndex(findData(QString::fromStdString(model_.region())));
    const bool signedInLocks = !describeProvider(provider).choosesConnectionAfterSignIn || !allowsReconnect_;
    setEnabled(!model_.isLoading() && !(model_.isConfigurationValid() && signedInLocks));
}

// --- LibreConnectionPicker ---

LibreConnectionPicker::LibreConnectionPicker(SettingsViewModel &model, QWidget *parent)
    : QWidget(parent), model_(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(makeSecondaryLabel(QStringLiteral("Choose whose readings to display."), false, this));
    auto *row = new QHBoxLayout();
    row->setSpacing(12);
    QLabel *title = makePlainLabel(QStringLiteral("Person"), this);
    picker_ = new QComboBox(this);
    picker_->setObjectName(QStringLiteral("libreConnectionPicker"));
    picker_->setAccessibleName(QStringLiteral("Person"));
    useAccountPickerWidth(picker_);
    title->setBuddy(picker_);
    row->addWidget(title);
    row->addStretch(1);
    row->addWidget(picker_);
    layout->addLayout(row);
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        model_.setSelectedPatientID(picker_->itemData(index).toString().toStdString());
        refresh();
    });
    connect(&model_, &SettingsViewModel::providerChanged, this, &LibreConnectionPicker::refresh);
    connect(&model_, &SettingsViewModel::libreConnectionsChanged, this, &LibreConnectionPicker::refresh);
    connect(&model_, &SettingsViewModel::selectedPatientIDChanged, this, &LibreConnectionPicker::refresh);
    connect(&model_, &SettingsViewModel::isLoadingChanged, this, &LibreConnectionPicker::refresh);
    refresh();
}

void LibreConnectionPicker::refresh()
{
    const auto &connections = model_.libreConnections();
    setVisible(describeProvider(model_.provider()).choosesConnectionAfterSignIn && !connections.empty());
    const QSignalBlocker blocker(picker_);
    // Rows are rebuilt only when the list changed, so an open popup is not disturbed.
    bool same = picker_->count() == static_cast<int>(connections.size()) + 1;
    for (std::size_t i = 0; same && i < connections.size(); ++i) {
        same = picker_->itemData(static_cast<int>(i) + 1).toString() == QString::fromStdString(connections[i].id) &&
               picker_->itemText(static_cast<int>(i) + 1) == QString::fromStdString(connections[i].name);
    }
    if (!same) {
        picker_->clear();
        picker_->addItem(QStringLiteral("Choose a person"), QString());
        for (const LibreConnection &connection : connections) {
            // Item texts are drawn as plain text; a person's name is never read as markup.
            picker_->addItem(QString::fromStdString(connection.name), QString::fromStdString(connection.id));
        }
    }
    const int index = picker_->findData(QString::fromStdString(model_.selectedPatientID()));
    picker_->setCurrentIndex(index);
    picker_->setEnabled(!model_.isLoading());
}

} // namespace quillby
