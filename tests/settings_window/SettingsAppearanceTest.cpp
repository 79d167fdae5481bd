// Settings follows the desktop's colour scheme: readable in light and dark, also when the scheme
// changes while the window is open, with sidebar symbols that stay visible on the selection.

#include "SettingsWindowTestSupport.h"
#include "TextContrast.h"

#include "platform/Appearance.h"

#include <QListWidget>

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

void expectReadable(QWidget *window, const QString &what)
{
    SCOPED_TRACE(what.toStdString());
    QApplication::processEvents();
    expectReadableTexts(window, 2);
    expectVisibleControlBoundaries(window, 1);
}

// The strongest contrast of the symbol drawn at the start of `row` against the row's background.
double symbolContrast(QListWidget *list, int row)
{
    const QImage shot = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const double ratio = shot.devicePixelRatio();
    const QRect rowRect = list->visualItemRect(list->item(row));
    const QRect symbol(QPoint(rowRect.left(), rowRect.top()) * ratio, QSize(rowRect.height(), rowRect.height()) * ratio);
    const QColor background(shot.pixel(symbol.topLeft() + QPoint(1, 1)));
    double best = 1;
    for (int y = symbol.top(); y <= symbol.bottom(); ++y) {
        for (int x = symbol.left(); x <= symbol.right(); ++x) {
            best = std::max(best, contrastRatio(QColor(shot.pixel(x, y)), background));
        }
    }
    return best;
}

// Texts, check boxes, text fields, combo boxes and buttons of every pane, the Alerts pane with
// quiet hours on (its time fields) and the terms sheet, on a light and on a dark desktop.
TEST(SettingsAppearance, EveryPaneIsReadableWithVisibleControlsOnLightAndDarkDesktops)
{
    underLightAndDarkDesktops([] {
        SettingsWindowHarness h;
        h.build(SettingsTab::general);
        auto *list = h.find<QListWidget>(QStringLiteral("settingsSidebar"));
        for (int row = 0; row < list->count(); ++row) {
            list->setCurrentRow(row);
            expectReadable(h.view.get(), list->item(row)->text());
        }
        h.model->setQuietHoursEnabled(true);
        h.clickTab(SettingsTab::alerts);
        expectReadable(h.view.get(), QStringLiteral("alerts with quiet hours"));
        h.model->setIsShowingTerms(true);
        QApplication::processEvents();
        ASSERT_NE(h.view->termsSheet(), nullptr);
        expectReadable(h.view->termsSheet(), QStringLiteral("terms sheet"));
        h.model->setIsShowingTerms(false);
    });
}

// A dark desktop palette that keeps Qt's default link blue (2:1 on its window): the About pane's
// links are drawn in a readable form of it.
TEST(SettingsAppearance, LinksStayReadableWhenTheDarkSchemeKeepsTheDefaultLinkColour)
{
    DarkDesktopPalette dark;
    const QPalette saved = QApplication::palette();
    QPalette defaultLink = saved;
    defaultLink.setColor(QPalette::Link, QColor(0, 0, 255));
    QApplication::setPalette(defaultLink);
    {
        SettingsWindowHarness h;
        h.build(SettingsTab::about);
        QApplication::processEvents();
        int links = 0;
        for (const LabelContrast &text : measureTextContrast(h.view.get())) {
            if (text.name.startsWith(QStringLiteral("<a "))) {
                ++links;
                EXPECT_GE(text.ink, 4.5 * 0.9) << qPrintable(text.name);
            }
        }
        EXPECT_EQ(links, 2);
    }
    QApplication::setPalette(saved);
}

TEST(SettingsAppearance, TextStaysReadableWhenTheDesktopTurnsDarkWhileOpen)
{
    SettingsWindowHarness h;
    h.build(SettingsTab::glucose);
    expectReadable(h.view.get(), QStringLiteral("as opened"));
    DarkDesktopPalette dark;
    expectReadable(h.view.get(), QStringLiteral("after the switch"));
}

TEST(SettingsAppearance, SidebarSymbolsStayVisibleSelectedOrNot)
{
    for (const bool darkScheme : {false, true}) {
        SCOPED_TRACE(darkScheme ? "dark" : "light");
        std::optional<DarkDesktopPalette> dark;
        if (darkScheme) {
            dark.emplace();
        }
        SettingsWindowHarness h;
        h.build(SettingsTab::general);
        auto *list = h.find<QListWidget>(QStringLiteral("settingsSidebar"));
        list->setFocus();
        for (int row = 0; row < list->count(); ++row) {
            list->setCurrentRow(row);
            QApplication::processEvents();
            // On the selection, as plain as the row's own text there (some schemes choose less
            // than 3:1 for their selection).
            const QPalette &palette = list->palette();
            const double selectedText = contrastRatio(palette.color(QPalette::Active, QPalette::HighlightedText),
                                                      palette.color(QPalette::Active, QPalette::Highlight));
            EXPECT_GE(symbolContrast(list, row), std::min(3.0, selectedText) * 0.95)
                << "selected " << qPrintable(list->item(row)->text());
            const int other = (row + 1) % list->count();
            EXPECT_GE(symbolContrast(list, other), 3.0) << "not selected " << qPrintable(list->item(other)->text());
        }
    }
}

} // namespace
} // namespace quillby::test
