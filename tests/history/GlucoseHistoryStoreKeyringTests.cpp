#include "HistoryTestSupport.h"
#include "insights/InsightsCollectionProgress.h"

#include "TaskRunner.h"
#include "core/KeychainItemStore.h"
#include "history/GlucoseHistoryStore.h"
#include "history/HistoryDigest.h"

namespace quillby::test {
namespace {

// The store with the system keyring, in a real desktop session: keys are made, used and
// deleted from the store's worker thread.
class HistoryStoreKeyring : public HistoryRootFixture {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            GTEST_SKIP() << "needs a desktop session with a keyring";
        }
    }
    const QString service = QStringLiteral("QuillbyTests.history.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
};

TEST_F(HistoryStoreKeyring, EnablesAppendsAndDeletesWithTheSystemKeyring)
{
    const QString keyService = service;
    GlucoseHistoryStore store(root, std::make_shared<KeychainItemStore>(keyService, QStringLiteral("encryption-key-v1")),
                              [keyService](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
                                  return std::make_unique<KeychainItemStore>(
                                      keyService, QString::fromStdString("encryption-key-v2-" + digest));
                              },
                              &insightsMinimumDatasetReached);
    const std::string scope(64, 'a');
    runTask(store.activateAccount(scope, kNow));
    const auto enabled = runTask(store.enableCollection(kNow));
    runTask(store.append({historyReading(kNow - 60)}, kNow, {scope, enabled.configuration.epoch}, kNow));
    EXPECT_EQ(runTask(store.snapshot(kNow)).readings.size(), 1u);

    KeychainItemStore key(keyService, QString::fromStdString("encryption-key-v2-" + sha256Digest(scope)));
    const auto stored = key.read();
    ASSERT_EQ(stored.kind, KeychainItemReadResult::Kind::data);
    EXPECT_EQ(stored.bytes.size(), 32);

    const auto deleted = runTask(store.deleteAllHistory(kNow + 1));
    EXPECT_TRUE(deleted.readings.empty());
    EXPECT_EQ(key.read().kind, KeychainItemReadResult::Kind::notFound);
}

} // namespace
} // namespace quillby::test
