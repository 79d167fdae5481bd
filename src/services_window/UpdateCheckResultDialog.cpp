#include "services_window/UpdateCheckResultDialog.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>

namespace quillby {

namespace {

// QMessageBox shows its informative text as rich text with live links when the text looks like
// markup. Ours carry the feed's version text: every text is shown as typed, and nothing in it
// opens.
void setPlainInformativeText(QMessageBox *box, const QString &text)
{
    box->setInformativeText(text);
    for (QLabel *label : box->findChildren<QLabel *>()) {
        if (!label->text().isEmpty()) {
            label->setTextFormat(Qt::PlainText);
            label->setOpenExternalLinks(false);
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        }
    }
}

} // namespace

QMessageBox *makeUpdateCheckResultDialog(const UpdateCheckOutcome &outcome, std::function<void(const QUrl &)> openURL,
                                         QWidget *parent)
{
    if (!openURL) {
        openURL = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    }
    auto *box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("updateCheckResultDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Software Update"));
    box->setTextFormat(Qt::PlainText);
    box->setIcon(QMessageBox::Information);
    switch (outcome.kind) {
    case UpdateCheckOutcome::Kind::newerVersion: {
        const QString version = outcome.item ? outcome.item->displayVersion() : QString();
        box->setText(QStringLiteral("A new version of Quillby is available!"));
        const QString how = outcome.installable
                                ? QStringLiteral("Choose \u201cUpdate available\u201d in the Quillby menu to install it.")
                                : QStringLiteral("Get it from the download page.");
        setPlainInformativeText(box, QStringLiteral("Quillby %1 is now available \u2014 you have %2. %3")
                                         .arg(version, outcome.currentVersion, how));
        const QUrl link = outcome.item ? outcome.item->downloadLink : QUrl();
        if (link.isValid() && link.scheme() == QLatin1String("https")) {
            QPushButton *download = box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
            download->setObjectName(QStringLiteral("updateDownloadButton"));
            QObject::connect(download, &QPushButton::clicked, box, [openURL, link] { openURL(link); });
            box->setDefaultButton(download);
        }
        box->addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole)
            ->setObjectName(QStringLiteral("updateCloseButton"));
        break;
    }
    case UpdateCheckOutcome::Kind::upToDate:
        box->setText(QStringLiteral("You\u2019re up to date!"));
        setPlainInformativeText(
            box, QStringLiteral("Quillby %1 is currently the newest version available.").arg(outcome.currentVersion));
        box->addButton(QMessageBox::Ok)->setObjectName(QStringLiteral("updateCloseButton"));
        break;
    case UpdateCheckOutcome::Kind::failed:
        box->setIcon(QMessageBox::Warning);
        box->setText(QStringLiteral("Update error"));
        setPlainInformativeText(box, QStringLiteral("Quillby could not check for updates. Please try again later."));
        box->addButton(QMessageBox::Ok)->setObjectName(QStringLiteral("updateCloseButton"));
        break;
    }
    return box;
}

void showUpdateCheckResult(const UpdateCheckOutcome &outcome)
{
    QMessageBox *box = makeUpdateCheckResultDialog(outcome);
    box->setModal(false);
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace quillby
