#pragma once

#include "services/FeedbackFormViewModel.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quillby {

class AmbientBackgroundView;

// The feedback window's content, 800 x 600: the ambient panel on the left, the form on the
// right (title, subtitle, name, e-mail, message with the room it has left, error line, Cancel
// and Send feedback). Bound to its model both ways; user and server texts are plain text. The
// fields take no more than the model keeps. Main thread only.
class FeedbackFormView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 800;
    static constexpr int kHeight = 600;
    static constexpr int kPanelWidth = 400;

    explicit FeedbackFormView(FeedbackFormViewModel *model, QWidget *parent = nullptr);

    FeedbackFormViewModel *model() const { return model_; }
    AmbientBackgroundView *ambientBackground() const { return background_; }
    // Send feedback, when it may.
    void send();

private:
    void syncFromModel();
    // Cuts what the message editor holds beyond the limit; true when it changed the text.
    bool trimMessageToLimit();

    QPointer<FeedbackFormViewModel> model_;
    AmbientBackgroundView *background_ = nullptr;
    QLineEdit *name_ = nullptr;
    QLineEdit *email_ = nullptr;
    QPlainTextEdit *message_ = nullptr;
    QLabel *limit_ = nullptr;
    QLabel *error_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QPushButton *send_ = nullptr;
};

} // namespace quillby
