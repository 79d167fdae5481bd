#pragma once

#include <QDialog>
#include <QPointer>
#include <QUrl>

class QLabel;
class QPushButton;

namespace quillby {

class HistoryCoordinator;

// The consent sheet shown before history saving is turned on, from the Insights window and
// from the Settings window's Insights pane. "Enable saving" closes the sheet and then asks the
// coordinator to turn saving on; what happens shows in the coordinator's snapshot and error
// text, which the presenter shows. Its privacy link leads to `privacyPolicyURL`. Window-modal;
// open it with open().
class HistoryEnableDisclosureView : public QDialog {
    Q_OBJECT
public:
    HistoryEnableDisclosureView(HistoryCoordinator *history, bool isSignedIn, const QUrl &privacyPolicyURL,
                                QWidget *parent = nullptr);

    int retentionDays() const;
    bool canEnable() const;
    QPushButton *enableButton() const { return enable_; }
    QPushButton *cancelButton() const { return cancel_; }

    // "History is kept for <days> days. …"
    static QString retentionParagraph(int days);

private:
    void refresh();
    void enableSaving();

    QPointer<HistoryCoordinator> history_;
    bool isSignedIn_;
    QLabel *retention_;
    QPushButton *cancel_;
    QPushButton *enable_;
};

} // namespace quillby
