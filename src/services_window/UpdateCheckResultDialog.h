#pragma once

#include "services/UpdateCheckOutcome.h"

#include <QMessageBox>
#include <QUrl>

#include <functional>

class QWidget;

namespace quillby {

// The small window that answers a user-started update check: the newer version with a button
// that opens its download page, "up to date", or that the check failed. It deletes itself when
// closed. `openURL` defaults to the desktop's browser.
QMessageBox *makeUpdateCheckResultDialog(const UpdateCheckOutcome &outcome,
                                         std::function<void(const QUrl &)> openURL = {}, QWidget *parent = nullptr);

// Makes the dialog and shows it without blocking.
void showUpdateCheckResult(const UpdateCheckOutcome &outcome);

} // namespace quillby
