#pragma once

#include <QColor>
#include <QFrame>
#include <QPalette>
#include <QIcon>
#include <QLabel>
#include <QWidget>

#include "widgets/OnboardingStyle.h"

namespace quillby {

// The shared colours of the Insights surfaces. The Insights window and its sheets are always
// light: they take `palette()`, every role of it. The colours that depend on the appearance
// are read from the palette a widget paints with, dark or light by that palette.
struct InsightsColors {
    // The palette of the Insights window and its sheets.
    static QPalette palette();
    static QColor windowBackground(const QPalette &palette);
    static QColor cardBackground(const QPalette &palette);
    static QColor cardBorder(const QPalette &palette);
    static QColor veryLow(const QPalette &palette);
    static QColor secondaryText(const QPalette &palette);
    static QColor tertiaryText(const QPalette &palette);
    static QColor quaternaryFill(const QPalette &palette);
    static QColor systemBlue();
    static QColor green();
    static QColor red();
    static QColor yellow();
    static QColor orange();
};

// Gives a window or sheet of Insights its light appearance.
void useInsightsAppearance(QWidget *window);

// A thin line between parts of a card or a sheet, in the palette's separator colour.
QFrame *makeSeparator(Qt::Orientation orientation, QWidget *parent);

// A rounded card in the card background with a fine border, for grouped text.
class InsightsCardFrame : public QFrame {
    Q_OBJECT
public:
    explicit InsightsCardFrame(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The design's symbols in `color`, the same on every desktop: the program's own symbol where it
// has one (as Settings shows them), else a small drawing of our own.
QIcon insightsSymbol(const QString &designName, const QColor &color = InsightsColors::systemBlue());
// A symbol in the secondary colour of the Insights palette.
QIcon insightsSecondarySymbol(const QString &designName);

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
