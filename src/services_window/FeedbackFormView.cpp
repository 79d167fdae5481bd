#include "services_window/FeedbackFormView.h"
#include "core/async/RunDetached.h"

#include "services/FeedbackFormViewModel.h"
#include "widgets/AmbientBackgroundView.h"
#include "widgets/OnboardingStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillby {

namespace {

// Starts a submission from the Send button; the model may be destroyed before it ends.
QCoro::Task<void> startSubmission(QPointer<FeedbackFormViewModel> model)
{
    if (model) {
        co_await model->submit();
    }
}

// The message box: a rounded box in the window's view colour with an outline that stands out
// from the window, drawn from the palette it shows on (a style sheet would take the
// application's palette, a dark one on a dark desktop).
class MessageBox final : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(boundaryColor(palette()), 1));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

QString limitText(qsizetype length)
{
    const QLocale locale;
    return QStringLiteral("%1 of %2 characters")
        .arg(locale.toString(static_cast<qlonglong>(length)),
             locale.toString(static_cast<qlonglong>(FeedbackFormViewModel::kMaximumMessageLength)));
}

} // namespace

FeedbackFormView::FeedbackFormView(FeedbackFormViewModel *model, QWidget *parent) : QWidget(parent), model_(model)
{
    setObjectName(QStringLiteral("feedbackFormView"));
    QWidget *column = makeAmbientSplit(this, QSize(kWidth, kHeight), kPanelWidth, background_);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(50, 32, 50, 28);
    layout->setSpacing(0);
    layout->addStretch(1);

    auto *title = new QLabel(QStringLiteral("Share feedback"), column);
    title->setObjectName(QStringLiteral("feedbackTitle"));
    title->setTextFormat(Qt::PlainText);
    title->setFont(scaledFont(font(), 2.0, QFont::Bold));
    title->setAccessibleName(QStringLiteral("Share feedback"));
    layout->addWidget(title);
    layout->addSpacing(8);

    auto *subtitle = new QLabel(QStringLiteral("Share your thoughts, report an issue, or suggest an improvement."), column);
    subtitle->setObjectName(QStringLiteral("feedbackSubtitle"));
    subtitle->setTextFormat(Qt::PlainText);
    subtitle->setWordWrap(true);
    subtitle->setFont(scaledFont(font(), 16.0 / 13.0, QFont::Normal));
    useSecondaryText(subtitle);
    layout->addWidget(subtitle);
    layout->addSpacing(22);

    name_ = new QLineEdit(column);
    name_->setObjectName(QStringLiteral("feedbackNameField"));
    name_->setPlaceholderText(QStringLiteral("Name (optional)"));
    name_->setAccessibleName(QStringLiteral("Name (optional)"));
    name_->setMaxLength(static_cast<int>(FeedbackFormViewModel::kMaximumNameLength));
    name_->setToolTip(QStringLiteral("Up to %1 characters").arg(static_cast<qlonglong>(FeedbackFormViewModel::kMaximumNameLength)));
    layout->addWidget(name_);
    layout->addSpacing(10);

    email_ = new QLineEdit(column);
    email_->setObjectName(QStringLiteral("feedbackEmailField"));
    email_->setPlaceholderText(QStringLiteral("Email (optional)"));
    email_->setAccessibleName(QStringLiteral("Email (optional)"));
    email_->setMaxLength(static_cast<int>(FeedbackFormViewModel::kMaximumEmailLength));
    email_->setToolTip(QStringLiteral("Up to %1 characters").arg(static_cast<qlonglong>(FeedbackFormViewModel::kMaximumEmailLength)));
    layout->addWidget(email_);
    layout->addSpacing(14);

    auto *messageLabel = new QLabel(QStringLiteral("Message"), column);
    messageLabel->setTextFormat(Qt::PlainText);
    messageLabel->setFont(scaledFont(font(), 1.0, QFont::DemiBold));
    layout->addWidget(messageLabel);
    layout->addSpacing(6);

    // The message box: a rounded, outlined box in the view colour holding the editor, which
    // draws on the same colour.
    auto *box = new MessageBox(column);
    box->setObjectName(QStringLiteral("feedbackMessageBox"));
    box->setFixedHeight(220);
    auto *boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(10, 1, 10, 1);
    message_ = new QPlainTextEdit(box);
    message_->setObjectName(QStringLiteral("feedbackMessageEditor"));
    message_->setAccessibleName(QStringLiteral("Message"));
    message_->setFrameShape(QFrame::NoFrame);
    message_->setTabChangesFocus(true);   // Tab and Shift-Tab move focus; Return starts a new line
    message_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    message_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    message_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    message_->document()->setDocumentMargin(8);
    boxLayout->addWidget(message_);
    layout->addWidget(box);

    // How much of the message's room is used, under the box on the right.
    limit_ = new QLabel(column);
    limit_->setObjectName(QStringLiteral("feedbackMessageLimitText"));
    limit_->setTextFormat(Qt::PlainText);
    limit_->setAlignment(Qt::AlignRight);
    limit_->setFont(scaledFont(font(), 0.85, QFont::Normal));
    useSecondaryText(limit_);
    layout->addSpacing(4);
    layout->addWidget(limit_);

    error_ = new QLabel(column);
    error_->setObjectName(QStringLiteral("feedbackErrorText"));
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);
    error_->setFont(scaledFont(font(), 0.9, QFont::Normal));
    QPalette red = error_->palette();
    red.setColor(QPalette::WindowText, QColor(0xd7, 0x00, 0x15));
    error_->setPalette(red);
    layout->addSpacing(8);
    layout->addWidget(error_);

    layout->addStretch(1);

    auto *buttons = new QHBoxLayout();
    buttons->setSpacing(10);
    buttons->addStretch(1);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), column);
    cancel_->setObjectName(QStringLiteral("feedbackCancelButton"));
    cancel_->setAccessibleName(QStringLiteral("Cancel"));
    cancel_->setAutoDefault(false);
    makeBordered(cancel_);
    send_ = new QPushButton(QStringLiteral("Send feedback"), column);
    send_->setObjectName(QStringLiteral("feedbackSendButton"));
    send_->setAccessibleName(QStringLiteral("Send feedback"));
    send_->setDefault(true);
    buttons->addWidget(cancel_);
    buttons->addWidget(send_);
    layout->addLayout(buttons);

    setTabOrder(name_, email_);
    setTabOrder(email_, message_);
    setTabOrder(message_, cancel_);
    setTabOrder(cancel_, send_);

    connect(name_, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (model_) {
            model_->setName(text);
        }
    });
    connect(email_, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (model_) {
            model_->setEmail(text);
        }
    });
    connect(message_, &QPlainTextEdit::textChanged, this, [this] {
        if (trimMessageToLimit()) {
            return;   // the edit changes the text again
        }
        if (model_) {
            model_->setMessage(message_->toPlainText());
        }
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (model_) {
            model_->cancel();
        }
    });
    connect(send_, &QPushButton::clicked, this, &FeedbackFormView::send);
    if (model_) {
        for (auto signal : {&FeedbackFormViewModel::nameChanged, &FeedbackFormViewModel::emailChanged,
                            &FeedbackFormViewModel::messageChanged, &FeedbackFormViewModel::errorMessageChanged,
                            &FeedbackFormViewModel::isSubmittingChanged, &FeedbackFormViewModel::canSubmitChanged}) {
            connect(model_, signal, this, &FeedbackFormView::syncFromModel);
        }
    }
    syncFromModel();
}

void FeedbackFormView::send()
{
    if (model_ && model_->canSubmit()) {
        runDetached(startSubmission(model_));
    }
}

bool FeedbackFormView::trimMessageToLimit()
{
    const QString text = message_->toPlainText();
    const qsizetype excess = text.size() - FeedbackFormViewModel::kMaximumMessageLength;
    if (excess <= 0) {
        return false;
    }
    // What was just typed or pasted ends at the cursor: its end is dropped, as a line field
    // with a maximum length does. Text that does not end there is cut at the end instead.
    QTextCursor cursor = message_->textCursor();
    qsizetype end = cursor.position();
    if (end < excess) {
        end = text.size();
    }
    qsizetype start = end - excess;
    if (start > 0 && text.at(start).isLowSurrogate()) {
        --start;
    }
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    message_->setTextCursor(cursor);
    return true;
}

void FeedbackFormView::syncFromModel()
{
    if (!model_) {
        return;
    }
    if (name_->text() != model_->name()) {
        name_->setText(model_->name());
    }
    if (email_->text() != model_->email()) {
        email_->setText(model_->email());
    }
    if (message_->toPlainText() != model_->message()) {
        message_->setPlainText(model_->message());
    }
    limit_->setText(limitText(model_->message().size()));
    error_->setText(model_->errorMessage());
    error_->setVisible(!model_->errorMessage().isEmpty());
    cancel_->setEnabled(!model_->isSubmitting());
    // The primary action: prominent and pressed by Return while the form can be sent, plainly
    // bordered and disabled while it cannot.
    const bool canSubmit = model_->canSubmit();
    if (send_->isEnabled() != canSubmit || send_->styleSheet().isEmpty()) {
        send_->setEnabled(canSubmit);
        if (canSubmit) {
            makeProminent(send_);
        } else {
            makeBordered(send_);
        }
    }
    send_->setDefault(canSubmit);
}

} // namespace quillby
