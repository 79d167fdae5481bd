#include "platform/LoginItemManager.h"
#include "settings/LoginItemSettingsService.h"

#include "TaskRunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <vector>

#include <sys/stat.h>
#include <cstring>
#include <unistd.h>

namespace quillby {
namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Launch at login as the settings model drives it: the service over the XDG autostart entry
// in a temporary configuration home ($XDG_CONFIG_HOME).
class LaunchAtLoginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        previousConfigHome = qgetenv("XDG_CONFIG_HOME");
        hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
        manager = std::make_shared<LoginItemManager>(QStringLiteral("/opt/Quillby Apps/bin/quillby"));
        service = std::make_shared<LoginItemSettingsService>(manager);
    }
    void TearDown() override
    {
        if (hadConfigHome) {
            qputenv("XDG_CONFIG_HOME", previousConfigHome);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
    }

    QString entry() const { return home.path() + QStringLiteral("/autostart/quillby.desktop"); }

    QTemporaryDir home;
    QByteArray previousConfigHome;
    bool hadConfigHome = false;
    std::shared_ptr<LoginItemManager> manager;
    std::shared_ptr<LoginItemSettingsService> service;
};

TEST_F(LaunchAtLoginTest, OnWritesOurEntryOffRemovesIt)
{
    EXPECT_EQ(manager->entryPath(), entry());
    EXPECT_EQ(test::runTask(service->status()), LoginItemStatus::notRegistered);

    EXPECT_EQ(test::runTask(service->setEnabled(true)), LoginItemChangeResult::success(true));
    const QByteArray text = readFile(entry());
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    // The absolute path as one quoted argument; the space needs the quotes.
    EXPECT_TRUE(text.contains("\nExec=\"/opt/Quillby Apps/bin/quillby\"\n")) << text.constData();
    EXPECT_TRUE(text.contains("\nX-Quillby-LoginItem=true\n"));
    EXPECT_EQ(QFileInfo(entry()).permissions() & QFileDevice::WriteOther, 0);
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(home.path() + QStringLiteral("/autostart")).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(test::runTask(service->status()), LoginItemStatus::enabled);

    // Turning on again rewrites the same entry.
    EXPECT_EQ(test::runTask(service->setEnabled(true)), LoginItemChangeResult::success(true));

    EXPECT_EQ(test::runTask(service->setEnabled(false)), LoginItemChangeResult::success(false));
    EXPECT_FALSE(QFile::exists(entry()));
    // Off when it was never on succeeds as well.
    EXPECT_EQ(test::runTask(service->setEnabled(false)), LoginItemChangeResult::success(false));
}

TEST_F(LaunchAtLoginTest, EntrySwitchedOffByTheDesktopCountsAsOff)
{
    ASSERT_EQ(test::runTask(service->setEnabled(true)), LoginItemChangeResult::success(true));
    writeFile(entry(), readFile(entry()) + "Hidden=true\n");
    EXPECT_EQ(test::runTask(service->status()), LoginItemStatus::notRegistered);
    // Turning on again replaces it with an enabled entry.
    EXPECT_EQ(test::runTask(service->setEnabled(true)), LoginItemChangeResult::success(true));
    EXPECT_FALSE(readFile(entry()).contains("Hidden=true"));
}

TEST_F(LaunchAtLoginTest, ForeignEntryOfTheSameNameIsLeftUntouched)
{
    const QByteArray foreign = "[Desktop Entry]\nType=Application\nName=Mine\nExec=/home/me/bin/start-quillby --fast\n";
    writeFile(entry(), foreign);

    EXPECT_EQ(test::runTask(service->status()), LoginItemStatus::notFound);
    const LoginItemChangeResult on = test::runTask(service->setEnabled(true));
    ASSERT_FALSE(on.succeeded());
    EXPECT_EQ(on.failureMessage, "Failed to update launch at login: " + entry().toStdString() +
                                     " was not written by Quillby; remove it or make it start Quillby yourself.");
    EXPECT_EQ(readFile(entry()), foreign);

    EXPECT_EQ(test::runTask(service->setEnabled(false)), LoginItemChangeResult::success(false));
    EXPECT_EQ(readFile(entry()), foreign);
}

// Whatever sits at the entry's place is read only when it is a regular file of a sensible size:
// a pipe would block every read, a device never ends. Such an entry is not ours to replace.
TEST_F(LaunchAtLoginTest, EntryThatIsNotASmallRegularFileIsNeitherReadNorReplaced)
{
    const QByteArray native = QFile::encodeName(entry());
    const QByteArray ourText = LoginItemManager::entryContents(QStringLiteral("/usr/bin/quillby"));
    struct Case {
        const char *name;
        std::function<void()> make;
    };
    const std::vector<Case> cases = {
        {"link to /dev/zero", [&] { ASSERT_EQ(::symlink("/dev/zero", native.constData()), 0); }},
        {"pipe", [&] { ASSERT_EQ(::mkfifo(native.constData(), 0600), 0); }},
        {"link to a pipe",
         [&] {
             const QByteArray fifo = QFile::encodeName(home.filePath(QStringLiteral("fifo")));
             ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
             ASSERT_EQ(::symlink(fifo.constData(), native.constData()), 0);
         }},
        {"folder", [&] { ASSERT_TRUE(QDir().mkpath(entry())); }},
        {"dangling link", [&] { ASSERT_EQ(::symlink("/nonexistent/quillby.desktop", native.constData()), 0); }},
        {"our entry grown past the limit",
         [&] { writeFile(entry(), ourText + QByteArray(LoginItemManager::kMaxEntryBytes, '#')); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(home.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("autostart"))));
        c.make();
        EXPECT_EQ(manager->status(), LoginItemStatus::notFound);
        EXPECT_THROW(manager->registerApplication(), LoginItemError);
        EXPECT_NO_THROW(manager->unregisterApplication());
        struct stat info {};
        EXPECT_EQ(::lstat(native.constData(), &info), 0) << "left in place";
    }

    // A link to an entry of ours (as dotfile managers make) is still read.
    QDir(home.path()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("autostart"))));
    writeFile(home.filePath(QStringLiteral("dotfiles/quillby.desktop")), ourText);
    ASSERT_EQ(::symlink(QFile::encodeName(home.filePath(QStringLiteral("dotfiles/quillby.desktop"))).constData(),
                        native.constData()),
              0);
    EXPECT_EQ(manager->status(), LoginItemStatus::enabled);
}

// An Exec line has no way to carry a control character: such a path is refused, nothing written.
TEST_F(LaunchAtLoginTest, ProgramPathWithAControlCharacterIsRefused)
{
    for (const QString &path : {QStringLiteral("/opt/q\tbin/quillby"), QStringLiteral("/opt/q\nExec=evil"),
                                QStringLiteral("/opt/q\rx"), QStringLiteral("/opt/q\x01x"), QStringLiteral("/opt/q\x7fx"),
                                QStringLiteral("/opt/q") + QChar(0x85) + QStringLiteral("x"), QStringLiteral("/opt/q") + QChar(0xd800) + QStringLiteral("x")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_THROW(LoginItemManager::entryContents(path), LoginItemError);
        LoginItemManager withPath(path);
        EXPECT_THROW(withPath.registerApplication(), LoginItemError);
        EXPECT_FALSE(QFileInfo::exists(entry()));
    }
}

TEST_F(LaunchAtLoginTest, UnwritableFolderGivesThePrefixAndTheSystemText)
{
    // A file where the autostart folder should be: no entry can be made there, even as root.
    writeFile(home.path() + QStringLiteral("/autostart"), "not a folder");
    const LoginItemChangeResult result = test::runTask(service->setEnabled(true));
    ASSERT_FALSE(result.succeeded());
    EXPECT_EQ(result.failureMessage, std::string("Failed to update launch at login: ") + std::strerror(ENOTDIR));
}

TEST_F(LaunchAtLoginTest, ReadOnlyFolderGivesThePrefixAndTheSystemText)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    QDir().mkpath(home.path() + QStringLiteral("/autostart"));
    QFile::setPermissions(home.path() + QStringLiteral("/autostart"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const LoginItemChangeResult result = test::runTask(service->setEnabled(true));
    QFile::setPermissions(home.path() + QStringLiteral("/autostart"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_FALSE(result.succeeded());
    EXPECT_EQ(result.failureMessage, std::string("Failed to update launch at login: ") + std::strerror(EACCES));
}

TEST(LoginItemManager, ConfigHomeFollowsTheXdgRule)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const bool had = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    struct Case {
        const char *value;   // nullptr: unset
        QString expected;
    };
    const QString fallback = QDir::homePath() + QStringLiteral("/.config/autostart/quillby.desktop");
    const Case cases[] = {
        {"/tmp/xdg-home", QStringLiteral("/tmp/xdg-home/autostart/quillby.desktop")},
        {"", fallback},
        {"relative/path", fallback},
        {nullptr, fallback},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        if (c.value) {
            qputenv("XDG_CONFIG_HOME", c.value);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
        EXPECT_EQ(LoginItemManager().entryPath(), c.expected);
    }
    if (had) {
        qputenv("XDG_CONFIG_HOME", saved);
    } else {
        qunsetenv("XDG_CONFIG_HOME");
    }
}

TEST(LoginItemManager, ExecIsQuotedAndEscapedAsDesktopEntriesRequire)
{
    struct Case {
        QString path;
        QByteArray exec;
    };
    const Case cases[] = {
        {QStringLiteral("/usr/bin/quillby"), "Exec=\"/usr/bin/quillby\"\n"},
        {QStringLiteral("/home/a b/q"), "Exec=\"/home/a b/q\"\n"},
        // Inside quotes " ` $ \ take a backslash; then the value doubles every backslash.
        {QStringLiteral("/x/\"q\"/$HOME/`id`"), "Exec=\"/x/\\\\\"q\\\\\"/\\\\$HOME/\\\\`id\\\\`\"\n"},
        {QStringLiteral("/x/back\\slash"), "Exec=\"/x/back\\\\\\\\slash\"\n"},
        {QStringLiteral("/x/100%/q"), "Exec=\"/x/100%%/q\"\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_TRUE(LoginItemManager::entryContents(c.path).contains("\n" + c.exec)) << LoginItemManager::entryContents(c.path).constData();
    }
}

// The service's rules over a scripted system (the XDG entry never asks for approval, the
// design's login items may).
class ScriptedLoginItems final : public LoginItemManaging {
public:
    void registerApplication() override
    {
        ++registrations;
        if (failure) {
            throw LoginItemError(*failure);
        }
    }
    void unregisterApplication() override
    {
        ++unregistrations;
        if (failure) {
            throw LoginItemError(*failure);
        }
    }
    LoginItemStatus status() const override
    {
        ++statusReads;
        return reported;
    }

    LoginItemStatus reported = LoginItemStatus::notRegistered;
    std::optional<std::string> failure;
    int registrations = 0;
    int unregistrations = 0;
    mutable int statusReads = 0;
};

TEST(LoginItemSettingsService, ResultFollowsWhatTheSystemReportsBack)
{
    struct Case {
        const char *name;
        bool request;
        LoginItemStatus reported;
        LoginItemChangeResult expected;
    };
    const std::string approval = LoginItemSettingsService::kApprovalMessage;
    const Case cases[] = {
        {"on, enabled", true, LoginItemStatus::enabled, LoginItemChangeResult::success(true)},
        {"on, awaiting approval counts as on", true, LoginItemStatus::requiresApproval,
         LoginItemChangeResult::success(true)},
        {"on, still off", true, LoginItemStatus::notRegistered, LoginItemChangeResult::failure(approval)},
        {"on, not found", true, LoginItemStatus::notFound, LoginItemChangeResult::failure(approval)},
        {"off, not registered", false, LoginItemStatus::notRegistered, LoginItemChangeResult::success(false)},
        {"off, still awaiting approval", false, LoginItemStatus::requiresApproval,
         LoginItemChangeResult::failure(approval)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto items = std::make_shared<ScriptedLoginItems>();
        items->reported = c.reported;
        auto service = std::make_shared<LoginItemSettingsService>(items);
        EXPECT_EQ(test::runTask(service->setEnabled(c.request)), c.expected);
        EXPECT_EQ(items->registrations + items->unregistrations, 1);
    }
    EXPECT_EQ(LoginItemSettingsService::kApprovalMessage,
              "Allow Quillby in your desktop\u2019s startup applications settings.");

    // A change that throws gives the prefix, a space and the system's text; no status read.
    auto items = std::make_shared<ScriptedLoginItems>();
    items->failure = "Read-only file system";
    auto service = std::make_shared<LoginItemSettingsService>(items);
    EXPECT_EQ(test::runTask(service->setEnabled(true)),
              LoginItemChangeResult::failure("Failed to update launch at login: Read-only file system"));
    EXPECT_EQ(items->statusReads, 0);
}

} // namespace
} // namespace quillby
