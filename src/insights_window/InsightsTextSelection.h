#pragma once

#include <QObject>
#include <QPointer>

#include <vector>

class QLabel;
class QWidget;

namespace quillby {

// Makes the texts of a part of the window selectable with the mouse and copyable with the
// desktop's Copy key (Ctrl+C) or the text's context menu. Selecting takes no keyboard focus:
// the Tab order through the window (the period picker, the toolbar, the chart) stays as it
// was, and the labels stay what screen readers read. One text holds a selection at a time.
class InsightsTextSelection : public QObject {
    Q_OBJECT
public:
    // Copy works while `root` is on screen and its window is active.
    explicit InsightsTextSelection(QWidget *root);

    // Every label in `widget` that shows text (not a picture).
    void addLabels(QWidget *widget);
    void add(QLabel *label);

    // The selected text, or nothing.
    QString selectedText() const;
    // Puts the selected text on the clipboard; false when nothing is selected.
    bool copy() const;
    void clearSelection(const QLabel *except = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *root_;
    std::vector<QPointer<QLabel>> labels_;
};

} // namespace quillby
