#include "onboarding/TermsAgreementView.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#ifndef QUILLBY_SERVER_URL
#define QUILLBY_SERVER_URL "https://quillby.app"
#endif

namespace quillby {

namespace {

struct TermsPoint {
    const char *title;
    const char *text;
};

constexpr TermsPoint kPoints[] = {
    {"Not a medical device",
     "Readings and alerts can be delayed or missing. Don't rely on Quillby alone, and confirm readings with your "
     "sensor app, receiver, or meter before making treatment decisions."},
    {"Provided as is", "Quillby is free and comes without warranties, to the extent the law allows."},
    {"Original work",
     "Please respect the app's original artwork, animations, and code. Reuse requires permission unless a licence or "
     "the law allows it."},
};

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    return label;
}

QLabel *secondaryLabel(const QString &text, QWidget *parent)
{
    QLabel *label = plainLabel(text, parent);
    QPalette palette = label->palette();
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.62f);
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

} // namespace

QUrl termsOfUseURL()
{
    static const QUrl url = [] {
        QUrl base(QStringLiteral(QUILLBY_SERVER_URL));
        base.setPath(QStringLiteral("/terms"));
        return base;
    }();
    return url;
}

QString TermsAgreementSheet::heading(bool termsHaveChanged)
{
    return termsHaveChanged ? QStringLiteral("Updated terms of use") : QStringLiteral("Terms of use");
}

QString TermsAgreementSheet::subheading(bool termsHaveChanged)
{
    return termsHaveChanged ? QStringLiteral("The terms of use have changed since you last agreed. Please review and "
                                             "agree again to continue.")
                            : QStringLiteral("Please review and agree before signing in to your glucose account.");
}

TermsAgreementSheet::TermsAgreementSheet(bool termsHaveChanged, std::function<void()> onAgree,
                                         std::function<void()> onCancel, QWidget *parent)
    : QDialog(parent)
    , termsHaveChanged_(termsHaveChanged)
    , onAgree_(std::move(onAgree))
    , onCancel_(std::move(onCancel))
{
    setObjectName(QStringLiteral("termsAgreementSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(heading(termsHaveChanged));
    setFixedWidth(440);
    openURL = [](const QUrl &url) { QDesktopServices::openUrl(url); };

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    QLabel *title = plainLabel(heading(termsHaveChanged), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.35);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    title->setAccessibleName(heading(termsHaveChanged));
    auto *header = new QVBoxLayout();
    header->setSpacing(4);
    header->addWidget(title);
    header->addWidget(secondaryLabel(subheading(termsHaveChanged), this));
    layout->addLayout(header);

    for (const TermsPoint &point : kPoints) {
        auto *row = new QWidget(this);
        auto *rowLayout = new QVBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(2);
        QLabel *pointTitle = plainLabel(QString::fromUtf8(point.title), row);
        QFont bold = pointTitle->font();
        bold.setWeight(QFont::DemiBold);
        pointTitle->setFont(bold);
        rowLayout->addWidget(pointTitle);
        rowLayout->addWidget(secondaryLabel(QString::fromUtf8(point.text), row));
        row->setAccessibleName(QString::fromUtf8(point.title) + QStringLiteral(", ") + QString::fromUtf8(point.text));
        layout->addWidget(row);
    }

    auto *footnote = new QLabel(this);
    footnote->setTextFormat(Qt::RichText);
    footnote->setWordWrap(true);
    footnote->setText(QStringLiteral("By selecting Agree, you agree to the full <a href=\"%1\">Quillby terms</a>.")
                          .arg(termsOfUseURL().toString(QUrl::FullyEncoded).toHtmlEscaped()));
    QFont small = footnote->font();
    small.setPointSizeF(small.pointSizeF() * 0.88);
    footnote->setFont(small);
    connect(footnote, &QLabel::linkActivated, this, [this](const QString &link) {
        if (openURL) {
            openURL(QUrl(link));
        }
    });
    layout->addWidget(footnote);

    layout->addStretch(1);
    auto *buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("termsCancelButton"));
    cancel->setAutoDefault(false);
    auto *agree = new QPushButton(QStringLiteral("Agree"), this);
    agree->setObjectName(QStringLiteral("termsAgreeButton"));
    agree->setAccessibleDescription(QStringLiteral("Agrees to the terms and signs in to your glucose account"));
    agree->setDefault(true);
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
