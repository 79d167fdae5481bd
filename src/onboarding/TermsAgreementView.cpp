#include "onboarding/TermsAgreementView.h"

#include "widgets/AccessibilityMarks.h"
#include "widgets/AmbientBackgroundView.h"
#include "widgets/OnboardingStyle.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillby {

namespace {

std::function<void(const QUrl &)> orDesktopBrowser(std::function<void(const QUrl &)> openURL)
{
    if (openURL) {
        return openURL;
    }
    return [](const QUrl &url) { QDesktopServices::openUrl(url); };
}

} // namespace

// --- Texts ---

QString TermsTexts::windowHeading(bool termsHaveChanged)
{
    return termsHaveChanged ? QStringLiteral("Updated terms of use") : QStringLiteral("Terms of use");
}

QString TermsTexts::windowSubheading(bool termsHaveChanged)
{
    return termsHaveChanged ? QStringLiteral("The terms of use have changed since you last agreed. Please review and "
                                             "agree again to continue.")
                            : QStringLiteral("Quillby now has terms of use. Please review and agree to keep using the "
                                             "app.");
}

QString TermsTexts::sheetHeading(bool termsHaveChanged)
{
    return windowHeading(termsHaveChanged);
}

QString TermsTexts::sheetSubheading(bool termsHaveChanged)
{
    return termsHaveChanged ? windowSubheading(true)
                            : QStringLiteral("Please review and agree before signing in to your glucose account.");
}

// --- Key points ---

const TermsSummaryView::Point TermsSummaryView::kPoints[3] = {
    {"stethoscope", "Not a medical device",
     "Readings and alerts can be delayed or missing. Don't rely on Quillby alone, and confirm readings with your "
     "sensor app, receiver, or meter before making treatment decisions."},
    {"hand.raised", "Provided as is", "Quillby is free and comes without warranties, to the extent the law allows."},
    {"paintbrush.pointed", "Original work",
     "Please respect the app's original artwork, animations, and code. Reuse requires permission unless a licence or "
     "the law allows it."},
};

TermsPointView::TermsPointView(const QString &symbol, const QString &title, const QString &text, QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    // The symbol in a 20-pixel column, so the texts of all rows line up.
    auto *symbolColumn = new QVBoxLayout();
    symbolColumn->setContentsMargins(0, 1, 0, 0);
    QLabel *image = makeSymbolImage(symbol, 17, this);
    auto *imageBox = new QWidget(this);
    imageBox->setFixedWidth(20);
    auto *imageLayout = new QHBoxLayout(imageBox);
    imageLayout->setContentsMargins(0, 0, 0, 0);
    imageLayout->addWidget(image, 0, Qt::AlignHCenter | Qt::AlignTop);
    symbolColumn->addWidget(imageBox);
    symbolColumn->addStretch(1);
    row->addLayout(symbolColumn);

    auto *texts = new QVBoxLayout();
    texts->setSpacing(2);
    texts->addWidget(makeTextLabel(title, this, 1.0, QFont::DemiBold));
    texts->addWidget(makeSecondaryTextLabel(text, this));
    row->addLayout(texts, 1);

    // One element for assistive technology, read as title and text.
    setAccessibleName(title);
    setAccessibleDescription(text);
    combineAccessibleChildren(this);
}

TermsSummaryView::TermsSummaryView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("termsSummary"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    for (const Point &point : kPoints) {
        layout->addWidget(new TermsPointView(QString::fromLatin1(point.symbol), QString::fromUtf8(point.title),
                                             QString::fromUtf8(point.text), this));
    }
}

// --- Consent line ---

QString TermsConsentFootnote::plainText()
{
    return QStringLiteral("By selecting Agree, you agree to the full Quillby terms.");
}

TermsConsentFootnote::TermsConsentFootnote(const QUrl &termsURL, std::function<void(const QUrl &)> openURL,
                                           QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("termsConsentFootnote"));
    // Our own text with one link; nothing in it comes from a server or the user.
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    tabStopsOnLinks(this);
    setText(QStringLiteral("By selecting Agree, you agree to the full %1.")
                .arg(linkHtml(termsURL.toString(QUrl::FullyEncoded), QStringLiteral("Quillby terms"),
                              lightAppearancePalette(Qt::white))));
    setAccessibleName(plainText());
    setFont(scaledFont(font(), 0.85));
    useSecondaryText(this);
    auto open = orDesktopBrowser(std::move(openURL));
    connect(this, &QLabel::linkActivated, this, [open](const QString &link) { open(QUrl(link)); });
}

// --- Window content ---

TermsAgreementWindowView::TermsAgreementWindowView(bool termsHaveChanged, std::function<void()> onAgree,
                                                   std::function<void()> onQuit, const QUrl &termsURL,
                                                   std::function<void(const QUrl &)> openURL, QWidget *parent)
    : QWidget(parent)
    , termsHaveChanged_(termsHaveChanged)
{
    setObjectName(QStringLiteral("termsAgreementWindowView"));
    QWidget *panel = makeAmbientSplit(this, QSize(kWidth, kHeight), kPanelWidth, background_);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(36, 28, 36, 24);
    layout->setSpacing(0);
    layout->addStretch(1);

    QLabel *heading = makeLargeTitle(TermsTexts::windowHeading(termsHaveChanged), panel);
    heading->setObjectName(QStringLiteral("termsHeading"));
    layout->addWidget(heading);
    layout->addSpacing(8);
    QLabel *subheading = makeSecondaryTextLabel(TermsTexts::windowSubheading(termsHaveChanged), panel);
    subheading->setObjectName(QStringLiteral("termsSubheading"));
    layout->addWidget(subheading);
    layout->addSpacing(20);
    layout->addWidget(new TermsSummaryView(panel));
    layout->addSpacing(16);
    layout->addWidget(new TermsConsentFootnote(termsURL, std::move(openURL), panel));
    layout->addStretch(1);

    auto *buttons = new QHBoxLayout();
    quit_ = new QPushButton(QStringLiteral("Quit"), panel);
    quit_->setObjectName(QStringLiteral("termsQuitButton"));
    quit_->setAccessibleName(QStringLiteral("Quit"));
    quit_->setAccessibleDescription(QStringLiteral("Quits Quillby without agreeing"));
    quit_->setAutoDefault(false);
    makeBordered(quit_);
    agree_ = new QPushButton(QStringLiteral("Agree"), panel);
    agree_->setObjectName(QStringLiteral("termsAgreeButton"));
    agree_->setAccessibleName(QStringLiteral("Agree"));
    agree_->setAccessibleDescription(QStringLiteral("Agrees to the terms and continues"));
    agree_->setDefault(true);
    makeProminent(agree_);
    buttons->addWidget(quit_);
    buttons->addStretch(1);
    buttons->addWidget(agree_);
    layout->addLayout(buttons);

    connect(quit_, &QPushButton::clicked, this, [onQuit = std::move(onQuit)] {
        if (onQuit) {
            onQuit();
        }
    });
    connect(agree_, &QPushButton::clicked, this, [onAgree = std::move(onAgree)] {
        if (onAgree) {
            onAgree();
        }
    });
}

// --- Sheet ---

TermsAgreementSheet::TermsAgreementSheet(bool termsHaveChanged, std::function<void()> onAgree,
                                         std::function<void()> onCancel, const QUrl &termsURL, QWidget *parent)
    : QDialog(parent)
    , termsHaveChanged_(termsHaveChanged)
    , onAgree_(std::move(onAgree))
    , onCancel_(std::move(onCancel))
{
    setObjectName(QStringLiteral("termsAgreementSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(heading(termsHaveChanged));
    setFixedWidth(kWidth);
    useLightAppearance(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    auto *header = new QVBoxLayout();
    header->setSpacing(4);
    QLabel *title = makeTextLabel(heading(termsHaveChanged), this, 1.35, QFont::DemiBold);
    title->setObjectName(QStringLiteral("termsHeading"));
    markAccessibleHeading(title);
    header->addWidget(title);
    QLabel *subtitle = makeSecondaryTextLabel(subheading(termsHaveChanged), this);
    subtitle->setObjectName(QStringLiteral("termsSubheading"));
    header->addWidget(subtitle);
    layout->addLayout(header);

    layout->addWidget(new TermsSummaryView(this));
    layout->addWidget(new TermsConsentFootnote(
        termsURL,
        [this](const QUrl &url) {
            if (openURL) {
                openURL(url);
            }
        },
        this));
    openURL = [](const QUrl &url) { QDesktopServices::openUrl(url); };

    layout->addStretch(1);
    auto *buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("termsCancelButton"));
    cancel->setAutoDefault(false);
    makeBordered(cancel);
    auto *agree = new QPushButton(QStringLiteral("Agree"), this);
    agree->setObjectName(QStringLiteral("termsAgreeButton"));
    agree->setAccessibleName(QStringLiteral("Agree"));
    agree->setAccessibleDescription(QStringLiteral("Agrees to the terms and signs in to your glucose account"));
    agree->setDefault(true);
    makeProminent(agree);
    startFocusOn(this, agree);
    buttons->addWidget(cancel);
    buttons->addWidget(agree);
    layout->addLayout(buttons);

    // As tall as its wrapped texts need at its width.
    const int height = layout->totalHeightForWidth(width());
    if (height > 0) {
        resize(width(), height);
    }

    connect(cancel, &QPushButton::clicked, this, &TermsAgreementSheet::reject);
    connect(agree, &QPushButton::clicked, this, [this] {
        if (onAgree_) {
            onAgree_();
        }
    });
}

void TermsAgreementSheet::reject()
{
    if (onCancel_) {
        onCancel_();
    }
}

} // namespace quillby
