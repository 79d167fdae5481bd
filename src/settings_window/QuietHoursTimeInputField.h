#pragma once

#include "settings_window/QuietHoursTimeText.h"

#include <QLineEdit>

namespace quillby {

// The time-of-day field used for the start and the end of quiet hours: hours and minutes only,
// in the user's 12- or 24-hour form, centred, at its own width.
//
// Typing is never refused keystroke by keystroke, so what is typed is what is read. Every whole,
// valid time the user types, and every Up/Down step (hour before the separator, minute after
// it, wrapping round the day), is reported at once through timeEdited(). A text that is not a
// whole time when editing ends is not taken: the field shows the time last set again and says
// what was not saved and why through problem() (also its accessible description), so nothing
// but a time the user typed ever leaves the field and no typing is dropped unseen. Return or
// Enter while the field has focus ends editing: focus leaves the field and the key goes no
// further; elsewhere the field sees no Return at all.
class QuietHoursTimeInputField : public QLineEdit {
    Q_OBJECT
public:
    explicit QuietHoursTimeInputField(const QString &accessibilityLabel, QWidget *parent = nullptr);

    // The shown time, in minutes after midnight, as last set or edited.
    int minutes() const { return minutes_; }
    // Shows `minutes` (clamped to 0...1439). A text being typed that already means this time is
    // left alone, so an edit reported back through the model does not disturb the typing.
    void setMinutes(int minutes);

    const TimeOfDayStyle &timeStyle() const { return style_; }
    void setTimeStyle(const TimeOfDayStyle &style);

    // Gives up focus, putting back the last valid time when the text is not a whole time.
    void endEditing();

    // Why the last text typed was not taken, for the person to read; empty once a time is taken.
    const QString &problem() const { return problem_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void timeEdited(int minutes);
    // True when the field takes keyboard focus, false when it gives it up.
    void focusChanged(bool hasFocus);
    void problemChanged(const QString &problem);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void onTextEdited(const QString &text);
    void stepBy(int steps);
    void showMinutes();
    // Takes or turns down what is typed, at the end of editing.
    void settleTypedText();
    void setProblem(const QString &problem);

    TimeOfDayStyle style_;
    int minutes_ = 0;
    QString problem_;
};

} // namespace quillby
