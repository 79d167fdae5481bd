#include "services/AppcastUpdateController.h"
#include "services/UpdateCheckResultDialog.h"
#include "services/UpdateChecker.h"

#include "FakeClock.h"
#include "RecordingHttpServer.h"
#include "TaskRunner.h"
#include "VirtualTimeSleeper.h"

#include <QAbstractButton>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

class FeedServer final : public RecordingHttpServer {
public:
    FeedServer() { start(); }
    ~FeedServer() override { stop(); }
    std::string feed;

protected:
    ScriptedReply respond(const RecordedRequest &request) override
    {
        if (request.path == "/appcast.xml" && !feed.empty()) {
            return ScriptedReply::text(200, feed, "application/rss+xml");
        }
        return ScriptedReply::text(404, "not found");
    }
};

std::string appcast(const std::vector<std::pair<std::string, std::string>> &versions)
{
    std::string items;
    for (const auto &[version, shortVersion] : versions) {
        items += "<item><title>Quillby " + shortVersion + "</title>"
                 "<link>https://quillby.app/download/" + shortVersion + "</link>"
                 "<sparkle:releaseNotesLink>https://quillby.app/changelog#" + shortVersion + "</sparkle:releaseNotesLink>"
                 "<enclosure url=\"https://quillby.app/quillby_" + shortVersion + ".deb\" sparkle:version=\"" + version +
                 "\" sparkle:shortVersionString=\"" + shortVersion + "\" length=\"1\" type=\"application/octet-stream\"/>"
                 "</item>";
    }
    return R"(<?xml version="1.0" encoding="utf-8"?><rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><title>Quillby</title>)" +
           items + "</channel></rss>";
}

struct UpdateFixture {
    FeedServer server;
    QNetworkAccessManager network;
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults =
        std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    std::vector<UpdateCheckOutcome> presented;

    std::unique_ptr<AppcastUpdateController> make(QString feedURL = {})
    {
        AppcastUpdateController::Dependencies d;
        d.network = &network;
        d.feedURL = QUrl(feedURL.isEmpty() ? QString::fromStdString(server.origin()) + QStringLiteral("/appcast.xml") : feedURL);
        d.currentVersion = QStringLiteral("1.4.2");
        d.defaults = defaults;
        d.timeout = std::chrono::milliseconds(5000);
        d.clock = clock;
        d.sleeper = sleeper;
        d.presentUserCheckResult = [this](const UpdateCheckOutcome &outcome) { presented.push_back(outcome); };
        return std::make_unique<AppcastUpdateController>(std::move(d));
    }
};

TEST(AppcastUpdateController, ReportsANewerVersionAndNothingElse)
{
    using Kind = UpdateCheckOutcome::Kind;
    struct Case {
        const char *name;
        std::string feed;
        Kind kind;
        SparkleUpdateState state;
    };
    const Case cases[] = {
        {"newer", appcast({{"1.4.1", "1.4.1"}, {"1.5.0", "1.5"}}), Kind::newerVersion, SparkleUpdateState::updateReady},
        {"same", appcast({{"1.4.2", "1.4.2"}}), Kind::upToDate, SparkleUpdateState::none},
        {"older", appcast({{"1.3.9", "1.3.9"}, {"1.4.2b1", "1.4.2 beta"}}), Kind::upToDate, SparkleUpdateState::none},
        {"malformed", "<rss><channel><item>", Kind::failed, SparkleUpdateState::none},
        {"not a feed", "{\"version\": \"9.9\"}", Kind::failed, SparkleUpdateState::none},
        {"unreachable", "", Kind::failed, SparkleUpdateState::none},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UpdateFixture f;
        f.server.feed = c.feed;
        auto controller = f.make(std::string(c.name) == "unreachable" ? QStringLiteral("http://127.0.0.1:1/appcast.xml")
                                                                       : QString());
        std::vector<SparkleUpdateState> reported;
        controller->updateStateDidChange = [&reported](SparkleUpdateState s) { reported.push_back(s); };
        const UpdateCheckOutcome outcome = runTask(controller->check());
        EXPECT_EQ(outcome.kind, c.kind);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported.front(), c.state);
        EXPECT_EQ(controller->lastUpdateCheckDate(), f.clock->now());
        EXPECT_FALSE(controller->hasPendingInstallOnQuit());
        EXPECT_FALSE(controller->installPendingUpdate());
        if (c.kind == Kind::newerVersion) {
            ASSERT_TRUE(outcome.item);
            EXPECT_EQ(outcome.item->displayVersion(), QStringLiteral("1.5"));
            EXPECT_EQ(outcome.item->downloadLink, QUrl(QStringLiteral("https://quillby.app/download/1.5")));
            EXPECT_EQ(outcome.item->releaseNotesLink, QUrl(QStringLiteral("https://quillby.app/changelog#1.5")));
        }
    }
}

TEST(AppcastUpdateController, ChecksOnStartThenDailyAndShowsUserChecks)
{
    UpdateFixture f;
    f.server.feed = appcast({{"1.5.0", "1.5"}});
    auto controller = f.make();
    UpdateChecker::Dependencies d;
    auto *raw = controller.get();
    d.sparkleController = std::move(controller);
    UpdateChecker checker(std::move(d));
    QSignalSpy checks(raw, &AppcastUpdateController::checkFinished);
    checker.start();
    ASSERT_TRUE(checks.wait(10000));
    EXPECT_TRUE(checker.isUpdateAvailable());
    EXPECT_TRUE(f.presented.empty());   // a scheduled check shows nothing
    VirtualTimeSleeper::drain();
    ASSERT_EQ(f.sleeper->requests.back(), 86400.0);

    f.server.feed = appcast({{"1.4.2", "1.4.2"}});
    ASSERT_TRUE(f.sleeper->runNext());
    ASSERT_TRUE(checks.wait(10000));
    EXPECT_FALSE(checker.isUpdateAvailable());
    EXPECT_EQ(f.server.requestCount("/appcast.xml"), 2u);

    // The menu's "Update available" entry: nothing to install, so a check the user sees.
    EXPECT_FALSE(checker.installPendingUpdate());
    checker.checkForUpdates();
    ASSERT_TRUE(checks.wait(10000));
    ASSERT_EQ(f.presented.size(), 1u);
    EXPECT_EQ(f.presented.front().kind, UpdateCheckOutcome::Kind::upToDate);
    checker.stop();
}

TEST(AppcastFeed, VersionsCompareAsReleaseNumbers)
{
    struct Case {
        const char *a;
        const char *b;
        int expected;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},     {"1.4.2", "1.4.2", 0}, {"1.4", "1.4.0", 0},   {"2.0b1", "2.0", -1},
        {"2.0", "2.0rc1", 1},   {"1.0.1", "1.0b", 1},  {"10", "9", 1},        {"1.4.3", "1.4.20", -1},
        {"2.0b2", "2.0b10", -1}, {"27", "1.4", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(appcast::compareVersions(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.expected);
        EXPECT_EQ(appcast::compareVersions(QString::fromLatin1(c.b), QString::fromLatin1(c.a)), -c.expected);
    }
    // Items without a version are left out; links that are not web addresses are dropped.
    const auto items = appcast::parse(R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>
        <item><title>no version</title></item>
        <item><sparkle:version>3.1</sparkle:version><link>javascript:alert(1)</link></item></channel></rss>)");
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 1u);
    EXPECT_EQ(items->front().version, QStringLiteral("3.1"));
    EXPECT_TRUE(items->front().downloadLink.isEmpty());
}

TEST(UpdateCheckResultDialog, OffersTheDownloadPageOnlyForANewerVersion)
{
    AppcastItem item;
    item.version = QStringLiteral("1.5.0");
    item.shortVersion = QStringLiteral("1.5");
    item.downloadLink = QUrl(QStringLiteral("https://quillby.app/download/1.5"));
    std::vector<QUrl> opened;
    QMessageBox *newer = makeUpdateCheckResultDialog({UpdateCheckOutcome::Kind::newerVersion, item, QStringLiteral("1.4.2")},
                                                     [&opened](const QUrl &url) { opened.push_back(url); });
    EXPECT_EQ(newer->textFormat(), Qt::PlainText);
    EXPECT_TRUE(newer->informativeText().contains(QStringLiteral("Quillby 1.5 is now available")));
    auto *download = newer->findChild<QAbstractButton *>(QStringLiteral("updateDownloadButton"));
    ASSERT_NE(download, nullptr);
    download->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.front(), item.downloadLink);
    delete newer;

    for (const auto kind : {UpdateCheckOutcome::Kind::upToDate, UpdateCheckOutcome::Kind::failed}) {
        QMessageBox *box = makeUpdateCheckResultDialog({kind, item, QStringLiteral("1.4.2")}, [](const QUrl &) {});
        EXPECT_EQ(box->findChild<QAbstractButton *>(QStringLiteral("updateDownloadButton")), nullptr);
        delete box;
    }
}

} // namespace
} // namespace quillby::test
