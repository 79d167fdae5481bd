#include "settings_window/SettingsWindowServices.h"

#include <QProcess>
#include <QStandardPaths>

namespace quillby {

bool openDesktopNotificationSettings()
{
    struct Candidate {
        const char *program;
        const char *argument;
        const char *desktop;
    };
    const Candidate candidates[] = {
        {"gnome-control-center", "notifications", "GNOME"},
        {"systemsettings", "kcm_notifications", "KDE"},
    };
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    // The desktop's own settings program first, then any that is installed.
    for (int pass = 0; pass < 2; ++pass) {
        for (const Candidate &candidate : candidates) {
            const bool ownDesktop = desktop.contains(QLatin1String(candidate.desktop), Qt::CaseInsensitive);
            if ((pass == 0) != ownDesktop) {
                continue;
            }
            const QString program = QStandardPaths::findExecutable(QString::fromLatin1(candidate.program));
            if (!program.isEmpty() &&
                QProcess::startDetached(program, {QString::fromLatin1(candidate.argument)})) {
                return true;
            }
        }
    }
    return false;
}

} // namespace quillby
