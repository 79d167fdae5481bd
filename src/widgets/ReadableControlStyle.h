#pragma once

#include <QProxyStyle>

namespace quillby {

// The desktop's widget style with control boundaries that can be seen: Fusion draws the
// outline of a check box, a text field, a button or a combo box in the window colour darkened a
// little, which nearly vanishes on a dark scheme (and stays under 3:1 on a light one). Over
// Fusion this style draws those outlines again in boundaryColor() of the control's own palette
// (at least 3:1 against the window, view and button colours), and the focus outline Fusion draws
// for keyboard focus in focusBoundaryColor(). Other styles draw their own boundaries and are
// left as they are.
class ReadableControlStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Over a new instance of the style named `baseStyleName` (the application's style when empty).
    explicit ReadableControlStyle(const QString &baseStyleName = {});

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;

private:
    bool redraws_ = false;
};

// Makes the application's style a ReadableControlStyle over the style in use, once; every window
// with check boxes, text fields or buttons calls it before it builds its controls.
void useReadableControlStyle();

} // namespace quillby
