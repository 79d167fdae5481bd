#pragma once

#include "FakeKeychainItemStore.h"

#include "core/AppConfiguration.h"

#include <QByteArray>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace quillby::test {

// Puts `configuration` into the keyring item as the configuration owner writes it.
inline void storeConfigurationIn(FakeKeychainItemStore &item, const AppConfiguration &configuration)
{
    item.setStoredBytes(QByteArray::fromStdString(configuration.encode()));
}

// What the keyring item holds, read as the configuration owner reads it; nothing when it is empty.
inline std::optional<AppConfiguration> configurationIn(const FakeKeychainItemStore &item)
{
    const auto bytes = item.storedBytes();
    if (!bytes) {
        return std::nullopt;
    }
    return AppConfiguration::decode(bytes->toStdString());
}

// Where a configuration owner under test keeps what it stores: a temporary settings file and an
// in-memory keyring item.
struct ConfigurationStorage {
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults =
        std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    std::shared_ptr<FakeKeychainItemStore> keychain = std::make_shared<FakeKeychainItemStore>();

    void storeConfiguration(const AppConfiguration &configuration) { storeConfigurationIn(*keychain, configuration); }
    std::optional<AppConfiguration> stored() const { return configurationIn(*keychain); }
};

} // namespace quillby::test
