#include "HistoryTestSupport.h"
#include "insights/InsightsCollectionProgress.h"

#include "history/GlucoseHistoryAccount.h"
#include "history/HistoryDigest.h"

namespace quillby::test {
namespace {

const std::string kScope = "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a";

class LegacyMigration : public HistoryRootFixture {
protected:
    const std::string digest = sha256Digest(kScope);
    const QByteArray legacyKeyBytes = QByteArray(32, 'L');

    GlucoseHistoryConfiguration legacyConfiguration()
    {
        GlucoseHistoryConfiguration configuration;
        configuration.isEnabled = true;
        configuration.consentVersion = 1;
        configuration.accountScope = kScope;
        configuration.hasPreviouslyEnabled = true;
        configuration.collectionStartedAt = kNow - 5 * kDaySeconds;
        configuration.collectionIntervalStart = kNow - 5 * kDaySeconds;
        return configuration;
    }
    // The older layout: configuration and two sealed days in the root, key "encryption-key-v1".
    void writeLegacyLayout(GlucoseHistoryConfiguration configuration, bool withDays = true)
    {
        auto key = legacyKeychain();
        GlucoseHistoryAccount legacy(root, key, files, &insightsMinimumDatasetReached);
        legacy.writeConfiguration(configuration);
        if (withDays) {
            key->setStoredBytes(legacyKeyBytes);
            legacy.writeDayFiles({{historyReading(kNow - 2 * kDaySeconds, 140), kNow - 2 * kDaySeconds},
                                  {historyReading(kNow - 60, 150), kNow}},
                                 {}, legacyKeyBytes);
        }
    }
    std::set<std::string> rootDayFiles()
    {
        std::set<std::string> names;
        for (const auto &name : entries(root)) {
            if (name.ends_with(".history")) {
                names.insert(name);
            }
        }
        return names;
    }
};

TEST_F(LegacyMigration, MovesTheOlderLayoutIntoTheScopesFolder)
{
    writeLegacyLayout(legacyConfiguration());
    const auto legacyDays = rootDayFiles();
    ASSERT_EQ(legacyDays.size(), 2u);
    std::map<std::string, QByteArray> legacyBytes;
    for (const auto &name : legacyDays) {
        legacyBytes[name] = readHistoryFile(root / name);
    }

    auto store = makeCore();
    const auto snapshot = store->activateAccount(kScope, kNow);
    ASSERT_EQ(snapshot.readings.size(), 2u);
    EXPECT_EQ(snapshot.readings[1].mgdL, 150);
    EXPECT_TRUE(snapshot.configuration.isEnabled);

    EXPECT_EQ(entries(root), (std::set<std::string>{"accounts", "manifest.json"}));
    for (const auto &[name, bytes] : legacyBytes) {
        EXPECT_EQ(readHistoryFile(folder(digest) / name), bytes) << name;   // copied byte for byte
    }
    EXPECT_EQ(scopeKey(digest), legacyKeyBytes);
    EXPECT_FALSE(legacyKey());
    const auto manifest = readJSON(root / "manifest.json");
    EXPECT_FALSE(manifest.contains("legacyMigrationScope"));
    EXPECT_EQ(manifest["scopes"], nlohmann::json::array({digest}));
}

TEST_F(LegacyMigration, LeavesAnEmptyRootOrAManifestAlone)
{
    auto store = makeCore();
    store->activateAccount(std::nullopt, kNow);
    store->migrateLegacyLayoutIfNeeded();
    EXPECT_FALSE(fs::exists(root));

    GlucoseHistoryManifest manifest;
    writeBytes(root / "manifest.json", history_json::encode(manifest.toJSON()));
    const auto before = readHistoryFile(root / "manifest.json");
    auto again = makeCore();
    again->loadManifest();
    again->migrateLegacyLayoutIfNeeded();
    EXPECT_EQ(entries(root), (std::set<std::string>{"manifest.json"}));
    EXPECT_EQ(readHistoryFile(root / "manifest.json"), before);
    EXPECT_EQ(files->writes, 0);
}

TEST_F(LegacyMigration, RefusesUnacceptableLegacySettingsOnEveryRunAndKeepsTheFiles)
{
    writeLegacyLayout(legacyConfiguration());
    nlohmann::json configuration = readJSON(root / "configuration.json");
    configuration["retentionDays"] = 60;
    writeBytes(root / "configuration.json", QByteArray::fromStdString(configuration.dump()));
    for (int run = 0; run < 2; ++run) {
        auto store = makeCore();
        EXPECT_HISTORY_ERROR(store->activateAccount(kScope, kNow), invalidConfiguration);
        EXPECT_EQ(rootDayFiles().size(), 2u);
        EXPECT_TRUE(fs::exists(root / "configuration.json"));
        EXPECT_TRUE(legacyKey());
    }

    // Day files without their configuration are refused too.
    fs::remove(root / "configuration.json");
    EXPECT_HISTORY_ERROR(makeCore()->activateAccount(kScope, kNow), invalidConfiguration);
    EXPECT_EQ(rootDayFiles().size(), 2u);
}

TEST_F(LegacyMigration, ARepeatedRunAfterACrashBeforeTheMarkFinishesTheMove)
{
    writeLegacyLayout(legacyConfiguration());
    auto crashed = makeCore();
    crashed->loadManifest();
    // The copying steps ran, then the process died before the mark was written.
    crashed->registerScope(digest);
    crashed->migrateLegacyKey(digest, true);
    crashed->copyLegacyDayFiles(crashed->listHistoryFiles(root), root / "configuration.json", folder(digest));
    ASSERT_TRUE(fs::exists(root / "configuration.json"));

    auto store = makeCore();
    const auto snapshot = store->activateAccount(kScope, kNow);
    EXPECT_EQ(snapshot.readings.size(), 2u);
    EXPECT_EQ(entries(root), (std::set<std::string>{"accounts", "manifest.json"}));
    EXPECT_EQ(scopeKey(digest), legacyKeyBytes);
    EXPECT_EQ(keyring->itemCount(), 1u);   // one key item, the scope's
}

TEST_F(LegacyMigration, AMarkWithNothingLeftOnlyClearsTheMark)
{
    GlucoseHistoryManifest manifest;
    manifest.legacyMigrationScope = digest;
    writeBytes(root / "manifest.json", history_json::encode(manifest.toJSON()));
    auto store = makeCore();
    store->loadManifest();
    store->migrateLegacyLayoutIfNeeded();
    EXPECT_FALSE(readJSON(root / "manifest.json").contains("legacyMigrationScope"));
    EXPECT_EQ(entries(root), (std::set<std::string>{"manifest.json"}));
}

TEST_F(LegacyMigration, APendingDeletionCarriesItsCutoffAndCreatesNoFolder)
{
    GlucoseHistoryConfiguration configuration = legacyConfiguration();
    configuration.pendingDeletion = true;
    configuration.collectionCutoff = kNow - 100;
    writeLegacyLayout(configuration);
    GlucoseHistoryManifest manifest;
    manifest.collectionCutoff = kNow - 1000;
    writeBytes(root / "manifest.json", history_json::encode(manifest.toJSON()));

    auto store = makeCore();
    store->loadManifest();
    store->migrateLegacyLayoutIfNeeded();
    EXPECT_EQ(entries(root), (std::set<std::string>{"manifest.json"}));
    EXPECT_FALSE(legacyKey());
    EXPECT_EQ(GlucoseHistoryManifest::fromJSON(readJSON(root / "manifest.json")).collectionCutoff, kNow - 100);
}

TEST_F(LegacyMigration, ADisabledAccountWithoutConsentOrDaysMovesItsSettingsOnly)
{
    GlucoseHistoryConfiguration configuration;
    configuration.accountScope = kScope;
    writeLegacyLayout(configuration, false);
    ASSERT_FALSE(legacyKey());

    auto store = makeCore();
    store->loadManifest();
    store->migrateLegacyLayoutIfNeeded();
    EXPECT_EQ(entries(folder(digest)), (std::set<std::string>{"configuration.json"}));
    EXPECT_FALSE(scopeKey(digest));
    EXPECT_FALSE(fs::exists(root / "configuration.json"));
}

TEST_F(LegacyMigration, NeverWritesOverADifferentScopeKeyOrUnknownDays)
{
    writeLegacyLayout(legacyConfiguration());
    keyring->setItem(QStringLiteral("Quillby.history"), QString::fromStdString("encryption-key-v2-" + digest),
                     QByteArray(32, 'X'));
    EXPECT_HISTORY_ERROR(makeCore()->activateAccount(kScope, kNow), unavailableKey);
    EXPECT_EQ(scopeKey(digest), QByteArray(32, 'X'));
    EXPECT_EQ(rootDayFiles().size(), 2u);

    keyring->removeItem(QStringLiteral("Quillby.history"), QString::fromStdString("encryption-key-v2-" + digest));
    writeBytes(folder(digest) / "12345.history", QByteArray(40, 'z'));
    EXPECT_HISTORY_ERROR(makeCore()->activateAccount(kScope, kNow), unreadableHistory);
    EXPECT_EQ(rootDayFiles().size(), 2u);
    EXPECT_TRUE(legacyKey());

    keyring->setReadFailure(keychain_status::locked);
    EXPECT_HISTORY_ERROR(makeCore()->activateAccount(kScope, kNow), keychainFailure);
}

TEST_F(LegacyMigration, InactiveFoldersAreNotPrunedWhileTheOldLayoutWaits)
{
    const std::string other = "de667099198313cd0415c5c57bea5558413d620cb6efb209b565be64d37b5cf4";
    const Date then = kNow - 100 * kDaySeconds;
    auto store = makeCore();
    store->activateAccount(other, then);
    const auto enabled = store->enableCollection(then);
    store->append({historyReading(then)}, then, {other, enabled.configuration.epoch}, then);
    store->activateAccount(std::nullopt, then);

    GlucoseHistoryConfiguration configuration = legacyConfiguration();
    configuration.retentionDays = 60;   // an old layout that stays refused
    writeBytes(root / "configuration.json", history_json::encode(configuration.toJSON()));
    store->snapshot(kNow);   // 100 days later: the reading would be past retention
    const auto names = entries(folder(sha256Digest(other)));
    EXPECT_EQ(names.count(historyDayFileName(*historyDayNumber(then))), 1u);

    fs::remove(root / "configuration.json");
    store->snapshot(kNow);
    EXPECT_EQ(entries(folder(sha256Digest(other))).count(historyDayFileName(*historyDayNumber(then))), 0u);
}

} // namespace
} // namespace quillby::test
