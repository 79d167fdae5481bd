#pragma once

#include "insights_window/InsightsMotion.h"

#include <QLabel>

#include <functional>
#include <optional>

namespace quillby {

// A number of the report. A new number counts up or down from the one shown, each step written
// with the final number's digits and unit, and ends on the final text exactly. Its width is
// that of its digits at the width of the font's widest digit, so it does not jump while the
// digits change. Assistive technologies get the final text only, once per change.
class InsightsNumberLabel : public QLabel {
    Q_OBJECT
public:
    using Format = std::function<QString(double)>;

    explicit InsightsNumberLabel(QWidget *parent = nullptr);

    // Shows `finalText`. When a number was shown before and `number` is present, the label
    // first counts from the shown number to `number` along `curve` (none: at once).
    void setNumber(std::optional<double> number, const QString &finalText, Format format,
                   const std::optional<InsightsCurve> &curve);
    std::optional<double> number() const { return number_; }
    const QString &finalText() const { return finalText_; }
    bool isAnimating() const { return value_->isAnimating(); }
    // The count ends at once, on the final text.
    void finishAnimation() { value_->finish(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // `text` as wide as it is when every digit is the font's widest.
    static int evenDigitWidth(const QString &text, const QFontMetrics &metrics);

private:
    void showStep(double value);

    InsightsAnimatedValue *value_;
    std::optional<double> number_;
    QString finalText_;
    Format format_;
};

} // namespace quillby
