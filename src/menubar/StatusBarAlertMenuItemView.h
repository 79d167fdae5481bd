#pragma once

#include "menubar/StatusBarSymbols.h"
#include "polling/ErrorInfo.h"

#include <QWidget>

class QLabel;

namespace quillby {

// The error or warning row of the status item's popup: a title with a warning symbol, the
// message, the remedy and the retry time, each on its own line. It is read out as one text.
class StatusBarAlertMenuItemView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 280;

    StatusBarAlertMenuItemView(const ErrorInfo &errorInfo, const QString &retryText,
                               StatusBarSymbol symbol = StatusBarSymbol::warningTriangle, QWidget *parent = nullptr);

    QSize sizeHint() const override;

private:
    QWidget *makeIconRow(StatusBarSymbol symbol, const QString &text, const QFont &font, const QColor &color);
    static QLabel *makeLabel(const QString &text, const QFont &font, const QColor &color, int width);
};

} // namespace quillby
