#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

class QPushButton;

namespace quillby {

// The address of the full terms of use: the product's web site with the path "/terms".
QUrl termsOfUseURL();

// The terms-of-use sheet shown before a sign-in while the current terms are not accepted
// (Settings window, onboarding). It neither records the acceptance nor closes itself: the
// presenter's onAgree and onCancel do both. Window-modal on its parent; open it with open().
// Return runs onAgree, Escape onCancel.
class TermsAgreementSheet : public QDialog {
    Q_OBJECT
public:
    TermsAgreementSheet(bool termsHaveChanged, std::function<void()> onAgree, std::function<void()> onCancel,
                        QWidget *parent = nullptr);

    bool termsHaveChanged() const { return termsHaveChanged_; }
    static QString heading(bool termsHaveChanged);
    static QString subheading(bool termsHaveChanged);

    // Opens the full terms in the browser when the footnote's link is followed (default:
    // the desktop's browser).
    std::function<void(const QUrl &)> openURL;

protected:
    // Closing by the window manager or Escape counts as Cancel.
    void reject() override;

private:
    bool termsHaveChanged_;
    std::function<void()> onAgree_;
    std::function<void()> onCancel_;
};

} // namespace quillby
