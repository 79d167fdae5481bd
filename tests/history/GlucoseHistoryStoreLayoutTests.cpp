#include "HistoryTestSupport.h"

#include "history/HistoryDigest.h"

#include <algorithm>

namespace quillby::test {
namespace {

const std::string kScopeA = "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a";   // Dexcom us/Ann
const std::string kScopeB = "de667099198313cd0415c5c57bea5558413d620cb6efb209b565be64d37b5cf4";   // Libre ann/p1

class HistoryStoreLayout : public HistoryRootFixture {
protected:
    std::unique_ptr<GlucoseHistoryStoreCore> store = makeCore();

    GlucoseHistoryCollectionToken enabled(const std::string &scope, Date now = kNow)
    {
        store->activateAccount(scope, now);
        const auto snapshot = store->enableCollection(now);
        return {scope, snapshot.configuration.epoch};
    }
};

TEST_F(HistoryStoreLayout, WritesTheDocumentedTreeWithOwnerOnlyModes)
{
    const auto token = enabled(kScopeA);
    store->append({historyReading(kNow - 120, 110), historyReading(kNow - 60, 115)}, kNow - 5, token, kNow);

    const std::string digest = sha256Digest(kScopeA);
    EXPECT_EQ(digest, "72261e6a307572f391e00283d5ed4322460a98f4fe17ee1468689640e4a80ccc");
    const std::string dayName = std::to_string(static_cast<long long>((kNow - 60) / kDaySeconds)) + ".history";
    EXPECT_EQ(dayName, "20833.history");
    EXPECT_EQ(entries(root), (std::set<std::string>{"accounts", "manifest.json"}));
    EXPECT_EQ(entries(root / "accounts"), (std::set<std::string>{digest}));
    EXPECT_EQ(entries(folder(digest)), (std::set<std::string>{"configuration.json", dayName}));
    for (const fs::path &path : {root, root / "accounts", folder(digest)}) {
        EXPECT_EQ(mode(path), 0700u) << path;
    }
    for (const fs::path &path : {root / "manifest.json", folder(digest) / "configuration.json", folder(digest) / dayName}) {
        EXPECT_EQ(mode(path), 0600u) << path;
    }

    const nlohmann::json manifest = readJSON(root / "manifest.json");
    EXPECT_EQ(manifest, (nlohmann::json{{"schemaVersion", 1}, {"scopes", {digest}}, {"pendingDeletion", false},
                                         {"attachedScopeID", digest}}));

    const nlohmann::json configuration = readJSON(folder(digest) / "configuration.json");
    std::set<std::string> keys;
    for (const auto &item : configuration.items()) {
        keys.insert(item.key());
    }
    EXPECT_EQ(keys, (std::set<std::string>{"schemaVersion", "isEnabled", "retentionDays", "consentVersion", "accountScope",
                                           "epoch", "collectionStartedAt", "pendingDeletion", "hasPreviouslyEnabled",
                                           "collectionIntervalStart"}));
    EXPECT_EQ(configuration["accountScope"], kScopeA);
    EXPECT_EQ(configuration["epoch"], uuidText(token.epoch));
    EXPECT_EQ(configuration["consentVersion"], 1);
    EXPECT_DOUBLE_EQ(configuration["collectionStartedAt"].get<double>(), kNow - kReferenceDateOffset);
    EXPECT_DOUBLE_EQ(configuration["collectionIntervalStart"].get<double>(), kNow - kDaySeconds - kReferenceDateOffset);

    const auto key = scopeKey(digest);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->size(), 32);
    const nlohmann::json day = openDayFile(folder(digest) / dayName, *key);
    EXPECT_EQ(day["schemaVersion"], 1);
    EXPECT_EQ(day["source"], "glucose-cloud");
    EXPECT_EQ(day["accountScope"], kScopeA);
    ASSERT_EQ(day["readings"].size(), 2u);
    EXPECT_DOUBLE_EQ(day["readings"][0]["fetchedAt"].get<double>(), kNow - 5 - kReferenceDateOffset);
    EXPECT_DOUBLE_EQ(day["readings"][1]["reading"]["date"].get<double>(), kNow - 60 - kReferenceDateOffset);
    EXPECT_EQ(day["readings"][1]["reading"]["mgdL"], 115.0);
}

TEST_F(HistoryStoreLayout, DayFilesOpenOnlyUnderTheirOwnNameScopeAndLength)
{
    const auto token = enabled(kScopeA);
    store->append({historyReading(kNow - 60)}, kNow, token, kNow);
    const fs::path account = folder(sha256Digest(kScopeA));
    const fs::path day = account / "20833.history";
    const QByteArray original = readHistoryFile(day);
    const QByteArray key = *scopeKey(sha256Digest(kScopeA));

    struct Case {
        const char *name;
        std::function<void()> damage;
    };
    const std::vector<Case> cases = {
        {"copied to another day's name", [&] { writeBytes(account / "20832.history", original); }},
        {"short file", [&] { writeBytes(day, original.left(27)); }},
        {"flipped byte", [&] {
             QByteArray changed = original;
             changed[20] = static_cast<char>(changed[20] ^ 0x40);
             writeBytes(day, changed);
         }},
        {"foreign scope", [&] {
             GlucoseHistoryDayFile foreign;
             foreign.accountScope = kScopeB;
             foreign.readings = {{historyReading(kNow - 60), kNow}};
             writeBytes(day, sealHistory(history_json::encode(foreign.toJSON()), key, historyAssociatedData(day)));
         }},
        {"unknown source", [&] {
             GlucoseHistoryDayFile other;
             other.source = "somewhere-else";
             other.accountScope = kScopeA;
             writeBytes(day, sealHistory(history_json::encode(other.toJSON()), key, historyAssociatedData(day)));
         }},
        {"not JSON", [&] { writeBytes(day, sealHistory(QByteArray("not json"), key, historyAssociatedData(day))); }},
    };
    for (const auto &c : cases) {
        c.damage();
        const auto before = entries(account);
        auto fresh = makeCore();
        EXPECT_HISTORY_ERROR(fresh->activateAccount(kScopeA, kNow), unreadableHistory) << c.name;
        EXPECT_EQ(entries(account), before) << c.name;   // nothing deleted or repaired
        EXPECT_FALSE(fresh->activeScope()) << c.name;
        fs::remove(account / "20832.history");
        writeBytes(day, original);
    }

    // A legacy day file says "dexcom-share" and is accepted.
    GlucoseHistoryDayFile legacySource;
    legacySource.source = "dexcom-share";
    legacySource.accountScope = kScopeA;
    legacySource.readings = {{historyReading(kNow - 60), kNow}};
    writeBytes(day, sealHistory(history_json::encode(legacySource.toJSON()), key, historyAssociatedData(day)));
    EXPECT_EQ(makeCore()->activateAccount(kScopeA, kNow).readings.size(), 1u);
}

// Day files written elsewhere (an older version, the legacy move) may keep a reading in another
// day's file. Rewriting that file must not drop the reading: it moves to its own day's file.
TEST_F(HistoryStoreLayout, AReadingKeptInAnotherDaysFileIsMovedNotLost)
{
    enabled(kScopeA);
    const std::string digest = sha256Digest(kScopeA);
    const QByteArray key = *scopeKey(digest);
    const auto seal = [&](const std::string &name, GlucoseHistoryStoredReadings readings) {
        GlucoseHistoryDayFile day;
        day.accountScope = kScopeA;
        day.readings = std::move(readings);
        const fs::path path = folder(digest) / name;
        writeBytes(path, sealHistory(history_json::encode(day.toJSON()), key, historyAssociatedData(path)));
    };
    const auto datesOf = [](const GlucoseHistorySnapshot &snapshot) {
        std::vector<Date> dates;
        for (const auto &reading : snapshot.readings) {
            dates.push_back(reading.date);
        }
        return dates;
    };
    const Date yesterday = kNow - 20 * 3600;   // day 20832; kNow is 08:00 UTC of day 20833
    const Date misplaced = kNow - 3600;        // day 20833, but kept in yesterday's file

    struct Case {
        const char *name;
        bool repeatInYesterdaysFile;   // a repeat within 30 s that merging removes
        GlucoseReadings batch;         // what the next poll brings
    };
    const std::vector<Case> cases = {
        {"append to the file holding it", false, {historyReading(yesterday + 600, 150)}},
        {"append to its own day", false, {historyReading(kNow - 60, 160)}},
        {"snapshot only", false, {}},
        {"merging rewrites the file holding it", true, {}},
    };
    for (const auto &c : cases) {
        for (const auto &name : entries(folder(digest))) {
            if (name.ends_with(".history")) {
                fs::remove(folder(digest) / name);
            }
        }
        GlucoseHistoryStoredReadings yesterdays = {{historyReading(yesterday, 110), kNow - 5},
                                                   {historyReading(misplaced, 120), kNow - 5}};
        if (c.repeatInYesterdaysFile) {
            yesterdays.push_back({historyReading(yesterday + 10, 110), kNow - 5});
        }
        seal("20832.history", yesterdays);
        seal("20833.history", {{historyReading(kNow - 1800, 130), kNow - 5}});
        auto store = makeCore();
        store->activateAccount(kScopeA, kNow);
        if (!c.batch.empty()) {
            store->append(c.batch, kNow, {kScopeA, store->activeAccount()->configuration()->epoch}, kNow);
        }
        std::vector<Date> expected = {yesterday, misplaced, kNow - 1800};
        for (const auto &reading : c.batch) {
            expected.push_back(reading.date);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(datesOf(store->snapshot(kNow)), expected) << c.name;
        EXPECT_EQ(datesOf(makeCore()->activateAccount(kScopeA, kNow)), expected) << c.name;   // as on disk
    }
}

TEST_F(HistoryStoreLayout, LeftoverTemporaryFilesDisappearAtTheNextOperation)
{
    const auto token = enabled(kScopeA);
    const fs::path account = folder(sha256Digest(kScopeA));
    writeBytes(root / ".0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.tmp", QByteArray("partial"));
    writeBytes(account / ".11111111-2222-3333-4444-555555555555.tmp", QByteArray("partial"));
    store->prepareStorage();
    EXPECT_EQ(entries(root), (std::set<std::string>{"accounts", "manifest.json"}));
    EXPECT_EQ(entries(account).count(".11111111-2222-3333-4444-555555555555.tmp"), 1u);
    store->append({historyReading(kNow - 60)}, kNow, token, kNow);
    EXPECT_EQ(entries(account), (std::set<std::string>{"configuration.json", "20833.history"}));
}

TEST_F(HistoryStoreLayout, MissingOrInvalidManifestStopsEverythingButDeleteAll)
{
    enabled(kScopeA);
    fs::remove(root / "manifest.json");
    auto fresh = makeCore();
    EXPECT_HISTORY_ERROR(fresh->snapshot(kNow), invalidConfiguration);
    EXPECT_HISTORY_ERROR(fresh->activateAccount(kScopeA, kNow), invalidConfiguration);

    writeBytes(root / "manifest.json", QByteArray("{\"schemaVersion\":1,\"scopes\":[\"ABC\"],\"pendingDeletion\":false}"));
    fresh = makeCore();
    EXPECT_HISTORY_ERROR(fresh->snapshot(kNow), invalidConfiguration);
}

TEST_F(HistoryStoreLayout, FolderWithDayFilesButNoConfigurationIsUnreadableAndGetsNoKey)
{
    const auto token = enabled(kScopeA);
    store->append({historyReading(kNow - 60)}, kNow, token, kNow);
    const std::string digest = sha256Digest(kScopeA);
    fs::remove(folder(digest) / "configuration.json");
    keyring->removeItem(QStringLiteral("Quillby.history"), QString::fromStdString("encryption-key-v2-" + digest));
    auto fresh = makeCore();
    EXPECT_HISTORY_ERROR(fresh->activateAccount(kScopeA, kNow), invalidConfiguration);
    EXPECT_FALSE(scopeKey(digest));
}

TEST_F(HistoryStoreLayout, KeyProblemsAreReportedNotPapered)
{
    const auto token = enabled(kScopeA);
    store->append({historyReading(kNow - 60)}, kNow, token, kNow);
    const std::string digest = sha256Digest(kScopeA);
    const QString account = QString::fromStdString("encryption-key-v2-" + digest);

    keyring->setItem(QStringLiteral("Quillby.history"), account, QByteArray(16, 'k'));
    EXPECT_HISTORY_ERROR(makeCore()->activateAccount(kScopeA, kNow), unavailableKey);

    keyring->removeItem(QStringLiteral("Quillby.history"), account);
    EXPECT_HISTORY_ERROR(makeCore()->activateAccount(kScopeA, kNow), unavailableKey);   // consented before
    EXPECT_FALSE(scopeKey(digest));                                                      // no new key made

    keyring->setReadFailure(keychain_status::authFailed);
    try {
        makeCore()->activateAccount(kScopeA, kNow);
        ADD_FAILURE() << "expected a keyring failure";
    } catch (const GlucoseHistoryError &error) {
        EXPECT_EQ(error.kind, GlucoseHistoryError::Case::keychainFailure);
        EXPECT_STREQ(error.what(),
                     "Saved history could not access the system keyring. Try again after unlocking your keyring.");
    }
}

TEST_F(HistoryStoreLayout, AFailedConfigurationWriteIsRetriedByTheNextOperation)
{
    store->activateAccount(kScopeA, kNow);
    const fs::path configuration = folder(sha256Digest(kScopeA)) / "configuration.json";
    files->failWrite = [&](const fs::path &target) { return target == configuration; };
    EXPECT_HISTORY_ERROR(store->enableCollection(kNow), storageFailure);
    EXPECT_FALSE(readJSON(configuration)["isEnabled"].get<bool>());
    ASSERT_TRUE(store->activeAccount());
    EXPECT_TRUE(store->activeAccount()->needsConfigurationWrite());

    files->failWrite = [](const fs::path &) { return false; };
    const auto snapshot = store->snapshot(kNow);
    EXPECT_TRUE(snapshot.configuration.isEnabled);
    EXPECT_TRUE(readJSON(configuration)["isEnabled"].get<bool>());
}

TEST_F(HistoryStoreLayout, AFailedManifestWriteIsRetriedByTheNextOperation)
{
    files->failWrite = [&](const fs::path &target) { return target.filename() == "manifest.json"; };
    EXPECT_HISTORY_ERROR(store->activateAccount(kScopeA, kNow), storageFailure);
    EXPECT_TRUE(store->needsManifestWrite());
    EXPECT_FALSE(store->activeScope());
    files->failWrite = [](const fs::path &) { return false; };
    store->prepareStorage();
    EXPECT_FALSE(store->needsManifestWrite());
    EXPECT_EQ(readJSON(root / "manifest.json")["scopes"], nlohmann::json::array({sha256Digest(kScopeA)}));
}

} // namespace
} // namespace quillby::test
