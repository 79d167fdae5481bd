// The colours derived from a desktop's palette: control outlines that can be seen and links that
// can be read, whatever the scheme hands out.

#include "platform/Appearance.h"

#include <gtest/gtest.h>


namespace quillby::test {
namespace {

struct Scheme {
    const char *name;
    QColor window, base, button, text, highlight, link;
};

QPalette paletteOf(const Scheme &scheme)
{
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, scheme.window);
        palette.setColor(group, QPalette::WindowText, scheme.text);
        palette.setColor(group, QPalette::Base, scheme.base);
        palette.setColor(group, QPalette::Text, scheme.text);
        palette.setColor(group, QPalette::Button, scheme.button);
        palette.setColor(group, QPalette::ButtonText, scheme.text);
        palette.setColor(group, QPalette::Highlight, scheme.highlight);
        palette.setColor(group, QPalette::Link, scheme.link);
    }
    return palette;
}

const Scheme kSchemes[] = {
    {"Breeze light", QColor(239, 240, 241), Qt::white, QColor(252, 252, 252), QColor(35, 38, 41),
     QColor(61, 174, 233), QColor(41, 128, 185)},
    {"Breeze dark", QColor(32, 35, 38), QColor(20, 22, 24), QColor(41, 44, 48), QColor(252, 252, 252),
     QColor(61, 174, 233), QColor(29, 153, 243)},
    // A dark palette that keeps Qt's default link blue (2:1 on its window).
    {"dark with the default link", QColor(36, 36, 36), QColor(30, 30, 30), QColor(48, 48, 48),
     QColor(238, 238, 236), QColor(53, 132, 228), QColor(0, 0, 255)},
    {"light without contrast in its highlight", QColor(246, 245, 244), Qt::white, QColor(246, 245, 244),
     QColor(46, 52, 54), QColor(160, 200, 255), QColor(27, 106, 203)},
};

TEST(Appearance, BoundariesAndFocusStandOutFromEveryBackgroundOfTheScheme)
{
    for (const Scheme &scheme : kSchemes) {
        SCOPED_TRACE(scheme.name);
        const QPalette palette = paletteOf(scheme);
        for (const QColor &ink : {boundaryColor(palette), focusBoundaryColor(palette)}) {
            for (const QColor &behind : {scheme.window, scheme.base, scheme.button}) {
                EXPECT_GE(contrastRatio(ink, behind), 3.0) << qPrintable(ink.name()) << " on " << qPrintable(behind.name());
            }
        }
    }
}

TEST(Appearance, LinksKeepTheSchemesColourWhereItReadsAndAreMadeReadableWhereNot)
{
    for (const Scheme &scheme : kSchemes) {
        SCOPED_TRACE(scheme.name);
        const QPalette palette = paletteOf(scheme);
        const QColor link = readableLinkColor(palette);
        EXPECT_GE(contrastRatio(link, scheme.window), 4.5);
        EXPECT_GE(contrastRatio(link, scheme.base), 4.5);
        if (contrastRatio(scheme.link, scheme.window) >= 4.6 && contrastRatio(scheme.link, scheme.base) >= 4.6) {
            EXPECT_EQ(link, scheme.link);
        }
        const QString html = linkHtml(QStringLiteral("https://example.com/?a=1&b=2"), QStringLiteral("Terms & <b>"), palette);
        EXPECT_TRUE(html.contains(QStringLiteral("color: ") + link.name())) << qPrintable(html);
        EXPECT_TRUE(html.contains(QStringLiteral("Terms &amp; &lt;b&gt;"))) << qPrintable(html);
    }
}

} // namespace
} // namespace quillby::test
