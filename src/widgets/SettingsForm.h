#pragma once

#include "widgets/AccessibilityMarks.h"

#include <QFrame>
#include <QIcon>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>

class QBoxLayout;
class QLabel;
class QVBoxLayout;

namespace quillby {

class SettingsSection;

// A Settings pane's form in the grouped style: sections one under the other, each a plain-text
// header, a framed group of rows and an explanatory footer, in a scroll area that fills the
// detail column. Rows and sections that are hidden take no space.
class SettingsForm : public QScrollArea {
    Q_OBJECT
public:
    explicit SettingsForm(QWidget *parent = nullptr);

    // A new section at the end; an empty header or footer is left out.
    SettingsSection *addSection(const QString &header = {}, const QString &footer = {});

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    // Each time the form comes on screen and each time it leaves it.
    virtual void appeared() {}
    virtual void disappeared() {}

private:
    QVBoxLayout *sections_;
};

class SettingsSection : public QWidget {
    Q_OBJECT
public:
    explicit SettingsSection(const QString &header, const QString &footer, QWidget *parent = nullptr);

    QLabel *header() const { return header_; }
    // The first footer line (none when the section was made without a footer).
    QLabel *footer() const { return footer_; }

    // A row holding `widget` across the whole width.
    QWidget *addRow(QWidget *widget);
    // A row with `title` at the leading edge and `control` at the trailing edge. The title
    // label becomes the control's buddy and is handed back through `titleLabel` when asked for.
    QWidget *addLabeledRow(const QString &title, QWidget *control, QLabel **titleLabel = nullptr);
    // A row with `title` and a plain-text value; returns the value label.
    QLabel *addValueRow(const QString &title, const QString &value, QWidget **row = nullptr);
    // Another line under the section (secondary style, wrapping, plain text).
    QLabel *addFooterLine(const QString &text);

private:
    QLabel *header_ = nullptr;
    QLabel *footer_ = nullptr;
    QFrame *group_;
    QVBoxLayout *rows_;
    QVBoxLayout *footers_;
};

// A label set as plain text: texts from servers or the user are never read as markup.
QLabel *makePlainLabel(const QString &text, QWidget *parent = nullptr);
// Draws a widget's text in the faded secondary colour.
void useSecondaryColour(QWidget *widget);
// Keeps the secondary text colour of `root` and everything in it readable on the desktop's
// palette; call it again whenever that palette changes.
void followDesktopAppearance(QWidget *root);
// A wrapping plain-text label in the secondary colour; `small` for captions and footers.
QLabel *makeSecondaryLabel(const QString &text, bool small, QWidget *parent = nullptr);
// A symbol image of `size` pixels, hidden from assistive technology.
QLabel *makeSymbolLabel(const QIcon &icon, int size, QWidget *parent = nullptr);

// A push button that can show a small turning progress indicator before its text, as the
// sign-in, reconnect and test-alert buttons do while their operation runs.
class ProgressButton : public QPushButton {
    Q_OBJECT
public:
    explicit ProgressButton(const QString &text = {}, QWidget *parent = nullptr);

    bool isBusy() const { return busy_; }
    void setBusy(bool busy);

private:
    void advance();

    bool busy_ = false;
    int frame_ = 0;
    QIcon idleIcon_;
    QTimer timer_;
};

} // namespace quillby
