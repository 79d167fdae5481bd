#include "HistoryTestSupport.h"

#include "history/HistoryDigest.h"

namespace quillby::test {
namespace {

const std::string kScopeA = "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a";
const std::string kScopeB = "de667099198313cd0415c5c57bea5558413d620cb6efb209b565be64d37b5cf4";

class HistoryDeletion : public HistoryRootFixture {
protected:
    std::unique_ptr<GlucoseHistoryStoreCore> store = makeCore();

    void fillAccount(const std::string &scope, Date now)
    {
        store->activateAccount(scope, now);
        const auto snapshot = store->enableCollection(now);
        store->append({historyReading(now - 120), historyReading(now - 60)}, now, {scope, snapshot.configuration.epoch}, now);
    }
};

TEST_F(HistoryDeletion, DeletesEveryAccountAndKeyAndNeverSavesOlderReadingsAgain)
{
    fillAccount(kScopeB, kNow - 600);
    fillAccount(kScopeA, kNow - 300);
    keyring->setItem(QStringLiteral("Quillby.history"), QStringLiteral("encryption-key-v1"), QByteArray(32, 'l'));
    writeBytes(root / "stray.txt", QByteArray("x"));

    const auto snapshot = store->deleteAllHistory(kNow);
    EXPECT_TRUE(snapshot.readings.empty());
    EXPECT_FALSE(snapshot.configuration.isEnabled);
    EXPECT_FALSE(snapshot.configuration.consentVersion);
    EXPECT_TRUE(snapshot.configuration.hasPreviouslyEnabled);
    EXPECT_EQ(snapshot.configuration.collectionCutoff, kNow);
    EXPECT_EQ(snapshot.configuration.accountScope, kScopeA);   // still the active account

    EXPECT_EQ(keyring->itemCount(), 0u);
    EXPECT_EQ(entries(root / "accounts"), (std::set<std::string>{sha256Digest(kScopeA)}));   // fresh folder
    EXPECT_EQ(entries(folder(sha256Digest(kScopeA))), (std::set<std::string>{"configuration.json"}));
    const auto manifest = readJSON(root / "manifest.json");
    EXPECT_FALSE(manifest["pendingDeletion"].get<bool>());
    EXPECT_DOUBLE_EQ(manifest["collectionCutoff"].get<double>(), kNow - kReferenceDateOffset);
    EXPECT_EQ(manifest["scopes"], nlohmann::json::array({sha256Digest(kScopeA)}));

    // Enabling afterwards starts at the moment of enabling (no backfill), and a provider that
    // still returns readings from before the deletion cannot bring them back.
    const auto enabled = store->enableCollection(kNow + 60);
    EXPECT_EQ(enabled.configuration.collectionIntervalStart, kNow + 60);
    const GlucoseHistoryCollectionToken token{kScopeA, enabled.configuration.epoch};
    store->append({historyReading(kNow - 60), historyReading(kNow + 60)}, kNow + 60, token, kNow + 60);
    EXPECT_EQ(store->snapshot(kNow + 60).readings.size(), 1u);

    // Another account attached later takes the cutoff over too.
    const auto other = store->activateAccount(kScopeB, kNow + 120);
    EXPECT_EQ(other.configuration.collectionCutoff, kNow);
    EXPECT_TRUE(other.configuration.hasPreviouslyEnabled);
}

TEST_F(HistoryDeletion, AFailingKeyringLeavesTheDeletionPendingUntilARetrySucceeds)
{
    fillAccount(kScopeA, kNow - 300);
    const std::string digest = sha256Digest(kScopeA);
    keyring->setRemoveFailure(keychain_status::locked);

    EXPECT_HISTORY_ERROR(store->deleteAllHistory(kNow), deletionIncomplete);
    EXPECT_TRUE(readJSON(root / "manifest.json")["pendingDeletion"].get<bool>());
    EXPECT_FALSE(fs::exists(folder(digest)));   // files went first; the key is what is left
    EXPECT_TRUE(scopeKey(digest));

    // Every later operation finishes the purge first, and fails while it cannot.
    EXPECT_HISTORY_ERROR(store->snapshot(kNow), deletionIncomplete);
    auto restarted = makeCore();
    EXPECT_HISTORY_ERROR(restarted->activateAccount(kScopeA, kNow), deletionIncomplete);
    EXPECT_FALSE(restarted->activeScope());

    keyring->setRemoveFailure(std::nullopt);
    const auto snapshot = store->snapshot(kNow + 10);
    EXPECT_TRUE(snapshot.readings.empty());
    EXPECT_EQ(snapshot.configuration.collectionCutoff, kNow);
    EXPECT_FALSE(scopeKey(digest));
    EXPECT_FALSE(readJSON(root / "manifest.json")["pendingDeletion"].get<bool>());
}

TEST_F(HistoryDeletion, AFailedManifestWriteDeletesNothing)
{
    fillAccount(kScopeA, kNow - 300);
    files->failWrite = [](const fs::path &target) { return target.filename() == "manifest.json"; };
    EXPECT_HISTORY_ERROR(store->deleteAllHistory(kNow), storageFailure);
    EXPECT_EQ(entries(folder(sha256Digest(kScopeA))).size(), 2u);
    EXPECT_TRUE(scopeKey(sha256Digest(kScopeA)));
}

TEST_F(HistoryDeletion, RecoversFromAnUnreadableManifestAndFoldersItLost)
{
    fillAccount(kScopeA, kNow - 300);
    fillAccount(kScopeB, kNow - 200);
    writeBytes(root / "manifest.json", QByteArray("{ not json"));
    fs::create_directories(root / "accounts" / std::string(64, '9'));   // a folder no manifest lists

    auto restarted = makeCore();
    EXPECT_HISTORY_ERROR(restarted->snapshot(kNow), invalidConfiguration);
    const auto snapshot = restarted->deleteAllHistory(kNow);
    EXPECT_FALSE(snapshot.configuration.accountScope);   // no active account in this store
    EXPECT_EQ(snapshot.configuration.collectionCutoff, kNow);
    EXPECT_EQ(entries(root), (std::set<std::string>{"manifest.json"}));
    EXPECT_EQ(keyring->itemCount(), 0u);
    const auto manifest = GlucoseHistoryManifest::fromJSON(readJSON(root / "manifest.json"));
    EXPECT_TRUE(manifest.isAcceptable());
    EXPECT_TRUE(manifest.scopes.empty());
    EXPECT_EQ(manifest.collectionCutoff, kNow);
    EXPECT_NO_THROW(restarted->snapshot(kNow));
}

TEST_F(HistoryDeletion, TheCutoffOnlyMovesForward)
{
    fillAccount(kScopeA, kNow - 300);
    store->deleteAllHistory(kNow);
    const auto snapshot = store->deleteAllHistory(kNow - 1000);   // the clock went back
    EXPECT_EQ(snapshot.configuration.collectionCutoff, kNow);
}

} // namespace
} // namespace quillby::test
