#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillby::update_package {

// Every function here blocks (file reads, dpkg): call them on a worker thread.

// True when `signature` (64 bytes) is a valid Ed25519 signature by `publicKey` (32 raw bytes)
// over the whole file at `path`. A file larger than `maximumBytes` is not read and fails.
bool verifySignature(const QByteArray &publicKey, const QByteArray &signature, const QString &path,
                     qint64 maximumBytes);

// What a Debian package says of itself in its control member.
struct Fields {
    QString name;
    QString version;
    QString architecture;
};

// The package's name, version and architecture (`dpkg-deb --field`); nothing when the file is
// not a Debian package or dpkg-deb cannot be run.
std::optional<Fields> readFields(const QString &path);

// The installed package that owns the file at `path` (`dpkg -S`); nothing when no package
// owns it or dpkg cannot be asked.
std::optional<QString> owningPackage(const QString &path);

} // namespace quillby::update_package
