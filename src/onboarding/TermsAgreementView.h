#pragma once

#include <QDialog>
#include <QLabel>
#include <QUrl>
#include <QWidget>

#include <functional>

class QPushButton;

namespace quillby {

class AmbientBackgroundView;

// The views that present the terms of use for agreement: the content of the stand-alone terms
// window (TermsAgreementWindowView) and the sheet shown before a sign-in
// (TermsAgreementSheet). Both show the same three key points and the same consent line; each
// has a variant for terms seen for the first time and one for terms that changed since an
// earlier acceptance. The views neither record the acceptance nor close themselves: their
// owner's actions do both.

// One key point: a symbol, a title and a text; read by assistive technology as title and text.
class TermsPointView : public QWidget {
    Q_OBJECT
public:
    TermsPointView(const QString &symbol, const QString &title, const QString &text, QWidget *parent = nullptr);
};

// The three key points, in order.
class TermsSummaryView : public QWidget {
    Q_OBJECT
public:
    struct Point {
        const char *symbol;
        const char *title;
        const char *text;
    };
    static const Point kPoints[3];

    explicit TermsSummaryView(QWidget *parent = nullptr);
};

// "By selecting Agree, you agree to the full Quillby terms.", "Quillby terms" linking to the
// full terms at `termsURL` (the product web site's terms page); following it opens the page
// with `openURL`.
class TermsConsentFootnote : public QLabel {
    Q_OBJECT
public:
    TermsConsentFootnote(const QUrl &termsURL, std::function<void(const QUrl &)> openURL, QWidget *parent = nullptr);
    static QString plainText();
};

// The texts of the two views by variant.
struct TermsTexts {
    static QString windowHeading(bool termsHaveChanged);
    static QString windowSubheading(bool termsHaveChanged);
    static QString sheetHeading(bool termsHaveChanged);
    static QString sheetSubheading(bool termsHaveChanged);
};

// The content of the terms window (800 x 600): the ambient panel on the left; on the right the
// heading, the subheading, the key points, the consent line (linking to `termsURL`) and the
// buttons "Quit" (runs onQuit) and "Agree" (runs onAgree).
class TermsAgreementWindowView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 800;
    static constexpr int kHeight = 600;
    static constexpr int kPanelWidth = 400;

    TermsAgreementWindowView(bool termsHaveChanged, std::function<void()> onAgree, std::function<void()> onQuit,
                             const QUrl &termsURL, std::function<void(const QUrl &)> openURL = {},
                             QWidget *parent = nullptr);

    bool termsHaveChanged() const { return termsHaveChanged_; }
    AmbientBackgroundView *ambientBackground() const { return background_; }
    QPushButton *agreeButton() const { return agree_; }
    QPushButton *quitButton() const { return quit_; }

private:
    bool termsHaveChanged_;
    AmbientBackgroundView *background_;
    QPushButton *agree_;
    QPushButton *quit_;
};

// The terms-of-use sheet shown before a sign-in while the current terms are not accepted
// (Settings window, onboarding). Window-modal on its parent; open it with open(). Return runs
// onAgree; Escape, Cancel and closing it run onCancel. Its consent line links to `termsURL`.
class TermsAgreementSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 440;

    TermsAgreementSheet(bool termsHaveChanged, std::function<void()> onAgree, std::function<void()> onCancel,
                        const QUrl &termsURL, QWidget *parent = nullptr);

    bool termsHaveChanged() const { return termsHaveChanged_; }
    static QString heading(bool termsHaveChanged) { return TermsTexts::sheetHeading(termsHaveChanged); }
    static QString subheading(bool termsHaveChanged) { return TermsTexts::sheetSubheading(termsHaveChanged); }

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
