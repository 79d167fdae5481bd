#pragma once

#include "FakeKeychainItemStore.h"
#include "HistoryKeyringItems.h"
#include "insights/InsightsCollectionProgress.h"
#include "core/GlucoseReading.h"
#include "history/GlucoseHistoryError.h"
#include "history/GlucoseHistoryRecords.h"
#include "history/GlucoseHistoryStoreCore.h"
#include "history/HistorySealing.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>

namespace quillby::test {

namespace fs = std::filesystem;

inline constexpr Date kNow = 1'800'000'000;   // 2027-01-15 08:00 UTC
inline constexpr double kDaySeconds = 86400;

inline GlucoseReading historyReading(Date date, double mgdL = 120, const std::string &trend = "Flat",
                                     double sampleDuration = 60)
{
    return GlucoseReading(mgdL, trend, date, sampleDuration, GlucoseProvider::libreLinkUp);
}

// Fails with the history error's kind, or reports which kind was thrown.
template <typename Work>
std::optional<GlucoseHistoryError::Case> historyErrorOf(Work &&work)
{
    try {
        work();
    } catch (const GlucoseHistoryError &error) {
        return error.kind;
    }
    return std::nullopt;
}

#define EXPECT_HISTORY_ERROR(expression, errorCase) \
    EXPECT_EQ(::quillby::test::historyErrorOf([&] { (void)(expression); }), ::quillby::GlucoseHistoryError::Case::errorCase)

// File access that fails the writes (and folder flushes) the test chooses, over the real one.
class FailingFileAccess final : public GlucoseHistoryFileAccess {
public:
    std::function<bool(const fs::path &)> failWrite = [](const fs::path &) { return false; };
    int writes = 0;

    void writeAtomically(const QByteArray &bytes, const fs::path &target) override
    {
        ++writes;
        if (failWrite(target)) {
            throw GlucoseHistoryError::storageFailure();
        }
        local_.writeAtomically(bytes, target);
    }
    QByteArray readFile(const fs::path &path) override { return local_.readFile(path); }
    std::optional<HistoryFileIdentity> fileIdentity(const fs::path &path) override { return local_.fileIdentity(path); }
    std::optional<HistoryFileRead> readFileUnlessKnown(const fs::path &path, HistoryReadBuffer &buffer,
                                                       const std::function<bool(const HistoryFileIdentity &)> &known) override
    {
        return local_.readFileUnlessKnown(path, buffer, known);
    }
    void removeItemIfExists(const fs::path &path) override { local_.removeItemIfExists(path); }
    void synchronizeDirectory(const fs::path &directory) override { local_.synchronizeDirectory(directory); }
    void removeItem(const fs::path &path) noexcept override { local_.removeItem(path); }
    void excludeFromBackup(const fs::path &directory) noexcept override { local_.excludeFromBackup(directory); }

private:
    LocalGlucoseHistoryFileAccess local_;
};

// A temporary history root with an in-memory keyring.
class HistoryRootFixture : public ::testing::Test {
protected:
    QTemporaryDir temp;
    fs::path root = fs::path(temp.path().toStdString()) / "Quillby" / "History";
    std::shared_ptr<FakeKeyring> keyring = std::make_shared<FakeKeyring>();
    std::shared_ptr<FailingFileAccess> files = std::make_shared<FailingFileAccess>();

    std::shared_ptr<FakeKeychainItemStore> legacyKeychain() { return legacyHistoryKeychain(keyring); }
    HistoryScopeKeychainFactory keychainFactory() { return historyKeychainFactory(keyring); }
    std::unique_ptr<GlucoseHistoryStoreCore> makeCore()
    {
        return std::make_unique<GlucoseHistoryStoreCore>(root, legacyKeychain(), keychainFactory(),
                                                         &insightsMinimumDatasetReached, files);
    }
    std::optional<QByteArray> scopeKey(const std::string &digest) const
    {
        return keyring->item(QStringLiteral("Quillby.history"), QString::fromStdString("encryption-key-v2-" + digest));
    }
    std::optional<QByteArray> legacyKey() const
    {
        return keyring->item(QStringLiteral("Quillby.history"), QStringLiteral("encryption-key-v1"));
    }
    fs::path folder(const std::string &digest) const { return root / "accounts" / digest; }

    // The folder's entries apart from the backup marks every history folder carries.
    static std::set<std::string> entries(const fs::path &directory)
    {
        std::set<std::string> names;
        if (fs::exists(directory)) {
            for (const auto &entry : fs::directory_iterator(directory)) {
                const std::string name = entry.path().filename().string();
                if (name != backup_exclusion::cacheDirectoryTag && name != backup_exclusion::dejaDupIgnore) {
                    names.insert(name);
                }
            }
        }
        return names;
    }
    static unsigned mode(const fs::path &path)
    {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 07777;
    }
    static nlohmann::json readJSON(const fs::path &path) { return history_json::decode(readHistoryFile(path)); }
    static void writeBytes(const fs::path &path, const QByteArray &bytes)
    {
        fs::create_directories(path.parent_path());
        LocalGlucoseHistoryFileAccess().writeAtomically(bytes, path);
    }
    // The plaintext JSON of a sealed day file.
    static nlohmann::json openDayFile(const fs::path &path, const QByteArray &key)
    {
        const auto plaintext = openHistory(readHistoryFile(path), key, historyAssociatedData(path));
        if (!plaintext) {
            ADD_FAILURE() << "day file did not open: " << path;
            return {};
        }
        return history_json::decode(*plaintext);
    }
};

} // namespace quillby::test
