#include "settings_window/GlucoseSettingsPane.h"

#include "core/GraphTimeWindowSetting.h"
#include "core/MeasurementUnitSetting.h"
#include "widgets/AccessibilityMarks.h"
#include "providers/GlucoseProviderDescription.h"
#include "settings/GlucoseThresholdOption.h"
#include "settings/SettingsViewModel.h"
#include "widgets/SettingsSymbols.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSignalBlocker>

#include <cmath>

namespace quillby {

namespace {

QComboBox *picker(const char *objectName, const QString &accessibleName, const QString &hint)
{
    auto *combo = new QComboBox();
    combo->setObjectName(QString::fromLatin1(objectName));
    combo->setAccessibleName(accessibleName);
    combo->setAccessibleDescription(hint);
    // The value pickers of the pane are one kind: one width, whatever their rows.
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(10);
    combo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // A list of a dozen rows that scrolls, around the chosen one, instead of a menu of every row
    // (253 for the high threshold in mg/dL) taller than the screen.
    combo->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    combo->setMaxVisibleItems(12);
    return combo;
}

// A row's label ("5.5 mmol/L", "100 mg/dL") with its number in the computer's locale ("5,5 mmol/L").
QString localizedThresholdLabel(const std::string &label)
{
    const QString text = QString::fromStdString(label);
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    bool ok = false;
    const QString number = text.left(space);
    const double value = QLocale::c().toDouble(number, &ok);
    if (space < 0 || !ok) {
        return text;
    }
    const qsizetype point = number.indexOf(QLatin1Char('.'));
    const int decimals = point < 0 ? 0 : static_cast<int>(number.size() - point - 1);
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals) + text.mid(space);
}

void fillThresholds(QComboBox *combo, GlucoseThresholdKind kind, GlucoseUnits unit)
{
    const QSignalBlocker blocker(combo);
    combo->clear();
    for (const GlucoseThresholdOption &option : GlucoseThresholdOption::options(kind, unit)) {
        combo->addItem(localizedThresholdLabel(option.label), option.mgdlValue);
    }
}

// The row whose value is the threshold; none when the threshold lies off the grid.
void selectThreshold(QComboBox *combo, double mgdL)
{
    const QSignalBlocker blocker(combo);
    int found = -1;
    for (int i = 0; i < combo->count(); ++i) {
        if (std::abs(combo->itemData(i).toDouble() - mgdL) < 1e-9) {
            found = i;
            break;
        }
    }
    combo->setCurrentIndex(found);
}

} // namespace

std::vector<std::pair<QString, int>> GlucoseSettingsPane::graphWindowRows()
{
    std::vector<std::pair<QString, int>> rows;
    for (const int hours : GraphTimeWindowSetting::allowedHours) {
        rows.emplace_back(hours == 1 ? QStringLiteral("1 hour") : QStringLiteral("%1 hours").arg(hours), hours);
    }
    return rows;
}

GlucoseSettingsPane::GlucoseSettingsPane(SettingsViewModel &model, QWidget *parent)
    : SettingsForm(parent), model_(model)
{
    setObjectName(QStringLiteral("glucoseSettingsPane"));

    SettingsSection *units = addSection(QStringLiteral("Units"));
    unitPicker_ = picker("measurementUnitPicker", QStringLiteral("Measurement unit"),
                         QStringLiteral("Choose between mmol/L and mg/dL"));
    for (const std::string_view unit : MeasurementUnitSetting::allowedUnits) {
        const QString symbol = QString::fromUtf8(unit.data(), static_cast<qsizetype>(unit.size()));
        unitPicker_->addItem(symbol, symbol);
    }
    units->addLabeledRow(QStringLiteral("Measurement unit"), unitPicker_);
    connect(unitPicker_, &QComboBox::activated, this, [this](int index) {
        const std::string unit = unitPicker_->itemData(index).toString().toStdString();
        if (unit != model_.measurementUnit()) {
            model_.setMeasurementUnit(unit);
            model_.measurementUnitDidChange();
        }
    });

    SettingsSection *thresholds = addSection(QStringLiteral("Thresholds"));
    lowPicker_ = picker("lowThresholdPicker", QStringLiteral("Low glucose threshold"),
                        QStringLiteral("Set the threshold for low glucose alerts"));
    thresholds->addLabeledRow(QStringLiteral("Low threshold"), lowPicker_);
    highPicker_ = picker("highThresholdPicker", QStringLiteral("High glucose threshold"),
                         QStringLiteral("Set the threshold for high glucose alerts"));
    thresholds->addLabeledRow(QStringLiteral("High threshold"), highPicker_);
    connect(lowPicker_, &QComboBox::activated, this, [this](int index) {
        const double value = lowPicker_->itemData(index).toDouble();
        if (value != model_.lowGlucoseThreshold()) {
            model_.editAppSetting(&SettingsViewModel::setLowGlucoseThreshold, value);
        }
    });
    connect(highPicker_, &QComboBox::activated, this, [this](int index) {
        const double value = highPicker_->itemData(index).toDouble();
        if (value != model_.highGlucoseThreshold()) {
            model_.editAppSetting(&SettingsViewModel::setHighGlucoseThreshold, value);
        }
    });

    SettingsSection *graph = addSection(QStringLiteral("Graph"));
    graphPicker_ = picker("graphTimeWindowPicker", QStringLiteral("Graph time window"),
                          QStringLiteral("Set how many hours of glucose history to display in the graph"));
    for (const auto &[text, hours] : graphWindowRows()) {
        graphPicker_->addItem(text, hours);
    }
    graph->addLabeledRow(QStringLiteral("Graph window"), graphPicker_);
    connect(graphPicker_, &QComboBox::activated, this, [this](int index) {
        const int hours = graphPicker_->itemData(index).toInt();
        if (hours != model_.graphTimeWindowHours()) {
            model_.editAppSetting(&SettingsViewModel::setGraphTimeWindowHours, hours);
        }
    });

    providerNote_ = new QWidget();
    combineAccessibleChildren(providerNote_);   // read as its text
    auto *note = new QHBoxLayout(providerNote_);
    note->setContentsMargins(2, 0, 2, 0);
    note->setSpacing(6);
    note->addWidget(makeSymbolLabel(settingsSymbol(QStringLiteral("info.circle")), 14, providerNote_), 0, Qt::AlignTop);
    providerNoteText_ = makeSecondaryLabel(QString(), true, providerNote_);
    note->addWidget(providerNoteText_, 1);
    graph->layout()->addWidget(providerNote_);

    for (auto signal : {&SettingsViewModel::measurementUnitChanged, &SettingsViewModel::lowGlucoseThresholdChanged,
                        &SettingsViewModel::highGlucoseThresholdChanged,
                        &SettingsViewModel::graphTimeWindowHoursChanged, &SettingsViewModel::providerChanged}) {
        connect(&model_, signal, this, &GlucoseSettingsPane::refresh);
    }
    refresh();
}

void GlucoseSettingsPane::refreshThresholds()
{
    const GlucoseUnits unit = units::fromMeasurementUnit(model_.measurementUnit());
    if (thresholdUnit_ != unit) {
        fillThresholds(lowPicker_, GlucoseThresholdKind::low, unit);
        fillThresholds(highPicker_, GlucoseThresholdKind::high, unit);
        thresholdUnit_ = unit;
    }
    selectThreshold(lowPicker_, model_.lowGlucoseThreshold());
    selectThreshold(highPicker_, model_.highGlucoseThreshold());
}

void GlucoseSettingsPane::refresh()
{
    {
        const QSignalBlocker blocker(unitPicker_);
        unitPicker_->setCurrentIndex(unitPicker_->findData(QString::fromStdString(model_.measurementUnit())));
    }
    refreshThresholds();
    {
        const QSignalBlocker blocker(graphPicker_);
        graphPicker_->setCurrentIndex(graphPicker_->findData(model_.graphTimeWindowHours()));
    }
    const GlucoseProviderDescription &description = describeProvider(model_.provider());
    providerNoteText_->setText(QString::fromStdString(description.graphHistoryNote));
    providerNote_->setObjectName(QString::fromStdString(description.graphHistoryNoteIdentifier));
    providerNote_->setAccessibleName(providerNoteText_->text());
}

} // namespace quillby
