#include "history/HistoryDigest.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace quillby {

struct Sha256Hasher::Context {
    EVP_MD_CTX *context = nullptr;
};

Sha256Hasher::Sha256Hasher() : context_(std::make_unique<Context>())
{
    context_->context = EVP_MD_CTX_new();
    if (context_->context == nullptr || EVP_DigestInit_ex(context_->context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context_->context);
        throw std::runtime_error("SHA-256 is unavailable");
    }
}

Sha256Hasher::~Sha256Hasher()
{
    EVP_MD_CTX_free(context_->context);
}

void Sha256Hasher::update(const void *data, std::size_t size)
{
    if (size > 0 && EVP_DigestUpdate(context_->context, data, size) != 1) {
        throw std::runtime_error("SHA-256 update failed");
    }
}

Sha256DigestBytes Sha256Hasher::finish()
{
    Sha256DigestBytes digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->context, digest.data(), &length) != 1 || length != digest.size()) {
        throw std::runtime_error("SHA-256 finish failed");
    }
    return digest;
}

void sha256Update(Sha256Hasher &hasher, const QByteArray &data)
{
    hasher.update(data.constData(), static_cast<std::size_t>(data.size()));
}

void sha256Update(Sha256Hasher &hasher, std::string_view data)
{
    hasher.update(data.data(), data.size());
}

std::string sha256HexString(const Sha256DigestBytes &digest)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (std::uint8_t byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}

std::string sha256Digest(std::string_view text)
{
    Sha256Hasher hasher;
    sha256Update(hasher, text);
    return sha256HexString(hasher.finish());
}

} // namespace quillby
