#pragma once

#include <QObject>
#include <QPointer>
#include <QSettings>

namespace quillby {

// Notices when the settings file cannot be written (a read-only or full folder). QSettings
// keeps such changes in memory and says nothing; this flushes each batch of changes itself when
// QSettings would, reads the outcome and announces the first failure of the run.
class SettingsWriteMonitor : public QObject {
    Q_OBJECT
public:
    explicit SettingsWriteMonitor(QSettings &settings, QObject *parent = nullptr);
    ~SettingsWriteMonitor() override;

    // Writes pending changes now; false when the file could not be written (also reported).
    bool flush();
    bool hasFailed() const { return failed_; }

signals:
    // Once per run, on the first write that failed.
    void writeFailed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void check();

    QPointer<QSettings> settings_;
    bool failed_ = false;
};

} // namespace quillby
