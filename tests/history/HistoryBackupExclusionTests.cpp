#include "HistoryTestSupport.h"
#include "WaitUntil.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <fstream>

namespace quillby::test {
namespace {

// The saved history is marked the way Linux backup tools honour, from the moment its folder
// exists; a removed or damaged mark comes back. Real tar and restic runs leave it out while they
// keep the rest of the home folder.
class HistoryBackupExclusion : public HistoryRootFixture {
protected:
    fs::path home = fs::path(temp.path().toStdString());

    void fillHistory()
    {
        auto store = makeCore();
        store->activateAccount("dexcom:person@example.com", kNow);
        const auto snapshot = store->enableCollection(kNow);
        store->append({historyReading(kNow - 120), historyReading(kNow - 60)}, kNow,
                      {"dexcom:person@example.com", snapshot.configuration.epoch}, kNow);
        std::ofstream(home / "notes.txt") << "kept\n";
    }
    static std::string firstLine(const fs::path &path)
    {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        return line;
    }
    void expectMarked() const
    {
        EXPECT_EQ(firstLine(root / "CACHEDIR.TAG"), "Signature: 8a477f597d28d172789f06886806bc55");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root / ".deja-dup-ignore")));
    }
    // Runs a program to its end; its standard output, or nothing when it failed.
    static std::optional<QString> run(const QString &program, const QStringList &arguments,
                                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForFinished(scaledTimeoutMs(120'000)) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            ADD_FAILURE() << program.toStdString() << ": " << process.readAllStandardError().toStdString();
            return std::nullopt;
        }
        return QString::fromUtf8(process.readAllStandardOutput());
    }
    // What a backup listing holds of the history folder, apart from the folder and its tag.
    static QStringList historyContentsIn(const QString &listing)
    {
        QStringList found;
        for (const QString &line : listing.split(u'\n', Qt::SkipEmptyParts)) {
            const qsizetype at = line.indexOf(QStringLiteral("Quillby/History/"));
            if (at < 0) {
                continue;
            }
            const QString below = line.mid(at + QStringLiteral("Quillby/History/").size());
            if (!below.isEmpty() && below != QStringLiteral("CACHEDIR.TAG")) {
                found << below;
            }
        }
        return found;
    }
};

TEST_F(HistoryBackupExclusion, FolderIsMarkedWhenMadeAndMarksAreRestored)
{
    fillHistory();
    expectMarked();

    fs::remove(root / "CACHEDIR.TAG");
    fs::remove(root / ".deja-dup-ignore");
    makeCore()->prepareStorage();
    expectMarked();

    std::ofstream(root / "CACHEDIR.TAG", std::ios::trunc) << "Signature: damaged";
    makeCore()->prepareStorage();
    expectMarked();

    // Deleting all history keeps the folder marked.
    makeCore()->deleteAllHistory(kNow);
    expectMarked();
}

TEST_F(HistoryBackupExclusion, TarAndResticLeaveTheHistoryOut)
{
    fillHistory();
    ASSERT_FALSE(entries(root / "accounts").empty());

    const QString archive = QString::fromStdString((home / "backup.tar").string());
    ASSERT_TRUE(run(QStringLiteral("tar"), {QStringLiteral("--exclude-caches"), QStringLiteral("--exclude=./backup.tar"),
                                            QStringLiteral("-cf"), archive, QStringLiteral("-C"), temp.path(), QStringLiteral(".")}));
    const auto tarListing = run(QStringLiteral("tar"), {QStringLiteral("-tf"), archive});
    ASSERT_TRUE(tarListing);
    EXPECT_TRUE(tarListing->contains(QStringLiteral("./notes.txt")));
    EXPECT_TRUE(tarListing->contains(QStringLiteral("Quillby/History/")));
    EXPECT_EQ(historyContentsIn(*tarListing), QStringList{});
    fs::remove(home / "backup.tar");

    if (QStandardPaths::findExecutable(QStringLiteral("restic")).isEmpty()) {
        GTEST_SKIP() << "restic is not installed";
    }
    QTemporaryDir repository;
    ASSERT_TRUE(repository.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RESTIC_REPOSITORY"), repository.filePath(QStringLiteral("repo")));
    environment.insert(QStringLiteral("RESTIC_PASSWORD"), QStringLiteral("test"));
    environment.insert(QStringLiteral("RESTIC_CACHE_DIR"), repository.filePath(QStringLiteral("cache")));
    ASSERT_TRUE(run(QStringLiteral("restic"), {QStringLiteral("init"), QStringLiteral("--quiet")}, environment));
    ASSERT_TRUE(run(QStringLiteral("restic"),
                    {QStringLiteral("backup"), QStringLiteral("--quiet"), QStringLiteral("--exclude-caches"), temp.path()},
                    environment));
    const auto resticListing = run(QStringLiteral("restic"), {QStringLiteral("ls"), QStringLiteral("latest")}, environment);
    ASSERT_TRUE(resticListing);
    EXPECT_TRUE(resticListing->contains(QStringLiteral("/notes.txt")));
    EXPECT_EQ(historyContentsIn(*resticListing), QStringList{});
}

} // namespace
} // namespace quillby::test
