#pragma once

#include "FakeKeychainItemStore.h"

#include "history/GlucoseHistoryRecords.h"
#include "history/GlucoseHistoryStoreCore.h"

#include <QString>

#include <memory>
#include <string>

namespace quillby::test {

// The saved history's keyring items in a fake keyring: the key of the older layout, and the
// key of each account folder (by its digest), named as the store names them.
inline std::shared_ptr<FakeKeychainItemStore> legacyHistoryKeychain(std::shared_ptr<FakeKeyring> keyring)
{
    return std::make_shared<FakeKeychainItemStore>(QString::fromLatin1(history_files::keychainService),
                                                   QString::fromLatin1(history_files::legacyKeyAccount),
                                                   std::move(keyring));
}

inline HistoryScopeKeychainFactory historyKeychainFactory(std::shared_ptr<FakeKeyring> keyring)
{
    return [keyring = std::move(keyring)](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
        return std::make_unique<FakeKeychainItemStore>(
            QString::fromLatin1(history_files::keychainService),
            QString::fromStdString(history_files::scopeKeyAccountPrefix + digest), keyring);
    };
}

} // namespace quillby::test
