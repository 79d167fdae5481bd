#include "core/SettingsWriteMonitor.h"

#include <QEvent>

namespace quillby {

SettingsWriteMonitor::SettingsWriteMonitor(QSettings &settings, QObject *parent) : QObject(parent), settings_(&settings)
{
    settings.installEventFilter(this);
}

SettingsWriteMonitor::~SettingsWriteMonitor()
{
    if (settings_) {
        settings_->removeEventFilter(this);
    }
}

bool SettingsWriteMonitor::flush()
{
    if (!settings_) {
        return false;
    }
    settings_->sync();
    check();
    return settings_->status() != QSettings::AccessError;
}

bool SettingsWriteMonitor::eventFilter(QObject *watched, QEvent *event)
{
    // QSettings answers its own update request by writing its pending changes; do that here so
    // the outcome is seen.
    if (watched == settings_ && event->type() == QEvent::UpdateRequest) {
        flush();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void SettingsWriteMonitor::check()
{
    if (!failed_ && settings_ && settings_->status() == QSettings::AccessError) {
        failed_ = true;
        emit writeFailed();
    }
}

} // namespace quillby
