#include "services/AppcastUpdateController.h"
#include "services/UpdateChecker.h"

#include "FakeClock.h"
#include "RecordingHttpServer.h"
#include "TaskRunner.h"
#include "VirtualTimeSleeper.h"

#include "WaitUntil.h"
#include "core/async/RunDetached.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QThreadPool>
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

// One flat internal entity referenced many times: a few kilobytes that would expand to tens of
// megabytes of version text.
const std::string kEntityFeed = [] {
    std::string feed = R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY v ")" + std::string(1000, '9') +
                       R"(">]><rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
                       "<item><sparkle:version>";
    for (int i = 0; i < 2000; ++i) {
        feed += "&v;";
    }
    return feed + "</sparkle:version></item></channel></rss>";
}();

struct UpdateFixture {
    FeedServer server;
    QNetworkAccessManager network;
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults =
        std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    std::vector<UpdateCheckOutcome> presented;
    QThreadPool *parsePool = nullptr;

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
        d.parsePool = parsePool;
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
        {"pre-release of this version", appcast({{"1.4.2.0b1", "1.4.2 beta"}}), Kind::upToDate, SparkleUpdateState::none},
        {"entity declarations", kEntityFeed, Kind::failed, SparkleUpdateState::none},
        {"larger than a feed", appcast({{"1.5.0", "1.5"}}) + "<!--" + std::string(3 << 20, 'x') + "-->", Kind::failed,
         SparkleUpdateState::none},
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

TEST(AppcastUpdateController, ReadsTheFeedOffTheMainThread)
{
    UpdateFixture f;
    f.server.feed = appcast({{"1.5.0", "1.5"}});
    // The pool's one thread is busy until the test lets it go, so the feed waits to be read.
    QSemaphore busy;
    QThreadPool pool;
    const auto letGo = qScopeGuard([&] {
        busy.release();
        pool.waitForDone();
    });
    pool.setMaxThreadCount(1);
    f.parsePool = &pool;
    pool.start([&busy] { busy.acquire(); });
    auto controller = f.make();
    QSignalSpy checks(controller.get(), &AppcastUpdateController::checkFinished);
    runDetached(controller->check());
    ASSERT_TRUE(waitUntil([&] { return f.server.requestCount("/appcast.xml") == 1; }));
    // The main loop keeps turning while the feed waits for the pool.
    EXPECT_FALSE(checks.wait(300));
    busy.release();
    ASSERT_TRUE(checks.wait(scaledTimeoutMs(10000)));
    ASSERT_TRUE(controller->lastOutcome());
    EXPECT_EQ(controller->lastOutcome()->kind, UpdateCheckOutcome::Kind::newerVersion);
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
        {"2.0b2", "2.0b10", -1}, {"27", "1.4", 1},      {"1", "1.0", 0},       {"1.0a", "1", -1},
        {"1.0a", "1.0", -1},    {"1.0.0.0b1", "1.0.0", -1}, {"1.0.0.0.1", "1.0.0", 1}, {"1.007", "1.7", 0},
        {"1.0B1", "1.0b1", 0},  {"2.0 beta", "2.0-beta", 0}, {"2.0alpha", "2.0beta", -1},
        // Only ASCII digits are release numbers: an Arabic-Indic three is a word, below any number.
        {"1.\u0663", "1.2", -1}, {"1.\u0663", "1", -1}, {"\u0661\u0660", "9", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(appcast::compareVersions(QString::fromUtf8(c.a), QString::fromUtf8(c.b)), c.expected);
        EXPECT_EQ(appcast::compareVersions(QString::fromUtf8(c.b), QString::fromUtf8(c.a)), -c.expected);
    }
}

TEST(AppcastFeed, VersionOrderIsATotalOrder)
{
    const QStringList versions = {
        QStringLiteral("1"),       QStringLiteral("1.0"),     QStringLiteral("1.0.0"),   QStringLiteral("1.0a"),
        QStringLiteral("1a"),      QStringLiteral("1.0.0.0b1"), QStringLiteral("1.0b"),  QStringLiteral("1.0.1"),
        QStringLiteral("1..0"),    QStringLiteral(".1"),      QStringLiteral("a"),       QStringLiteral(""),
        QStringLiteral("0"),       QStringLiteral("1.0-0"),   QStringLiteral("1-a"),     QStringLiteral("1.a.0"),
        QStringLiteral("1.\u0663"), QStringLiteral("1.\u00e9"), QStringLiteral("1.0A"),  QStringLiteral("00.1"),
    };
    for (const QString &a : versions) {
        SCOPED_TRACE(a.toStdString());
        EXPECT_EQ(appcast::compareVersions(a, a), 0);
        for (const QString &b : versions) {
            SCOPED_TRACE(b.toStdString());
            const int ab = appcast::compareVersions(a, b);
            EXPECT_EQ(ab, -appcast::compareVersions(b, a));
            for (const QString &c : versions) {
                const int bc = appcast::compareVersions(b, c);
                const int ac = appcast::compareVersions(a, c);
                if (ab <= 0 && bc <= 0) {
                    EXPECT_LE(ac, 0) << c.toStdString();
                }
                if (ab == 0 && bc == 0) {
                    EXPECT_EQ(ac, 0) << c.toStdString();
                }
            }
        }
    }
}

TEST(AppcastFeed, ReadsOnlyPlainBoundedTextsAndHttpsPages)
{
    const char *head = R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)";
    const auto parse = [head](const std::string &body) {
        return appcast::parse(QByteArray::fromStdString(head + body + "</channel></rss>"));
    };
    // Items without a version, or with one no release has, are left out.
    const auto items = parse("<item><title>no version</title></item>"
                             "<item><sparkle:version>" + std::string(65, '1') + "</sparkle:version></item>"
                             "<item><sparkle:version>4.0</sparkle:version>"
                             "<sparkle:shortVersionString>4.0&#10;Click here</sparkle:shortVersionString></item>"
                             "<item><sparkle:version>5.0&#x202E;</sparkle:version></item>"
                             "<item><sparkle:version>3.1</sparkle:version><link>javascript:alert(1)</link>"
                             "<sparkle:releaseNotesLink>file:///etc/passwd</sparkle:releaseNotesLink></item>"
                             "<item><sparkle:version>3.2</sparkle:version><link>http://quillby.app/download</link>"
                             "<enclosure url=\"https://quillby.app/quillby_3.2.deb\"/></item>");
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ(items->at(0).version, QStringLiteral("3.1"));
    EXPECT_TRUE(items->at(0).downloadLink.isEmpty());
    EXPECT_TRUE(items->at(0).releaseNotesLink.isEmpty());
    EXPECT_EQ(items->at(1).downloadLink, QUrl(QStringLiteral("https://quillby.app/quillby_3.2.deb")));

    // A document type declaration is refused whatever it declares.
    for (const char *doctype : {R"(<!DOCTYPE rss [<!ENTITY v "1.0">]>)", R"(<!DOCTYPE rss SYSTEM "https://x/rss.dtd">)",
                                "<!DOCTYPE rss>"}) {
        SCOPED_TRACE(doctype);
        EXPECT_FALSE(appcast::parse(QByteArray(doctype) + head + "<item><sparkle:version>1.0</sparkle:version></item>"
                                    "</channel></rss>"));
    }
    EXPECT_FALSE(appcast::parse(QByteArray::fromStdString(kEntityFeed)));

    // Files: https, or plain http on this machine only; a signature is 64 bytes of Base64.
    const QByteArray signature = QByteArray(64, '\x5a').toBase64();
    const auto files = parse("<item><sparkle:version>3.3</sparkle:version>"
                             "<enclosure url=\"https://quillby.app/a.deb\" sparkle:os=\"linux-amd64\" length=\"1200\" "
                             "sparkle:edSignature=\"" + signature.toStdString() + "\"/>"
                             "<enclosure url=\"http://127.0.0.1:8080/b.deb\" sparkle:os=\"linux-arm64\" length=\"-3\" "
                             "sparkle:edSignature=\"c2hvcnQ=\"/>"
                             "<enclosure url=\"http://quillby.app/c.deb\"/>"
                             "<enclosure url=\"http://127.0.0.1.quillby.app/d.deb\"/></item>");
    ASSERT_TRUE(files);
    const AppcastItem &item = files->at(0);
    ASSERT_EQ(item.enclosures.size(), 2u);
    EXPECT_EQ(item.enclosures[0].length, 1200);
    EXPECT_EQ(item.enclosures[0].edSignature, QByteArray(64, '\x5a'));
    EXPECT_EQ(item.enclosures[1].length, -1);
    EXPECT_TRUE(item.enclosures[1].edSignature.isEmpty());
    EXPECT_EQ(appcast::enclosureFor(item, QStringLiteral("arm64"))->url, QUrl(QStringLiteral("http://127.0.0.1:8080/b.deb")));
    EXPECT_FALSE(appcast::enclosureFor(item, QStringLiteral("riscv64")));
}

} // namespace
} // namespace quillby::test
