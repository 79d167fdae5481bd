#include "menubar/StatusBarMenuModel.h"

#include "menubar/GlucoseGraphRenderer.h"
#include "menubar/StatusBarTypes.h"

#include <QStringList>

namespace quillby {

namespace {

StatusBarMenuEntry separator()
{
    StatusBarMenuEntry entry;
    entry.kind = StatusBarMenuEntry::Kind::separator;
    entry.enabled = false;
    return entry;
}

StatusBarMenuEntry actionEntry(const QString &text, StatusBarMenuAction action, const QString &objectName,
                               const QString &key = {})
{
    StatusBarMenuEntry entry;
    entry.kind = StatusBarMenuEntry::Kind::action;
    entry.text = text;
    entry.action = action;
    entry.objectName = objectName;
    entry.shortcutKey = key;
    return entry;
}

} // namespace

StatusBarMenuModel::StatusBarMenuModel(StatusDateFormatter formatter) : formatter_(std::move(formatter)) {}

QString StatusBarMenuModel::retryText(Date date) const
{
    return QStringLiteral("Next retry at ") + formatter_.preciseTime(date);
}

QString StatusBarMenuModel::readingSummary(const GlucoseReadings &history, GlucoseUnits unit, Date now) const
{
    if (history.empty()) {
        return QStringLiteral("No glucose readings available.");
    }
    const GlucoseReading &newest = history.back();
    return GlucoseGraphRenderer::currentValueText(newest, unit, now) + QLatin1Char(' ')
        + QString::fromStdString(units::symbol(unit)) + QStringLiteral(" · Last reading: ")
        + formatter_.dateAndTime(newest.date);
}

QString StatusBarMenuModel::alertAccessibleLabel(const ErrorInfo &info, const QString &retryText)
{
    QStringList parts;
    for (const QString &part : {QString::fromStdString(info.title), QString::fromStdString(info.message),
                                QString::fromStdString(info.remediation), retryText}) {
        if (!part.isEmpty()) {
            parts.append(part);
        }
    }
    return parts.join(QStringLiteral(". "));
}

std::vector<StatusBarMenuEntry> StatusBarMenuModel::entries(const StatusBarMenuState &state, Date now) const
{
    std::vector<StatusBarMenuEntry> result;

    StatusBarMenuEntry graph;
    graph.kind = StatusBarMenuEntry::Kind::graph;
    graph.enabled = false;
    graph.text = readingSummary(state.glucoseHistory, state.unit, now);
    graph.objectName = QStringLiteral("glucoseGraphView");
    result.push_back(graph);
    result.push_back(separator());

    // One row only: an error wins over the staleness warning.
    const std::optional<ErrorInfo> &shown = state.currentError ? state.currentError : state.freshnessWarning;
    if (shown) {
        StatusBarMenuEntry row;
        row.kind = StatusBarMenuEntry::Kind::alertRow;
        row.enabled = false;
        row.alert = shown;
        row.text = QString::fromStdString(shown->title);
        if (state.nextRetryAt) {
            row.retryText = retryText(*state.nextRetryAt);
        }
        row.objectName = QStringLiteral("statusAlertNotice");
        result.push_back(row);
        result.push_back(separator());
    }

    if (state.isUpdateAvailable) {
        result.push_back(actionEntry(QStringLiteral("Update available"), StatusBarMenuAction::downloadUpdate,
                                     QStringLiteral("updateAvailableButton")));
        if (!state.updateInstallFailure.isEmpty()) {
            StatusBarMenuEntry failure = actionEntry(
                QStringLiteral("The update could not be installed: ") + state.updateInstallFailure,
                StatusBarMenuAction::none, QStringLiteral("updateInstallFailedNotice"));
            failure.enabled = false;
            result.push_back(failure);
        }
    }

    addSnoozeEntries(result, state, now);

    result.push_back(actionEntry(QStringLiteral("Insights"), StatusBarMenuAction::insights,
                                 QStringLiteral("insightsButton"), QStringLiteral("i")));
    result.push_back(actionEntry(QStringLiteral("Settings"), StatusBarMenuAction::settings,
                                 QStringLiteral("settingsButton"), QStringLiteral(",")));
    result.push_back(actionEntry(QStringLiteral("Quit"), StatusBarMenuAction::quit, QStringLiteral("quitButton"),
                                 QStringLiteral("q")));
    return result;
}

void StatusBarMenuModel::addSnoozeEntries(std::vector<StatusBarMenuEntry> &entries, const StatusBarMenuState &state,
                                          Date now) const
{
    if (!state.alertsEnabled) {
        return;
    }
    if (state.alertsSnoozedUntil && *state.alertsSnoozedUntil > now) {
        const QString label = state.allAlertKindsSnooze ? QStringLiteral("Alerts") : QStringLiteral("Selected alerts");
        StatusBarMenuEntry snoozed = actionEntry(label + QStringLiteral(" snoozed until ")
                                                     + formatter_.shortTime(*state.alertsSnoozedUntil),
                                                 StatusBarMenuAction::none, QStringLiteral("alertsSnoozedValue"));
        snoozed.enabled = false;
        entries.push_back(snoozed);
        entries.push_back(actionEntry(QStringLiteral("Resume alerts now"), StatusBarMenuAction::resumeAlerts,
                                      QStringLiteral("resumeAlertsButton")));
    } else {
        entries.push_back(actionEntry(QStringLiteral("Snooze alerts (30 min)"), StatusBarMenuAction::snooze30Minutes,
                                      QStringLiteral("snoozeAlerts30MinutesButton")));
        entries.push_back(actionEntry(QStringLiteral("Snooze alerts (2 hours)"), StatusBarMenuAction::snooze2Hours,
                                      QStringLiteral("snoozeAlerts2HoursButton")));
    }
    entries.push_back(separator());
}

} // namespace quillby
