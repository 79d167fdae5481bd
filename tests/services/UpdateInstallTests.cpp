#include "services/AppcastUpdateController.h"
#include "services/UpdateChecker.h"
#include "services/UpdateDownload.h"

#include "FakeClock.h"
#include "FakePackageKit.h"
#include "RecordingHttpServer.h"
#include "ServicesTestSupport.h"
#include "TaskRunner.h"
#include "VirtualTimeSleeper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace quillby::test {
namespace {

// An Ed25519 key pair made for this test process.
class SigningKey {
public:
    SigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free) {}

    QByteArray publicKey() const
    {
        unsigned char raw[32];
        size_t length = sizeof raw;
        EVP_PKEY_get_raw_public_key(key_.get(), raw, &length);
        return QByteArray(reinterpret_cast<const char *>(raw), static_cast<qsizetype>(length));
    }

    QByteArray sign(const QByteArray &data) const
    {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get());
        unsigned char signature[64];
        size_t length = sizeof signature;
        EVP_DigestSign(context.get(), signature, &length, reinterpret_cast<const unsigned char *>(data.constData()),
                       static_cast<size_t>(data.size()));
        return QByteArray(reinterpret_cast<const char *>(signature), static_cast<qsizetype>(length));
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_;
};

const SigningKey &releaseKey()
{
    static const SigningKey key;
    return key;
}

// A small Debian package built with dpkg-deb (kept for the test process).
QByteArray debianPackage(const QString &name, const QString &version, const QString &architecture)
{
    static std::map<QString, QByteArray> built;
    static QTemporaryDir folder;
    const QString key = name + QLatin1Char('_') + version + QLatin1Char('_') + architecture;
    if (const auto found = built.find(key); found != built.end()) {
        return found->second;
    }
    const QString root = folder.filePath(key);
    QDir().mkpath(root + QStringLiteral("/DEBIAN"));
    QDir().mkpath(root + QStringLiteral("/usr/share/doc/") + name);
    QFile control(root + QStringLiteral("/DEBIAN/control"));
    EXPECT_TRUE(control.open(QIODevice::WriteOnly));
    control.write(QStringLiteral("Package: %1\nVersion: %2\nArchitecture: %3\nMaintainer: Tests <tests@quillby.app>\n"
                                 "Description: a package for the update tests\n")
                      .arg(name, version, architecture)
                      .toUtf8());
    control.close();
    QFile readme(root + QStringLiteral("/usr/share/doc/") + name + QStringLiteral("/README"));
    EXPECT_TRUE(readme.open(QIODevice::WriteOnly));
    readme.write(QByteArray(4096, 'q'));
    readme.close();
    QProcess dpkg;
    dpkg.start(QStringLiteral("dpkg-deb"),
               {QStringLiteral("--root-owner-group"), QStringLiteral("--build"), root, root + QStringLiteral(".deb")});
    EXPECT_TRUE(dpkg.waitForFinished(60000) && dpkg.exitCode() == 0) << dpkg.readAllStandardError().toStdString();
    QFile deb(root + QStringLiteral(".deb"));
    EXPECT_TRUE(deb.open(QIODevice::ReadOnly));
    return built[key] = deb.readAll();
}

class ReleaseServer final : public RecordingHttpServer {
public:
    ReleaseServer() { start(); }
    ~ReleaseServer() override { stop(); }
    std::string feed;
    std::string package;

protected:
    ScriptedReply respond(const RecordedRequest &request) override
    {
        if (request.path == "/appcast.xml" && !feed.empty()) {
            return ScriptedReply::text(200, feed, "application/rss+xml");
        }
        if (request.path == "/quillby.deb" && !package.empty()) {
            return ScriptedReply::text(200, package, "application/vnd.debian.binary-package");
        }
        return ScriptedReply::text(404, "not found");
    }
};

struct Offer {
    QString version = QStringLiteral("1.5.0");
    qint64 length = -1;        // -1: the package's own length
    QByteArray signature;      // empty: the package's own signature
    QString path = QStringLiteral("/quillby.deb");
};

struct InstallFixture {
    ReleaseServer server;
    QNetworkAccessManager network;
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults =
        std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    QString downloads = directory.filePath(QStringLiteral("cache/Quillby/updates"));
    std::unique_ptr<FakePackageKit> packageKit;
    QString owner = QStringLiteral("quillby");
    int relaunches = 0;
    std::vector<SparkleUpdateState> reported;

    explicit InstallFixture(bool withPackageKit = true)
    {
        privateSystemBusAddress();
        if (withPackageKit) {
            packageKit = std::make_unique<FakePackageKit>();
        }
    }

    // The feed offers `offer` for amd64 (with an arm64 file beside it) and the server holds `package`.
    void publish(const QByteArray &package, const Offer &offer = {})
    {
        server.package = package.toStdString();
        const QByteArray signature = offer.signature.isEmpty() ? releaseKey().sign(package) : offer.signature;
        const qint64 length = offer.length >= 0 ? offer.length : package.size();
        const std::string origin = server.origin();
        server.feed = R"(<?xml version="1.0" encoding="utf-8"?><rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item>)"
                      "<title>Quillby</title><link>https://quillby.app/download</link><sparkle:version>" +
                      offer.version.toStdString() +
                      "</sparkle:version>"
                      "<enclosure url=\"" + origin + "/arm64.deb\" sparkle:os=\"linux-arm64\" length=\"10\" "
                      "sparkle:edSignature=\"" + QByteArray(64, 'x').toBase64().toStdString() + "\"/>"
                      "<enclosure url=\"" + origin + offer.path.toStdString() + "\" sparkle:os=\"linux-amd64\" length=\"" +
                      std::to_string(length) + "\" sparkle:edSignature=\"" + signature.toBase64().toStdString() +
                      "\"/></item></channel></rss>";
    }

    std::unique_ptr<AppcastUpdateController> make()
    {
        AppcastUpdateController::Dependencies d;
        d.network = &network;
        d.feedURL = QUrl(QString::fromStdString(server.origin()) + QStringLiteral("/appcast.xml"));
        d.currentVersion = QStringLiteral("1.4.2");
        d.defaults = defaults;
        d.timeout = std::chrono::milliseconds(scaledTimeoutMs(10000));
        d.clock = clock;
        d.sleeper = sleeper;
        d.publicKey = releaseKey().publicKey();
        d.packageName = QStringLiteral("quillby");
        d.architecture = QStringLiteral("amd64");
        d.downloadFolder = downloads;
        d.packageKit = std::make_shared<PackageKitClient>(
            QDBusConnection::connectToBus(privateSystemBusAddress(), QStringLiteral("update-tests-client")));
        d.executablePath = QStringLiteral("/usr/bin/quillby");
        d.owningPackage = [owner = owner](const QString &) { return std::optional<QString>(owner); };
        d.relaunch = [this] { ++relaunches; };
        auto controller = std::make_unique<AppcastUpdateController>(std::move(d));
        controller->updateStateDidChange = [this](SparkleUpdateState state) { reported.push_back(state); };
        return controller;
    }

    // Finds out the install support, checks the feed and waits for the download it starts.
    void checkAndDownload(AppcastUpdateController &controller)
    {
        runTask(controller.resolveInstallSupport());
        QSignalSpy finished(&controller, &AppcastUpdateController::downloadFinished);
        runTask(controller.check());
        if (controller.isDownloading()) {
            ASSERT_TRUE(waitFor([&] { return !finished.isEmpty(); }));
        }
    }

    QStringList downloadedFiles() const
    {
        return QDir(downloads).entryList(QDir::Files | QDir::Hidden);
    }
};

QByteArray goodPackage()
{
    return debianPackage(QStringLiteral("quillby"), QStringLiteral("1.5.0"), QStringLiteral("amd64"));
}

TEST(UpdateInstall, DownloadsChecksAndInstallsFromTheMenuThenStartsTheNewVersion)
{
    InstallFixture f;
    f.defaults->setValue(AppcastUpdateController::kAutomaticallyDownloadsKey, true);
    f.publish(goodPackage());
    auto controller = f.make();
    f.checkAndDownload(*controller);

    ASSERT_TRUE(controller->hasPendingInstallOnQuit());
    EXPECT_EQ(controller->installSupport(), UpdateInstallSupport::installs);
    EXPECT_EQ(f.server.requestCount("/arm64.deb"), 0u) << "only this architecture's file is fetched";
    const QString path = controller->pendingInstallPath();
    // Owner, group and other bits (Qt's "user" bits repeat the owner's for the running user).
    constexpr int kModeBits = 0x7077;
    EXPECT_EQ(QFileInfo(path).permissions() & kModeBits, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(QFileInfo(f.downloads).permissions() & kModeBits,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(f.downloadedFiles(), QStringList{QFileInfo(path).fileName()});
    EXPECT_EQ(f.reported.back(), SparkleUpdateState::updateReady);

    UpdateChecker checker(UpdateChecker::Dependencies{std::move(controller), {}, {}, {}, {}, {}});
    auto &installer = static_cast<AppcastUpdateController &>(checker.sparkleController());
    QSignalSpy installed(&installer, &AppcastUpdateController::installFinished);
    ASSERT_TRUE(checker.installPendingUpdate());
    EXPECT_FALSE(checker.sparkleController().installPendingUpdate()) << "one-shot";
    ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
    EXPECT_TRUE(installed.first().first().toBool());

    ASSERT_EQ(f.packageKit->installs.size(), 1u);
    const auto &install = f.packageKit->installs.front();
    EXPECT_EQ(install.files, QStringList{path});
    EXPECT_TRUE(install.filesExisted);
    EXPECT_EQ(install.flags, 0u) << "a local file is never 'only trusted'";
    EXPECT_EQ(install.hints, QStringList{QStringLiteral("interactive=true")});
    EXPECT_TRUE(f.packageKit->authorizationsAsked.isEmpty()) << "the menu installs without asking first";
    EXPECT_EQ(f.relaunches, 1);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(checker.sparkleController().hasPendingInstallOnQuit());
    EXPECT_FALSE(checker.isUpdateAvailable());
}

TEST(UpdateInstall, WithTheSwitchOffTheMenuDownloadsThenInstalls)
{
    InstallFixture f;
    f.publish(goodPackage());
    auto controller = f.make();
    f.checkAndDownload(*controller);
    EXPECT_FALSE(controller->hasPendingInstallOnQuit());
    EXPECT_EQ(f.server.requestCount("/quillby.deb"), 0u) << "reported only";

    QSignalSpy installed(controller.get(), &AppcastUpdateController::installFinished);
    EXPECT_FALSE(controller->installPendingUpdate());
    ASSERT_TRUE(controller->downloadAndInstallUpdate());
    ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
    EXPECT_TRUE(installed.first().first().toBool());
    EXPECT_EQ(f.packageKit->installs.size(), 1u);
    EXPECT_EQ(f.relaunches, 1);
}

// Sleep and quit install only where PackageKit says no password would be asked.
TEST(UpdateInstall, SleepAndQuitInstallOnlyWhenNoPasswordIsNeeded)
{
    struct Case {
        const char *name;
        uint authorization;
        bool atQuit;
        bool installs;
    };
    const Case cases[] = {
        {"sleep, yes", 1, false, true},
        {"quit, yes", 1, true, true},
        {"sleep, no", 2, false, false},
        {"sleep, interactive", 3, false, false},
        {"quit, interactive", 3, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFixture f;
        f.defaults->setValue(AppcastUpdateController::kAutomaticallyDownloadsKey, true);
        f.packageKit->authorization = c.authorization;
        f.publish(goodPackage());
        auto controller = f.make();
        f.checkAndDownload(*controller);
        ASSERT_TRUE(controller->hasPendingInstallOnQuit());
        const QString path = controller->pendingInstallPath();
        AppcastUpdateController *raw = controller.get();
        UpdateChecker checker(UpdateChecker::Dependencies{std::move(controller), {}, {}, {}, {}, {}});
        QSignalSpy installed(raw, &AppcastUpdateController::installFinished);
        if (c.atQuit) {
            runTask(checker.installDownloadedUpdateBeforeQuit());
        } else {
            checker.installDownloadedUpdateNow(QStringLiteral("system-sleep"));
            ASSERT_TRUE(waitFor([&] { return !f.packageKit->authorizationsAsked.isEmpty(); }));
            if (c.installs) {
                ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
            }
        }
        processQueuedEvents();
        EXPECT_EQ(f.packageKit->authorizationsAsked,
                  QStringList{QStringLiteral("org.freedesktop.packagekit.package-install-untrusted")});
        EXPECT_EQ(f.packageKit->installs.size(), c.installs ? 1u : 0u);
        EXPECT_EQ(raw->hasPendingInstallOnQuit(), !c.installs) << "an update not installed waits for the menu";
        EXPECT_EQ(QFile::exists(path), !c.installs);
        EXPECT_EQ(f.relaunches, c.installs && !c.atQuit ? 1 : 0) << "after quit nothing starts again";
        if (c.installs) {
            EXPECT_EQ(f.packageKit->installs.front().hints, QStringList{QStringLiteral("interactive=false")});
        }
    }
}

TEST(UpdateInstall, AFailedTransactionKeepsTheUpdateAndSaysWhy)
{
    InstallFixture f;
    f.defaults->setValue(AppcastUpdateController::kAutomaticallyDownloadsKey, true);
    f.packageKit->failInstall = true;
    f.packageKit->failureDetails = QStringLiteral("Dependency libfoo is not installable");
    f.publish(goodPackage());
    auto controller = f.make();
    f.checkAndDownload(*controller);
    const QString path = controller->pendingInstallPath();
    AppcastUpdateController *raw = controller.get();
    UpdateChecker checker(UpdateChecker::Dependencies{std::move(controller), {}, {}, {}, {}, {}});
    QSignalSpy failureChanged(&checker, &UpdateAvailabilityProviding::updateInstallFailureChanged);
    QSignalSpy installed(raw, &AppcastUpdateController::installFinished);
    LogCapture log;

    ASSERT_TRUE(checker.installPendingUpdate());
    ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
    EXPECT_FALSE(installed.first().first().toBool());
    EXPECT_TRUE(raw->hasPendingInstallOnQuit());
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(checker.isUpdateAvailable());
    EXPECT_EQ(checker.updateInstallFailure(), QStringLiteral("Dependency libfoo is not installable"));
    EXPECT_FALSE(failureChanged.isEmpty());
    EXPECT_EQ(log.count("Update install failed"), 1);
    EXPECT_EQ(f.relaunches, 0);

    // The next try from the menu succeeds and clears the reason.
    f.packageKit->failInstall = false;
    installed.clear();
    ASSERT_TRUE(checker.installPendingUpdate());
    ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
    EXPECT_TRUE(installed.first().first().toBool());
    EXPECT_TRUE(checker.updateInstallFailure().isEmpty());
    EXPECT_EQ(f.relaunches, 1);
}

// Where updates cannot be installed, a newer version is only reported, whatever the switch says.
TEST(UpdateInstall, WithoutPackageKitOrOutsideThePackageUpdatesAreOnlyReported)
{
    struct Case {
        const char *name;
        bool packageKit;
        QString owner;
        UpdateInstallSupport support;
    };
    const Case cases[] = {
        {"no PackageKit on the bus", false, QStringLiteral("quillby"), UpdateInstallSupport::noPackageKit},
        {"run from the build folder", true, QString(), UpdateInstallSupport::notFromPackage},
        {"a file of another package", true, QStringLiteral("quillby-dev"), UpdateInstallSupport::notFromPackage},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFixture f(c.packageKit);
        f.owner = c.owner;
        f.defaults->setValue(AppcastUpdateController::kAutomaticallyDownloadsKey, true);
        f.publish(goodPackage());
        auto controller = f.make();
        f.checkAndDownload(*controller);
        EXPECT_EQ(controller->installSupport(), c.support);
        EXPECT_EQ(f.reported.back(), SparkleUpdateState::updateReady);
        EXPECT_FALSE(controller->isDownloading());
        EXPECT_FALSE(controller->hasPendingInstallOnQuit());
        EXPECT_FALSE(controller->downloadAndInstallUpdate()) << "the menu falls back to the check and its download page";
        EXPECT_EQ(f.server.requestCount("/quillby.deb"), 0u);
    }
    // A build without a signing key never downloads either.
    InstallFixture f;
    AppcastUpdateController::Dependencies d;
    d.clock = f.clock;
    d.sleeper = f.sleeper;
    d.network = &f.network;
    AppcastUpdateController unsigned_(std::move(d));
    EXPECT_EQ(runTask(unsigned_.resolveInstallSupport()), UpdateInstallSupport::notSigned);
}

// A file that fails any check is deleted, logged once and never reaches PackageKit.
TEST(UpdateInstall, RefusedDownloadsNeverReachTheInstaller)
{
    const QByteArray good = goodPackage();
    struct Case {
        const char *name;
        QByteArray package;
        Offer offer;
        std::optional<ScriptedReply> reply;
        const char *logged;
    };
    Offer longer;
    longer.length = good.size() - 100;   // the server sends more than stated
    Offer wrongSignature;
    wrongSignature.signature = releaseKey().sign(good + "x");
    Offer moved;
    moved.path = QStringLiteral("/moved.deb");
    const Case cases[] = {
        {"cut short", good, {}, ScriptedReply::text(200, good.toStdString()).cutShortAfter(good.size() / 2),
         "Update download failed"},
        {"larger than stated", good, longer, std::nullopt, "larger than stated"},
        {"redirected to plain http", good, moved, std::nullopt, "redirect to a non-https address was refused"},
        {"not found", good, {}, ScriptedReply::text(404, "gone"), "status 404"},
        {"bad signature", good, wrongSignature, std::nullopt, "signature does not match"},
        {"wrong architecture", debianPackage(QStringLiteral("quillby"), QStringLiteral("1.5.0"), QStringLiteral("arm64")),
         {}, std::nullopt, "built for arm64"},
        {"older version inside", debianPackage(QStringLiteral("quillby"), QStringLiteral("1.3.0"), QStringLiteral("amd64")),
         {}, std::nullopt, "is version 1.3.0"},
        {"another package", debianPackage(QStringLiteral("notquillby"), QStringLiteral("1.5.0"), QStringLiteral("amd64")),
         {}, std::nullopt, "is the package notquillby"},
        {"not a package", QByteArray(5000, 'z'), {}, std::nullopt, "not a Debian package"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFixture f;
        f.defaults->setValue(AppcastUpdateController::kAutomaticallyDownloadsKey, true);
        f.publish(c.package, c.offer);
        if (c.reply) {
            f.server.enqueueReply("/quillby.deb", *c.reply);
        }
        ScriptedReply redirect = ScriptedReply::text(302, "");
        redirect.headers = {{"Location", "http://quillby.invalid/quillby.deb"}};
        f.server.enqueueReply("/moved.deb", redirect);
        auto controller = f.make();
        LogCapture log;
        QSignalSpy finished(controller.get(), &AppcastUpdateController::downloadFinished);
        f.checkAndDownload(*controller);
        ASSERT_EQ(finished.size(), 1);
        EXPECT_FALSE(finished.first().first().toBool());
        EXPECT_FALSE(controller->hasPendingInstallOnQuit());
        EXPECT_FALSE(controller->installPendingUpdate());
        EXPECT_EQ(f.downloadedFiles(), QStringList{}) << "nothing is left behind";
        EXPECT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.count(c.logged), 1) << (log.lines().empty() ? std::string() : log.lines().front());
        EXPECT_TRUE(f.packageKit->installs.empty());
        EXPECT_EQ(f.reported.back(), SparkleUpdateState::updateReady) << "the newer version is still reported";
    }
}

TEST(UpdateInstall, RedirectsNeverMoveDownToPlainHttp)
{
    const auto url = [](const char *text) { return QUrl(QString::fromLatin1(text)); };
    EXPECT_TRUE(isAllowedDownloadRedirect(url("https://quillby.app/a.deb"), url("https://cdn.quillby.app/a.deb")));
    EXPECT_FALSE(isAllowedDownloadRedirect(url("https://quillby.app/a.deb"), url("http://cdn.quillby.app/a.deb")));
    EXPECT_FALSE(isAllowedDownloadRedirect(url("https://quillby.app/a.deb"), url("http://127.0.0.1:8080/a.deb")));
    EXPECT_TRUE(isAllowedDownloadRedirect(url("http://127.0.0.1:8080/a.deb"), url("http://localhost:8081/b.deb")));
    EXPECT_FALSE(isAllowedDownloadRedirect(url("http://127.0.0.1:8080/a.deb"), url("http://quillby.app/a.deb")));
    EXPECT_FALSE(isAllowedDownloadRedirect(url("https://quillby.app/a.deb"), url("ftp://quillby.app/a.deb")));

    // A redirect on loopback is followed.
    InstallFixture f;
    f.defaults->setValue(AppcastUpdateController::kAutomaticallyDownloadsKey, true);
    Offer moved;
    moved.path = QStringLiteral("/moved.deb");
    f.publish(goodPackage(), moved);
    ScriptedReply redirect = ScriptedReply::text(302, "");
    redirect.headers = {{"Location", f.server.origin() + "/quillby.deb"}};
    f.server.enqueueReply("/moved.deb", redirect);
    auto controller = f.make();
    f.checkAndDownload(*controller);
    EXPECT_TRUE(controller->hasPendingInstallOnQuit());
}

TEST(UpdateInstall, TheSwitchStartsAndCancelsTheDownload)
{
    InstallFixture f;
    f.publish(goodPackage());
    ScriptedReply slow = ScriptedReply::text(200, goodPackage().toStdString());
    slow.delaySeconds = 600;   // held until the test ends it
    f.server.enqueueReply("/quillby.deb", slow);
    auto controller = f.make();
    f.checkAndDownload(*controller);
    ASSERT_FALSE(controller->isDownloading());

    QSignalSpy finished(controller.get(), &AppcastUpdateController::downloadFinished);
    controller->setAutomaticallyDownloadsUpdates(true);
    ASSERT_TRUE(controller->isDownloading());
    ASSERT_TRUE(waitFor([&] { return f.server.requestCount("/quillby.deb") == 1; }));
    controller->setAutomaticallyDownloadsUpdates(false);
    EXPECT_FALSE(controller->isDownloading());
    ASSERT_TRUE(waitFor([&] { return f.downloadedFiles().isEmpty(); }));
    processQueuedEvents();
    EXPECT_TRUE(finished.isEmpty()) << "a cancelled download reports nothing";
    EXPECT_FALSE(controller->hasPendingInstallOnQuit());

    // On again: the next request gets the whole file.
    controller->setAutomaticallyDownloadsUpdates(true);
    ASSERT_TRUE(waitFor([&] { return !finished.isEmpty(); }));
    EXPECT_TRUE(controller->hasPendingInstallOnQuit());
    EXPECT_EQ(f.downloadedFiles().size(), 1);
}

TEST(UpdateInstall, ACheckThatFindsNothingDropsTheWaitingUpdate)
{
    InstallFixture f;
    f.defaults->setValue(AppcastUpdateController::kAutomaticallyDownloadsKey, true);
    f.publish(goodPackage());
    auto controller = f.make();
    f.checkAndDownload(*controller);
    ASSERT_TRUE(controller->hasPendingInstallOnQuit());

    f.publish(goodPackage(), Offer{QStringLiteral("1.4.2"), -1, {}, QStringLiteral("/quillby.deb")});
    runTask(controller->check());
    EXPECT_FALSE(controller->hasPendingInstallOnQuit());
    EXPECT_EQ(f.downloadedFiles(), QStringList{});
    EXPECT_EQ(f.reported.back(), SparkleUpdateState::none);
    EXPECT_FALSE(controller->installPendingUpdate());
}

} // namespace
} // namespace quillby::test
