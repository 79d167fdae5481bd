#include "services_window/FeedbackFormView.h"
#include "services/FeedbackFormViewModel.h"
#include "services_window/FeedbackWindowController.h"

#include <QGuiApplication>
#include <QScreen>
#include "widgets/AmbientBackgroundView.h"

#include "services/FeedbackSubmitting.h"

#include "TaskRunner.h"
#include "TextContrast.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>

#include <coroutine>
#include <deque>

namespace quillby::test {
namespace {

// A feedback service whose submissions wait until the test answers them.
class ScriptedFeedbackService final : public FeedbackSubmitting {
public:
    struct Pending {
        QString name, email, message;
        std::optional<FeedbackSubmissionError::Case> failure;
        bool answered = false;
        std::coroutine_handle<> waiter;
    };

    QCoro::Task<void> submit(QString name, QString email, QString message) override
    {
        auto pending = std::make_shared<Pending>();
        pending->name = name;
        pending->email = email;
        pending->message = message;
        calls.push_back(pending);
        struct Wait {
            std::shared_ptr<Pending> p;
            bool await_ready() const { return p->answered; }
            void await_suspend(std::coroutine_handle<> h) { p->waiter = h; }
            void await_resume() {}
        };
        co_await Wait{pending};
        if (pending->failure) {
            throw FeedbackSubmissionError(*pending->failure);
        }
    }

    void answer(std::optional<FeedbackSubmissionError::Case> failure = std::nullopt)
    {
        auto pending = calls.at(answered++);
        pending->failure = failure;
        pending->answered = true;
        if (pending->waiter) {
            pending->waiter.resume();
        }
    }

    std::vector<std::shared_ptr<Pending>> calls;
    std::size_t answered = 0;
};

struct WindowFixture {
    std::shared_ptr<ScriptedFeedbackService> service = std::make_shared<ScriptedFeedbackService>();
    int submittedCount = 0;
    FeedbackWindowController controller{service, [this] { ++submittedCount; }};

    QWidget *window() const { return controller.feedbackWindow(); }
    template <typename T>
    T *find(const char *name) const
    {
        return window() ? window()->findChild<T *>(QString::fromLatin1(name)) : nullptr;
    }
    QPlainTextEdit *message() const { return find<QPlainTextEdit>("feedbackMessageEditor"); }
    QPushButton *send() const { return find<QPushButton>("feedbackSendButton"); }
    QPushButton *cancel() const { return find<QPushButton>("feedbackCancelButton"); }
    QLabel *error() const { return find<QLabel>("feedbackErrorText"); }
};

TEST(FeedbackWindow, ShowReusesTheOpenWindowAndStartsEmptyAfterClosing)
{
    WindowFixture f;
    f.controller.show();
    QWidget *first = f.window();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Share feedback"));
    EXPECT_EQ(first->size(), QSize(800, 600));
    f.message()->setPlainText(QStringLiteral("typed"));
    f.controller.show();
    EXPECT_EQ(f.window(), first);
    EXPECT_EQ(f.message()->toPlainText(), QStringLiteral("typed"));

    first->close();
    EXPECT_EQ(f.window(), nullptr);
    f.controller.show();
    ASSERT_NE(f.window(), nullptr);
    EXPECT_TRUE(f.message()->toPlainText().isEmpty());
    EXPECT_TRUE(f.find<QLineEdit>("feedbackNameField")->text().isEmpty());
    EXPECT_FALSE(f.error()->isVisibleTo(f.window()));
}

// Run by its own ctest entry on a screen larger than the window (the offscreen platform's own
// screen is the window's size, where any place is the centre).
TEST(FeedbackWindowPlacement, OpensCentredOnThePrimaryScreen)
{
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    if (screen.width() <= FeedbackFormView::kWidth || screen.height() <= FeedbackFormView::kHeight) {
        GTEST_SKIP() << "needs a primary screen larger than the window";
    }
    WindowFixture f;
    f.controller.show();
    ASSERT_NE(f.window(), nullptr);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    // Within the platform's frame margins of the centre (an uncentred window sits hundreds of
    // pixels away, at the screen's corner).
    const QPoint offset = f.window()->frameGeometry().center() - available.center();
    EXPECT_LE(offset.manhattanLength(), 64) << "window centre off by " << offset.x() << "," << offset.y();
}

TEST(FeedbackWindow, SendNeedsAMessageAndSendsItTrimmed)
{
    WindowFixture f;
    f.controller.show();
    EXPECT_FALSE(f.send()->isEnabled());
    f.message()->setPlainText(QStringLiteral(" \n\t "));
    EXPECT_FALSE(f.send()->isEnabled());
    auto *model = f.window()->findChild<FeedbackFormViewModel *>();
    ASSERT_NE(model, nullptr);
    runTask(model->submit());   // forced: shows the message, sends nothing
    EXPECT_EQ(f.error()->text(), QStringLiteral("Please enter a message."));
    EXPECT_TRUE(f.service->calls.empty());

    f.find<QLineEdit>("feedbackNameField")->setText(QStringLiteral("Ada"));
    f.message()->setPlainText(QStringLiteral("\n  It works.\nThanks!  \n"));
    ASSERT_TRUE(f.send()->isEnabled());
    f.send()->click();
    ASSERT_EQ(f.service->calls.size(), 1u);
    EXPECT_EQ(f.service->calls[0]->message, QStringLiteral("It works.\nThanks!"));
    EXPECT_EQ(f.service->calls[0]->name, QStringLiteral("Ada"));
    EXPECT_TRUE(f.error()->text().isEmpty());
    // In flight: both buttons off, Escape does not close.
    EXPECT_FALSE(f.send()->isEnabled());
    EXPECT_FALSE(f.cancel()->isEnabled());
    QTest::keyClick(f.window(), Qt::Key_Escape);
    EXPECT_NE(f.window(), nullptr);

    f.service->answer(FeedbackSubmissionError::Case::rateLimited);
    EXPECT_EQ(f.error()->text(), QStringLiteral("Feedback was sent too recently. Please try again later."));
    EXPECT_TRUE(f.error()->isVisibleTo(f.window()));
    EXPECT_EQ(f.error()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(f.send()->isEnabled());
    EXPECT_TRUE(f.cancel()->isEnabled());
    EXPECT_EQ(f.message()->toPlainText(), QStringLiteral("\n  It works.\nThanks!  \n"));   // texts kept

    f.send()->click();
    EXPECT_TRUE(f.error()->text().isEmpty());   // a new submission clears the old error
    QPointer<QWidget> window = f.window();
    f.service->answer();
    EXPECT_EQ(f.submittedCount, 1);
    EXPECT_EQ(f.controller.feedbackWindow(), nullptr);
    EXPECT_TRUE(!window || !window->isVisible());
}

TEST(FeedbackWindow, TextsStopAtTheirLimitsAndTheFormSaysSo)
{
    WindowFixture f;
    f.controller.show();
    auto *name = f.find<QLineEdit>("feedbackNameField");
    auto *email = f.find<QLineEdit>("feedbackEmailField");
    auto *limit = f.find<QLabel>("feedbackMessageLimitText");
    ASSERT_NE(limit, nullptr);
    const QString fiveThousand = QLocale().toString(5000);
    EXPECT_EQ(limit->text(), QStringLiteral("0 of %1 characters").arg(fiveThousand));
    EXPECT_TRUE(limit->isVisibleTo(f.window()));

    name->setFocus();
    QTest::keyClicks(name, QString(150, QLatin1Char('n')));
    EXPECT_EQ(name->text().size(), 100);
    email->insert(QString(32767, QLatin1Char('e')));
    EXPECT_EQ(email->text().size(), 254);

    // Typing past the end stops there; a paste keeps what fits before the cursor's text.
    f.message()->setPlainText(QString(4998, QLatin1Char('m')));
    f.message()->moveCursor(QTextCursor::End);
    QTest::keyClicks(f.message(), QStringLiteral("abcd"));
    EXPECT_EQ(f.message()->toPlainText(), QString(4998, QLatin1Char('m')) + QStringLiteral("ab"));
    EXPECT_EQ(limit->text(), QStringLiteral("%1 of %1 characters").arg(fiveThousand));
    f.message()->setPlainText(QStringLiteral("tail"));
    f.message()->moveCursor(QTextCursor::Start);
    f.message()->insertPlainText(QString(4997, QLatin1Char('p')) + QStringLiteral("\U0001F600xyz"));
    EXPECT_EQ(f.message()->toPlainText(), QString(4996, QLatin1Char('p')) + QStringLiteral("tail"));

    f.send()->click();
    ASSERT_EQ(f.service->calls.size(), 1u);
    EXPECT_EQ(f.service->calls[0]->name.size(), 100);
    EXPECT_EQ(f.service->calls[0]->email.size(), 254);
    EXPECT_EQ(f.service->calls[0]->message.size(), 5000);
    f.service->answer();
}

TEST(FeedbackForm, ModelKeepsNoMoreThanTheLimitsAndNeverHalfACharacter)
{
    FeedbackFormViewModel model(nullptr, {}, {});
    model.setName(QString(32767, QLatin1Char('n')));
    EXPECT_EQ(model.name().size(), FeedbackFormViewModel::kMaximumNameLength);
    model.setEmail(QString(32767, QLatin1Char('e')));
    EXPECT_EQ(model.email().size(), FeedbackFormViewModel::kMaximumEmailLength);
    const QString emoji = QStringLiteral("\U0001F600");
    model.setMessage(QString(4999, QLatin1Char('m')) + emoji);
    EXPECT_EQ(model.message(), QString(4999, QLatin1Char('m')));
    model.setMessage(QString(4998, QLatin1Char('m')) + emoji + QStringLiteral("!"));
    EXPECT_EQ(model.message(), QString(4998, QLatin1Char('m')) + emoji);
}

TEST(FeedbackWindow, SuccessClosesTheWindowThatSentItNeverANewerOne)
{
    WindowFixture f;
    f.controller.show();
    f.message()->setPlainText(QStringLiteral("first"));
    f.send()->click();
    ASSERT_EQ(f.service->calls.size(), 1u);
    f.window()->close();   // closed from the title bar while sending
    f.controller.show();   // a new, empty window
    QWidget *newer = f.window();
    ASSERT_NE(newer, nullptr);
    f.message()->setPlainText(QStringLiteral("second, still typing"));

    f.service->answer();   // the first submission succeeds now
    EXPECT_EQ(f.submittedCount, 1);
    EXPECT_EQ(f.window(), newer);
    EXPECT_TRUE(newer->isVisible());
    EXPECT_EQ(f.message()->toPlainText(), QStringLiteral("second, still typing"));
}

TEST(FeedbackWindow, EscapeCancelsAndTabLeavesTheMessage)
{
    WindowFixture f;
    f.controller.show();
    QWidget *window = f.window();
    QApplication::setActiveWindow(window);
    f.message()->setFocus();
    QTest::keyClick(f.message(), Qt::Key_Return);
    EXPECT_EQ(f.message()->toPlainText(), QStringLiteral("\n"));   // Return starts a new line
    QTest::keyClick(f.message(), Qt::Key_Tab);
    EXPECT_FALSE(f.message()->toPlainText().contains(QLatin1Char('\t')));
    EXPECT_FALSE(f.message()->hasFocus());
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(f.window(), nullptr);
}

TEST(FeedbackWindow, AmbientPanelAnimatesOnlyWhileShown)
{
    WindowFixture f;
    f.controller.show();
    auto *panel = f.window()->findChild<AmbientBackgroundView *>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->width(), 400);
    EXPECT_TRUE(panel->isAnimating());
    f.controller.setReduceMotion(true);   // the desktop asks for less motion
    EXPECT_FALSE(panel->isAnimating());
    f.controller.setReduceMotion(false);
    EXPECT_TRUE(panel->isAnimating());
    f.window()->hide();
    EXPECT_FALSE(panel->isAnimating());
}

// Return sends from the one-line fields once the form can be sent (it stays a new line in the
// message); Send is then the default button and drawn as the primary action.
TEST(FeedbackWindow, SendIsThePrimaryDefaultButtonThatReturnPresses)
{
    WindowFixture f;
    f.controller.show();
    QApplication::setActiveWindow(f.window());
    auto *name = f.find<QLineEdit>("feedbackNameField");
    name->setFocus();
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(f.service->calls.empty());   // nothing to send yet
    EXPECT_FALSE(f.send()->isDefault());

    f.message()->setPlainText(QStringLiteral("Lovely."));
    EXPECT_TRUE(f.send()->isDefault());
    const QImage shot = f.window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const double ratio = shot.devicePixelRatio();
    const auto face = [&](QPushButton *button) {
        return QColor(shot.pixel(button->mapTo(f.window(), QPoint(4, button->height() / 2)) * ratio));
    };
    // Prominent: filled with the accent, unlike Cancel beside it.
    EXPECT_GE(contrastRatio(face(f.send()), face(f.cancel())), 3.0);
    EXPECT_GT(face(f.send()).blueF(), face(f.send()).redF() + 0.3);

    name->setFocus();
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_EQ(f.service->calls.size(), 1u);
    EXPECT_EQ(f.service->calls[0]->message, QStringLiteral("Lovely."));
    f.service->answer();
}

// Light whatever the desktop: every text, the message box and the fields readable and visible
// on a light and on a dark desktop, with a message typed and after a failed send.
TEST(FeedbackAppearance, FormIsReadableWithVisibleFieldsOnLightAndDarkDesktops)
{
    underLightAndDarkDesktops([] {
        WindowFixture f;
        f.controller.show();
        QApplication::processEvents();
        const QStringList box{QStringLiteral("feedbackMessageBox")};
        expectReadableTexts(f.window(), 4);
        expectVisibleControlBoundaries(f.window(), 4, box);
        f.message()->setPlainText(QStringLiteral("The graph is great."));
        f.send()->click();
        f.service->answer(FeedbackSubmissionError::Case::unavailable);
        QApplication::processEvents();
        expectReadableTexts(f.window(), 5);
        expectVisibleControlBoundaries(f.window(), 5, box);
        // The message itself, as drawn in its box.
        const QImage shot = f.window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const double ratio = shot.devicePixelRatio();
        QWidget *viewport = f.message()->viewport();
        const QRect area(viewport->mapTo(f.window(), QPoint(0, 0)) * ratio, viewport->size() * ratio);
        std::map<QRgb, int> counts;
        const QColor background = mostCommonColour(shot, area, &counts);
        double ink = 1;
        for (const auto &[pixel, count] : counts) {
            ink = std::max(ink, contrastRatio(QColor(pixel), background));
        }
        EXPECT_GE(ink, 4.5) << "message text";
        EXPECT_GT(relativeLuminance(background), 0.5) << "message box is light";
    });
}

// Writes the window to $QUILLBY_RENDER_DIR (when set), for a look by eye.
TEST(FeedbackWindow, RendersToPng)
{
    const QString folder = qEnvironmentVariable("QUILLBY_RENDER_DIR");
    WindowFixture f;
    f.controller.show();
    f.find<QLineEdit>("feedbackNameField")->setText(QStringLiteral("Ada Lovelace"));
    f.message()->setPlainText(QStringLiteral("The graph is great. Could the tray icon show the trend arrow bigger?"));
    QImage empty = f.window()->grab().toImage();
    EXPECT_EQ(empty.size(), QSize(800, 600) * f.window()->devicePixelRatioF());
    f.send()->click();
    f.service->answer(FeedbackSubmissionError::Case::unavailable);
    const QImage failed = f.window()->grab().toImage();
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        EXPECT_TRUE(empty.save(QDir(folder).filePath(QStringLiteral("feedback-window.png"))));
        EXPECT_TRUE(failed.save(QDir(folder).filePath(QStringLiteral("feedback-window-error.png"))));
    }
}

} // namespace
} // namespace quillby::test
