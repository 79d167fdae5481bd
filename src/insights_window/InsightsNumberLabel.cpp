#include "insights_window/InsightsNumberLabel.h"

#include <QFontMetrics>

#include <algorithm>

namespace quillby {

InsightsNumberLabel::InsightsNumberLabel(QWidget *parent)
    : QLabel(parent)
    , value_(new InsightsAnimatedValue(0, [this](double v) { showStep(v); }, this))
{
    setTextFormat(Qt::PlainText);
    // The digits end where they always end: the unit after them stays in place.
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void InsightsNumberLabel::setNumber(std::optional<double> number, const QString &finalText, Format format,
                                    const std::optional<InsightsCurve> &curve)
{
    const bool counts = number_ && number && curve;
    if (finalText != finalText_) {
        // Named by the final text: the steps on the way are not announced (a label with a name
        // of its own tells nobody about its text changing).
        setAccessibleName(finalText);
    }
    finalText_ = finalText;
    format_ = std::move(format);
    number_ = number;
    value_->moveTo(counts ? *number : number.value_or(0), counts ? curve : std::nullopt);
    if (!value_->isAnimating()) {
        value_->finish();   // the final text, also when only the text changed
    }
}

void InsightsNumberLabel::showStep(double value)
{
    const bool last = number_ && value == *number_;
    const QString text = !last && number_ && format_ ? format_(value) : finalText_;
    if (text != this->text()) {
        setText(text);
        updateGeometry();
    }
}

int InsightsNumberLabel::evenDigitWidth(const QString &text, const QFontMetrics &metrics)
{
    int widest = 0;
    for (char digit = '0'; digit <= '9'; ++digit) {
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(digit)));
    }
    int width = 0;
    QString rest;
    for (const QChar c : text) {
        if (c.isDigit()) {
            width += widest;
        } else {
            rest += c;
        }
    }
    return width + (rest.isEmpty() ? 0 : metrics.horizontalAdvance(rest));
}

QSize InsightsNumberLabel::sizeHint() const
{
    QSize size = QLabel::sizeHint();
    const QMargins m = contentsMargins();
    const int width = evenDigitWidth(text(), fontMetrics()) + m.left() + m.right() + 2 * margin();
    return {std::max(size.width(), width), size.height()};
}

QSize InsightsNumberLabel::minimumSizeHint() const
{
    return sizeHint();
}

} // namespace quillby
