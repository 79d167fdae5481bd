#include "history/HistorySealing.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace quillby {

namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

unsigned char *bytes(QByteArray &data)
{
    return reinterpret_cast<unsigned char *>(data.data());
}

} // namespace

std::optional<HistorySealedBox> sealedBox(const QByteArray &combined)
{
    if (combined.size() < kHistoryNonceSize + kHistoryTagSize) {
        return std::nullopt;
    }
    const qsizetype cipherLength = combined.size() - kHistoryNonceSize - kHistoryTagSize;
    return HistorySealedBox{combined.left(kHistoryNonceSize), combined.mid(kHistoryNonceSize, cipherLength),
                            combined.right(kHistoryTagSize)};
}

QByteArray historyAssociatedData(const std::filesystem::path &file)
{
    const std::string name = file.filename().native();
    QByteArray data("glucose-history-v1/");
    data.append(name.data(), static_cast<qsizetype>(name.size()));
    return data;
}

QByteArray sealHistory(const QByteArray &plaintext, const QByteArray &key, const QByteArray &associatedData)
{
    if (key.size() != kHistoryKeySize) {
        throw std::runtime_error("history key must be 32 bytes");
    }
    QByteArray combined(kHistoryNonceSize + plaintext.size() + kHistoryTagSize, Qt::Uninitialized);
    unsigned char *nonce = bytes(combined);
    if (RAND_bytes(nonce, kHistoryNonceSize) != 1) {
        throw std::runtime_error("random nonce unavailable");
    }
    CipherContext context(EVP_CIPHER_CTX_new());
    int length = 0;
    if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kHistoryNonceSize, nullptr) != 1 ||
        EVP_EncryptInit_ex(context.get(), nullptr, nullptr, bytes(key), nonce) != 1 ||
        EVP_EncryptUpdate(context.get(), nullptr, &length, bytes(associatedData),
                          static_cast<int>(associatedData.size())) != 1) {
        throw std::runtime_error("history sealing failed");
    }
    unsigned char *ciphertext = nonce + kHistoryNonceSize;
    int written = 0;
    if (!plaintext.isEmpty() &&
        EVP_EncryptUpdate(context.get(), ciphertext, &written, bytes(plaintext), static_cast<int>(plaintext.size())) != 1) {
        throw std::runtime_error("history sealing failed");
    }
    int finalLength = 0;
    if (EVP_EncryptFinal_ex(context.get(), ciphertext + written, &finalLength) != 1 ||
        written + finalLength != plaintext.size() ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kHistoryTagSize,
                            ciphertext + plaintext.size()) != 1) {
        throw std::runtime_error("history sealing failed");
    }
    return combined;
}

std::optional<std::size_t> openHistoryInPlace(char *combined, std::size_t size, const QByteArray &key,
                                              const QByteArray &associatedData)
{
    constexpr std::size_t overhead = kHistoryNonceSize + kHistoryTagSize;
    if (key.size() != kHistoryKeySize || size < overhead ||
        size - overhead > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    const int cipherLength = static_cast<int>(size - overhead);
    auto *nonce = reinterpret_cast<unsigned char *>(combined);
    unsigned char *text = nonce + kHistoryNonceSize;   // ciphertext in, plaintext out
    unsigned char tag[kHistoryTagSize];
    std::memcpy(tag, text + cipherLength, kHistoryTagSize);
    CipherContext context(EVP_CIPHER_CTX_new());
    int length = 0;
    if (!context || EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kHistoryNonceSize, nullptr) != 1 ||
        EVP_DecryptInit_ex(context.get(), nullptr, nullptr, bytes(key), nonce) != 1 ||
        EVP_DecryptUpdate(context.get(), nullptr, &length, bytes(associatedData),
                          static_cast<int>(associatedData.size())) != 1) {
        return std::nullopt;
    }
    int written = 0;
    if (cipherLength > 0 && EVP_DecryptUpdate(context.get(), text, &written, text, cipherLength) != 1) {
        return std::nullopt;
    }
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kHistoryTagSize, tag) != 1) {
        return std::nullopt;
    }
    int finalLength = 0;
    if (EVP_DecryptFinal_ex(context.get(), text + written, &finalLength) != 1 || written + finalLength != cipherLength) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(cipherLength);
}

std::optional<QByteArray> openHistory(const QByteArray &combined, const QByteArray &key,
                                      const QByteArray &associatedData)
{
    QByteArray working(combined.constData(), combined.size());
    const std::optional<std::size_t> length =
        openHistoryInPlace(working.data(), static_cast<std::size_t>(working.size()), key, associatedData);
    if (!length) {
        return std::nullopt;
    }
    return working.mid(kHistoryNonceSize, static_cast<qsizetype>(*length));
}

QByteArray makeHistoryKey()
{
    QByteArray key(kHistoryKeySize, Qt::Uninitialized);
    if (RAND_bytes(bytes(key), kHistoryKeySize) != 1) {
        throw std::runtime_error("random key unavailable");
    }
    return key;
}

} // namespace quillby
