#include "services/UpdatePackage.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <openssl/evp.h>

#include <memory>

namespace quillby::update_package {

namespace {

constexpr int kProcessTimeoutMs = 60000;

// Runs a dpkg tool with the C locale and gives its standard output when it exits with 0.
std::optional<QByteArray> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(kProcessTimeoutMs)) {
        return std::nullopt;
    }
    if (!process.waitForFinished(kProcessTimeoutMs)) {
        process.kill();
        process.waitForFinished(kProcessTimeoutMs);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

} // namespace

bool verifySignature(const QByteArray &publicKey, const QByteArray &signature, const QString &path,
                     qint64 maximumBytes)
{
    if (publicKey.size() != 32 || signature.size() != 64) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumBytes) {
        return false;
    }
    const QByteArray content = file.read(maximumBytes + 1);
    if (content.size() != file.size() || content.size() > maximumBytes) {
        return false;
    }
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                    static_cast<size_t>(publicKey.size())),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    // Ed25519 signs the message itself, in one pass.
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                            static_cast<size_t>(signature.size()),
                            reinterpret_cast<const unsigned char *>(content.constData()),
                            static_cast<size_t>(content.size())) == 1;
}

std::optional<Fields> readFields(const QString &path)
{
    const auto output = run(QStringLiteral("dpkg-deb"),
                            {QStringLiteral("--field"), QFileInfo(path).absoluteFilePath(), QStringLiteral("Package"),
                             QStringLiteral("Version"), QStringLiteral("Architecture")});
    if (!output) {
        return std::nullopt;
    }
    Fields fields;
    for (const QByteArray &line : output->split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0) {
            continue;
        }
        const QByteArray name = line.left(colon).trimmed();
        const QString value = QString::fromUtf8(line.mid(colon + 1).trimmed());
        if (name == "Package") {
            fields.name = value;
        } else if (name == "Version") {
            fields.version = value;
        } else if (name == "Architecture") {
            fields.architecture = value;
        }
    }
    if (fields.name.isEmpty() || fields.version.isEmpty() || fields.architecture.isEmpty()) {
        return std::nullopt;
    }
    return fields;
}

std::optional<QString> owningPackage(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty()) {
        return std::nullopt;
    }
    // "quillby: /usr/bin/quillby" (a package name may carry ":<architecture>").
    const auto output = run(QStringLiteral("dpkg"), {QStringLiteral("-S"), canonical});
    if (!output) {
        return std::nullopt;
    }
    const QByteArray firstLine = output->split('\n').value(0);
    const qsizetype separator = firstLine.indexOf(": ");
    if (separator <= 0 || firstLine.mid(separator + 2).trimmed() != canonical.toUtf8()) {
        return std::nullopt;
    }
    QString package = QString::fromUtf8(firstLine.left(separator));
    if (package.contains(QLatin1Char(',')) || package.contains(QLatin1Char(' '))) {
        return std::nullopt;   // owned by several packages: not this program's own package alone
    }
    return package.section(QLatin1Char(':'), 0, 0);
}

} // namespace quillby::update_package
