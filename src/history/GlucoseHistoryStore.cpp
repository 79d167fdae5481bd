#include "history/GlucoseHistoryStore.h"

#include "core/async/BackgroundTask.h"
#include "core/KeychainItemStore.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <QDir>
#include <QStandardPaths>

namespace quillby {

GlucoseHistoryStore::GlucoseHistoryStore(std::filesystem::path directory,
                                         std::shared_ptr<KeychainItemStoring> legacyKeychain,
                                         HistoryScopeKeychainFactory keychainFactory,
                                         InsightsUnlockRule unlockRule,
                                         std::shared_ptr<GlucoseHistoryFileAccess> files)
    : directory_(directory),
      core_(std::make_unique<GlucoseHistoryStoreCore>(
          std::move(directory), std::move(legacyKeychain), std::move(keychainFactory), std::move(unlockRule),
          files ? std::move(files) : std::make_shared<LocalGlucoseHistoryFileAccess>()))
{
    worker_.setMaxThreadCount(1);
    worker_.setExpiryTimeout(-1);   // one thread for the store's whole life
    worker_.setObjectName(QStringLiteral("GlucoseHistoryStore"));
}

GlucoseHistoryStore::~GlucoseHistoryStore()
{
    worker_.waitForDone();
}

template <typename Result, typename Work>
QCoro::Task<Result> GlucoseHistoryStore::run(Work work)
{
    GlucoseHistoryStoreCore *core = core_.get();
    return runInThreadPool(worker_, [core, work = std::move(work)]() mutable -> Result { return work(*core); });
}

QCoro::Task<GlucoseHistorySnapshot> GlucoseHistoryStore::snapshot(Date now)
{
    return run<GlucoseHistorySnapshot>([now](GlucoseHistoryStoreCore &core) { return core.snapshot(now); });
}

QCoro::Task<GlucoseHistorySnapshot> GlucoseHistoryStore::activateAccount(std::optional<std::string> scope, Date now)
{
    return run<GlucoseHistorySnapshot>(
        [scope = std::move(scope), now](GlucoseHistoryStoreCore &core) { return core.activateAccount(scope, now); });
}

QCoro::Task<GlucoseHistorySnapshot> GlucoseHistoryStore::enableCollection(Date now)
{
    return run<GlucoseHistorySnapshot>([now](GlucoseHistoryStoreCore &core) { return core.enableCollection(now); });
}

QCoro::Task<GlucoseHistorySnapshot> GlucoseHistoryStore::disableCollection(Date now)
{
    return run<GlucoseHistorySnapshot>([now](GlucoseHistoryStoreCore &core) { return core.disableCollection(now); });
}

QCoro::Task<GlucoseHistorySnapshot> GlucoseHistoryStore::setRetentionDays(int days, Date now)
{
    return run<GlucoseHistorySnapshot>(
        [days, now](GlucoseHistoryStoreCore &core) { return core.setRetentionDays(days, now); });
}

QCoro::Task<void> GlucoseHistoryStore::append(GlucoseReadings readings, Date fetchedAt,
                                              GlucoseHistoryCollectionToken token, Date now)
{
    return run<void>([readings = std::move(readings), fetchedAt, token = std::move(token),
                      now](GlucoseHistoryStoreCore &core) { core.append(readings, fetchedAt, token, now); });
}

QCoro::Task<GlucoseHistorySnapshot> GlucoseHistoryStore::deleteAllHistory(Date now)
{
    return run<GlucoseHistorySnapshot>([now](GlucoseHistoryStoreCore &core) { return core.deleteAllHistory(now); });
}

QCoro::Task<void> GlucoseHistoryStore::prepareStorage()
{
    return run<void>([](GlucoseHistoryStoreCore &core) { core.prepareStorage(); });
}

std::filesystem::path defaultHistoryRootDirectory()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return std::filesystem::path(base.toStdString()) / "Quillby" / "History";
}

std::shared_ptr<GlucoseHistoryStore> makeUserHistoryStore(InsightsUnlockRule unlockRule)
{
    std::filesystem::path root = defaultHistoryRootDirectory();
    if (root.is_relative()) {
        // No data folder reported for this user: use the XDG default under the home folder.
        root = std::filesystem::path(QDir::homePath().toStdString()) / ".local" / "share" / "Quillby" / "History";
    }
    const QString service = QStringLiteral("Quillby.history");
    return std::make_shared<GlucoseHistoryStore>(
        root, std::make_shared<KeychainItemStore>(service, QStringLiteral("encryption-key-v1")),
        [service](const std::string &folderDigest) -> std::unique_ptr<KeychainItemStoring> {
            return std::make_unique<KeychainItemStore>(
                service, QStringLiteral("encryption-key-v2-") + QString::fromStdString(folderDigest));
        },
        std::move(unlockRule));
}

} // namespace quillby
