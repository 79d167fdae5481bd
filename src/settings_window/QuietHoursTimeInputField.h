#pragma once

#include "settings_window/QuietHoursTimeText.h"

#include <QLineEdit>

namespace quillby {

// The time-of-day field used for the start and the end of quiet hours: hours and minutes only,
// in the user's 12- or 24-hour form, centred, at its own width.
//
// A text that cannot become a valid time of day is refused keystroke by keystroke; a text left
// incomplete when editing ends is replaced by the time last set, so nothing but a whole, valid
// time ever leaves the field. Every valid time the user types, and every Up/Down step (hour
// before the separator, minute after it, wrapping round the day), is reported at once through
// timeEdited(). Return or Enter while the field has focus ends editing: focus leaves the field
// and the key goes no further; elsewhere the field sees no Return at all.
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

    // Gives up focus, putting back the last valid time when the text is incomplete.
    void endEditing();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void timeEdited(int minutes);
    // True when the field takes keyboard focus, false when it gives it up.
    void focusChanged(bool hasFocus);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void onTextEdited(const QString &text);
    void stepBy(int steps);
    void showMinutes();

    TimeOfDayStyle style_;
    int minutes_ = 0;
};

} // namespace quillby
