// The terms views: texts by variant, the same key points in both, the consent link, and the
// keyboard (Return agrees; Escape quits in the window and cancels in the sheet).

#include "core/ProductWebSite.h"
#include "onboarding/TermsAgreementView.h"

#include "WaitUntil.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

QStringList visibleTexts(const QWidget &root)
{
    QStringList texts;
    for (const QLabel *label : root.findChildren<QLabel *>()) {
        if (!label->text().isEmpty() && label->pixmap().isNull()) {
            texts << label->text();
        }
    }
    return texts;
}

// The key points, in order: each title followed by its text.
QStringList points(const QWidget &root)
{
    QStringList texts = visibleTexts(*root.findChild<TermsSummaryView *>());
    return texts;
}

struct VariantCase {
    const char *name;
    bool changed;
    const char *heading;
    const char *windowSubheading;
    const char *sheetSubheading;
};

class TermsViews : public ::testing::TestWithParam<VariantCase> {};

// Changed terms switch heading and subheading and nothing else.
TEST_P(TermsViews, ShowTheVariantsTextsAndTheSameThreePoints)
{
    const VariantCase &c = GetParam();
    TermsAgreementWindowView window(c.changed, {}, {}, QUrl());
    TermsAgreementSheet sheet(c.changed, {}, {}, QUrl());
    for (QWidget *root : {static_cast<QWidget *>(&window), static_cast<QWidget *>(&sheet)}) {
        const bool isWindow = root == &window;
        SCOPED_TRACE(isWindow ? "window" : "sheet");
        auto *heading = root->findChild<QLabel *>(QStringLiteral("termsHeading"));
        auto *subheading = root->findChild<QLabel *>(QStringLiteral("termsSubheading"));
        ASSERT_TRUE(heading && subheading);
        EXPECT_EQ(heading->text(), QString::fromUtf8(c.heading));
        EXPECT_EQ(subheading->text(), QString::fromUtf8(isWindow ? c.windowSubheading : c.sheetSubheading));
        EXPECT_EQ(points(*root), (QStringList{
                                     QStringLiteral("Not a medical device"),
                                     QStringLiteral("Readings and alerts can be delayed or missing. Don't rely on "
                                                    "Quillby alone, and confirm readings with your sensor app, "
                                                    "receiver, or meter before making treatment decisions."),
                                     QStringLiteral("Provided as is"),
                                     QStringLiteral("Quillby is free and comes without warranties, to the extent "
                                                    "the law allows."),
                                     QStringLiteral("Original work"),
                                     QStringLiteral("Please respect the app's original artwork, animations, and "
                                                    "code. Reuse requires permission unless a licence or the law "
                                                    "allows it."),
                                 }));
        auto *footnote = root->findChild<TermsConsentFootnote *>();
        ASSERT_NE(footnote, nullptr);
        EXPECT_EQ(footnote->accessibleName(), QStringLiteral("By selecting Agree, you agree to the full Quillby terms."));
        // Headings and texts are plain text; only our own consent line carries a link.
        for (const QLabel *label : root->findChildren<QLabel *>()) {
            if (label != footnote && !label->text().isEmpty()) {
                EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
            }
        }
    }
    EXPECT_EQ(window.size(), QSize(800, 600));
    EXPECT_EQ(sheet.width(), 440);
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
}

INSTANTIATE_TEST_SUITE_P(
    Terms, TermsViews,
    ::testing::Values(
        VariantCase{"firstTime", false, "Terms of use",
                    "Quillby now has terms of use. Please review and agree to keep using the app.",
                    "Please review and agree before signing in to your glucose account."},
        VariantCase{"changed", true, "Updated terms of use",
                    "The terms of use have changed since you last agreed. Please review and agree again to continue.",
                    "The terms of use have changed since you last agreed. Please review and agree again to continue."}),
    [](const auto &info) { return std::string(info.param.name); });

// The link leads to the terms page of the web site the window was given, not to an address of
// its own.
TEST(Terms, ConsentLinkOpensTheFullTerms)
{
    const ProductWebSite site(QStringLiteral("https://quillby.test"));
    std::vector<QUrl> opened;
    TermsConsentFootnote footnote(site.termsOfUse(), [&](const QUrl &url) { opened.push_back(url); });
    EXPECT_TRUE(footnote.text().contains(QStringLiteral(">Quillby terms</a>.")));
    EXPECT_TRUE(footnote.text().contains(QStringLiteral("href=\"https://quillby.test/terms\"")))
        << footnote.text().toStdString();
    emit footnote.linkActivated(site.termsOfUse().toString());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.front().path(), QStringLiteral("/terms"));
    EXPECT_EQ(opened.front(), site.termsOfUse());
}

// The sheet opens with the keyboard on Agree, not on the link in its text, each time it is shown.
TEST(Terms, SheetStartsWithTheFocusOnAgree)
{
    QWidget parent;
    parent.resize(800, 600);
    parent.show();
    auto *sheet = new TermsAgreementSheet(false, [] {}, [] {}, QUrl(), &parent);
    auto *agree = sheet->findChild<QPushButton *>(QStringLiteral("termsAgreeButton"));
    for (int shown = 0; shown < 2; ++shown) {
        SCOPED_TRACE(shown);
        sheet->open();
        ASSERT_TRUE(waitUntil([&] { return sheet->focusWidget() == agree; }));
        sheet->findChild<TermsConsentFootnote *>()->setFocus();
        sheet->hide();
    }
}

// Every Tab stop of the sheet shows where it is: the link in the consent line is chosen as the
// line takes the focus (the line alone would be a stop that shows and reads nothing).
TEST(Terms, SheetHasNoInvisibleTabStop)
{
    QWidget parent;
    parent.resize(800, 600);
    parent.show();
    auto *sheet = new TermsAgreementSheet(false, [] {}, [] {}, QUrl(QStringLiteral("https://quillby.test/terms")), &parent);
    sheet->open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    auto *footnote = sheet->findChild<TermsConsentFootnote *>();
    bool visitedLink = false;
    for (int press = 0; press < 6; ++press) {
        QWidget *focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        if (focus == footnote) {
            EXPECT_EQ(footnote->selectedText(), QStringLiteral("Quillby terms")) << "Tab " << press;
            visitedLink = true;
        } else {
            EXPECT_NE(qobject_cast<QPushButton *>(focus), nullptr) << "Tab " << press;
        }
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_TRUE(visitedLink);
}

// In the sheet: Return agrees, Escape and Cancel cancel, each once; the sheet stays open for
// its presenter to close.
TEST(Terms, SheetKeyboardAgreesAndCancels)
{
    QWidget parent;
    parent.resize(800, 600);
    parent.show();
    int agreed = 0;
    int cancelled = 0;
    auto *sheet = new TermsAgreementSheet(false, [&] { ++agreed; }, [&] { ++cancelled; }, QUrl(), &parent);
    sheet->open();
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_EQ(agreed, 1);
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_EQ(cancelled, 1);
    sheet->findChild<QPushButton *>(QStringLiteral("termsCancelButton"))->click();
    EXPECT_EQ(cancelled, 2);
    sheet->findChild<QPushButton *>(QStringLiteral("termsAgreeButton"))->click();
    EXPECT_EQ(agreed, 2);
    EXPECT_TRUE(sheet->isVisible());
}

// The window's buttons: Quit and Agree, with their hints.
TEST(Terms, WindowButtonsRunTheirActions)
{
    int agreed = 0;
    int quit = 0;
    TermsAgreementWindowView view(false, [&] { ++agreed; }, [&] { ++quit; }, QUrl());
    view.quitButton()->click();
    view.agreeButton()->click();
    EXPECT_EQ(quit, 1);
    EXPECT_EQ(agreed, 1);
    EXPECT_EQ(view.quitButton()->accessibleDescription(), QStringLiteral("Quits Quillby without agreeing"));
    EXPECT_EQ(view.agreeButton()->accessibleDescription(), QStringLiteral("Agrees to the terms and continues"));
    EXPECT_TRUE(view.agreeButton()->isDefault());
}

} // namespace
} // namespace quillby::test
