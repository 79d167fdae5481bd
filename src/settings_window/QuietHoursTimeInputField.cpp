#include "settings_window/QuietHoursTimeInputField.h"

#include "core/QuietHoursSetting.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace quillby {

namespace {

// Longer than any time of day with its day period; a pasted paragraph is cut short.
constexpr int kMaxTypedLength = 24;

} // namespace

QuietHoursTimeInputField::QuietHoursTimeInputField(const QString &accessibilityLabel, QWidget *parent)
    : QLineEdit(parent), style_(TimeOfDayStyle::of(QLocale::system()))
{
    setAccessibleName(accessibilityLabel);
    setAlignment(Qt::AlignCenter);
    setMaxLength(kMaxTypedLength);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QLineEdit::textEdited, this, &QuietHoursTimeInputField::onTextEdited);
    showMinutes();
}

void QuietHoursTimeInputField::setMinutes(int minutes)
{
    const int clamped = QuietHoursSetting::clamped(minutes);
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
    setProblem({});
    showMinutes();
    updateGeometry();
}

void QuietHoursTimeInputField::endEditing()
{
    if (hasFocus()) {
        clearFocus();   // settles the text on the way out
    } else {
        settleTypedText();
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
    settleTypedText();
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
    setProblem({});
}

void QuietHoursTimeInputField::stepBy(int steps)
{
    // An incomplete text steps from the last valid time.
    const TimeOfDayParse typed = parseTimeOfDay(text(), style_);
    const int current = typed.minutes.value_or(minutes_);
    const qsizetype separator = hourMinuteSeparator(text());
    const bool onHour = separator >= 0 && cursorPosition() <= separator;
    const int hour = current / 60;
    const int minute = current % 60;
    const int next = onHour ? ((hour + steps) % 24 + 24) % 24 * 60 + minute
                            : hour * 60 + ((minute + steps) % 60 + 60) % 60;
    const int cursor = cursorPosition();
    minutes_ = next;
    showMinutes();
    const qsizetype newSeparator = hourMinuteSeparator(text());
    setCursorPosition(onHour ? std::min<int>(cursor, static_cast<int>(newSeparator))
                             : std::max<int>(cursor, static_cast<int>(newSeparator) + 1));
    emit timeEdited(minutes_);
    setProblem({});
}

void QuietHoursTimeInputField::showMinutes()
{
    setText(formatTimeOfDay(minutes_, style_));
}

void QuietHoursTimeInputField::settleTypedText()
{
    const QString typed = text().trimmed();
    const TimeOfDayParse parse = parseTimeOfDay(typed, style_);
    const QString shown = formatTimeOfDay(minutes_, style_);
    if (parse.state == QValidator::Acceptable || typed.isEmpty() || typed == shown) {
        // Taken already (or nothing typed): show it the usual way.
        if (text() != shown) {
            showMinutes();
        }
        return;
    }
    showMinutes();
    if (parse.needsDayPeriod) {
        setProblem(QStringLiteral("\u201C%1\u201D was not saved: add %2 or %3.").arg(typed, style_.amText, style_.pmText));
    } else {
        setProblem(QStringLiteral("\u201C%1\u201D was not saved: type a time such as %2.")
                       .arg(typed, formatTimeOfDay(22 * 60, style_)));
    }
}

void QuietHoursTimeInputField::setProblem(const QString &problem)
{
    if (problem == problem_) {
        return;
    }
    problem_ = problem;
    setAccessibleDescription(problem);
    emit problemChanged(problem);
}

} // namespace quillby
