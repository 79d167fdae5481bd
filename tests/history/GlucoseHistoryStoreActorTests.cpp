#include "HistoryTestSupport.h"
#include "insights/InsightsCollectionProgress.h"

#include "TaskRunner.h"
#include "history/GlucoseHistoryStore.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>

namespace quillby::test {
namespace {

const std::string kScopeA = "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a";

class HistoryStoreActor : public HistoryRootFixture {
protected:
    GlucoseHistoryStore store{root, legacyKeychain(), keychainFactory(), &insightsMinimumDatasetReached, files};
};

TEST_F(HistoryStoreActor, RunsCallsInOrderOffTheMainThread)
{
    std::atomic<QThread *> writer = nullptr;
    keyring->setBeforeWrite([&](const QByteArray &) { writer = QThread::currentThread(); });

    // Started without waiting: each task hands its work to the worker at once, so the batch
    // lands after the enable and the snapshot sees it.
    auto activated = store.activateAccount(kScopeA, kNow);
    auto enabled = store.enableCollection(kNow);
    auto appended = store.append({historyReading(kNow - 60)}, kNow, {kScopeA, QUuid()}, kNow);   // stale epoch
    auto snapshot = store.snapshot(kNow);

    EXPECT_EQ(runTask(std::move(activated)).configuration.accountScope, kScopeA);
    const auto enabledSnapshot = runTask(std::move(enabled));
    EXPECT_TRUE(enabledSnapshot.configuration.isEnabled);
    runTask(std::move(appended));
    EXPECT_TRUE(runTask(std::move(snapshot)).readings.empty());

    runTask(store.append({historyReading(kNow - 60)}, kNow, {kScopeA, enabledSnapshot.configuration.epoch}, kNow));
    EXPECT_EQ(runTask(store.snapshot(kNow)).readings.size(), 1u);
    ASSERT_NE(writer.load(), nullptr);
    EXPECT_NE(writer.load(), QCoreApplication::instance()->thread());
}

TEST_F(HistoryStoreActor, FailuresArriveAsHistoryErrorsWithTheirMessages)
{
    try {
        runTask(store.enableCollection(kNow));
        ADD_FAILURE() << "expected accountRequired";
    } catch (const GlucoseHistoryError &error) {
        EXPECT_EQ(error.kind, GlucoseHistoryError::Case::accountRequired);
        EXPECT_STREQ(error.what(), "Sign in to enable saved history.");
    }
    runTask(store.activateAccount(kScopeA, kNow));
    EXPECT_THROW(runTask(store.setRetentionDays(45, kNow)), GlucoseHistoryError);
    EXPECT_NO_THROW(runTask(store.prepareStorage()));
    const auto disabled = runTask(store.disableCollection(kNow));
    EXPECT_FALSE(disabled.configuration.isEnabled);
    const auto deleted = runTask(store.deleteAllHistory(kNow));
    EXPECT_EQ(deleted.configuration.collectionCutoff, kNow);
}

TEST(GlucoseHistoryErrorTexts, AreTheUserMessages)
{
    using C = GlucoseHistoryError::Case;
    const std::vector<std::pair<C, const char *>> texts = {
        {C::invalidConfiguration, "Saved history settings could not be read. History collection is paused."},
        {C::invalidRetention, "Choose either 30 or 90 days of saved history."},
        {C::accountRequired, "Sign in to enable saved history."},
        {C::unavailableKey, "The saved history encryption key is unavailable. Existing history has been preserved."},
        {C::keychainFailure, "Saved history could not access the system keyring. Try again after unlocking your keyring."},
        {C::unreadableHistory, "Saved history could not be decrypted or read. Existing files have been preserved."},
        {C::storageFailure, "Saved history could not be updated on this computer. Live monitoring is unaffected."},
        {C::deletionIncomplete,
         "History saving is off, but deletion is incomplete. Quillby will retry cleanup; you can also try deleting again."},
    };
    for (const auto &[c, text] : texts) {
        EXPECT_STREQ(GlucoseHistoryError(c).what(), text);
        EXPECT_EQ(GlucoseHistoryError(c).userMessage(), text);
    }
}

TEST(HistoryRootDirectory, IsQuillbyHistoryInTheDataFolder)
{
    const auto root = defaultHistoryRootDirectory();
    EXPECT_EQ(root.filename(), "History");
    EXPECT_EQ(root.parent_path().filename(), "Quillby");
}

} // namespace
} // namespace quillby::test
