#include "settings_window/QuietHoursTimeInputField.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace quillby {

namespace {

// Accepts exactly the texts that are, or may still become, a time of day.
class TimeOfDayValidator final : public QValidator {
public:
    TimeOfDayValidator(const QuietHoursTimeInputField *field)
        : QValidator(const_cast<QuietHoursTimeInputField *>(field)), field_(field)
    {
    }
    State validate(QString &input, int &) const override { return parseTimeOfDay(input, field_->timeStyle()).state; }

private:
    const QuietHoursTimeInputField *field_;
};

} // namespace

QuietHoursTimeInputField::QuietHoursTimeInputField(const QString &accessibilityLabel, QWidget *parent)
    : QLineEdit(parent), style_(TimeOfDayStyle::of(QLocale::system()))
{
    setAccessibleName(accessibilityLabel);
    setAlignment(Qt::AlignCenter);
    setValidator(new TimeOfDayValidator(this));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QLineEdit::textEdited, this, &QuietHoursTimeInputField::onTextEdited);
    showMinutes();
}

void QuietHoursTimeInputField::setMinutes(int minutes)
{
    const int clamped = std::clamp(minutes, 0, 1439);
    if (clamped == minutes_ && hasFocus()) {
        return;   // the user is typing; an incomplete text settles when editing ends
    }
    minutes_ = clamped;
    const TimeOfDayParse typed = parseTimeOfDay(text(), style_);
    if (typed.minutes == minutes_) {
        return;
    }
    showMinutes();
}

void QuietHoursTimeInputField::setTimeStyle(const TimeOfDayStyle &style)
{
    style_ = style;
    showMinutes();
    updateGeometry();
}

void QuietHoursTimeInputField::endEditing()
{
    if (!hasAcceptableInput()) {
        showMinutes();
    }
    if (hasFocus()) {
        clearFocus();
    }
}

QSize QuietHoursTimeInputField::sizeHint() const
{
    // Wide enough for the longest time of the style, with the frame's margins.
    const QString widest = formatTimeOfDay(23 * 60 + 58, style_) + QStringLiteral("0");
    const QFontMetrics metrics(font());
    const QMargins margins = textMargins();
    const int width = metrics.horizontalAdvance(widest) + margins.left() + margins.right() + 8;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QSize contents(width, std::max(metrics.height(), 14) + 2);
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, this);
}

void QuietHoursTimeInputField::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        endEditing();
        event->accept();
        return;
    case Qt::Key_Up:
        stepBy(1);
        event->accept();
        return;
    case Qt::Key_Down:
        stepBy(-1);
        event->accept();
        return;
    default: QLineEdit::keyPressEvent(event);
    }
}

void QuietHoursTimeInputField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    emit focusChanged(true);
}

void QuietHoursTimeInputField::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (!hasAcceptableInput()) {
        showMinutes();
    }
    emit focusChanged(false);
}

void QuietHoursTimeInputField::onTextEdited(const QString &text)
{
    const TimeOfDayParse typed = parseTimeOfDay(text, style_);
    if (typed.state != QValidator::Acceptable || !typed.minutes) {
        return;
    }
    minutes_ = *typed.minutes;
    emit timeEdited(minutes_);
}

void QuietHoursTimeInputField::stepBy(int steps)
{
    // An incomplete text steps from the last valid time.
    const TimeOfDayParse typed = parseTimeOfDay(text(), style_);
    const int current = typed.minutes.value_or(minutes_);
    const qsizetype separator = std::max(text().indexOf(QLatin1Char(':')), text().indexOf(QLatin1Char('.')));
    const bool onHour = separator >= 0 && cursorPosition() <= separator;
    const int hour = current / 60;
    const int minute = current % 60;
    const int next = onHour ? ((hour + steps) % 24 + 24) % 24 * 60 + minute
                            : hour * 60 + ((minute + steps) % 60 + 60) % 60;
    const int cursor = cursorPosition();
    minutes_ = next;
    showMinutes();
    const qsizetype newSeparator = text().indexOf(QLatin1Char(':'));
    setCursorPosition(onHour ? std::min<int>(cursor, static_cast<int>(newSeparator))
                             : std::max<int>(cursor, static_cast<int>(newSeparator) + 1));
    emit timeEdited(minutes_);
}

void QuietHoursTimeInputField::showMinutes()
{
    setText(formatTimeOfDay(minutes_, style_));
}

} // namespace quillby
