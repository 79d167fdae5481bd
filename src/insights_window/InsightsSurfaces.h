#pragma once

#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QWidget>

namespace quillby {

// The shared colours of the Insights surfaces. The window is always light.
struct InsightsColors {
    static QColor windowBackground();
    static QColor cardBackground();
    static QColor cardBorder();
    static QColor veryLow();
    static QColor systemBlue();
    static QColor green();
    static QColor red();
    static QColor yellow();
    static QColor orange();
    static QColor secondaryText();
    static QColor tertiaryText();
    static QColor quaternaryFill();
};

// The design's symbols: the icon theme's counterpart when the desktop has one, else a small
// drawing of our own, so every desktop shows them.
QIcon insightsSymbol(const QString &designName, const QColor &color = InsightsColors::systemBlue());

// A label for computed or server text: never interpreted as markup.
QLabel *plainLabel(const QString &text, QWidget *parent = nullptr);
void scaleFont(QWidget *widget, double factor, int weight = -1);

// A horizontal bar: the empty track over the full width and, from the leading edge, the filled
// share (`fraction` clamped to 0...1) in `color`. The caller sets the height.
class InsightsRangeTrack : public QWidget {
    Q_OBJECT
public:
    InsightsRangeTrack(double fraction, QColor color, QWidget *parent = nullptr);
    void setFraction(double fraction);
    double fraction() const { return fraction_; }
    // Filled width in pixels for a track `width` wide.
    static int filledWidth(double fraction, int width);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double fraction_;
    QColor color_;
};

// The header row of a card: title (semibold, larger) and optional subtitle, then at least 12
// px of space, then the accessory at the trailing edge.
class InsightsCardHeader : public QWidget {
    Q_OBJECT
public:
    InsightsCardHeader(const QString &title, const QString &subtitle, QWidget *accessory, QWidget *parent = nullptr);
    QLabel *titleLabel() const { return title_; }

private:
    QLabel *title_;
};

} // namespace quillby
