#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillby {

using Sha256DigestBytes = std::array<std::uint8_t, 32>;

// A running SHA-256 computation.
class Sha256Hasher {
public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher &) = delete;
    Sha256Hasher &operator=(const Sha256Hasher &) = delete;

    void update(const void *data, std::size_t size);
    Sha256DigestBytes finish();   // the hasher is spent afterwards

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// Feeds the bytes of a data value into a running SHA-256 computation.
void sha256Update(Sha256Hasher &hasher, const QByteArray &data);
void sha256Update(Sha256Hasher &hasher, std::string_view data);

// The 32 bytes of a finished digest as 64 lowercase hexadecimal characters ("%02x" each).
std::string sha256HexString(const Sha256DigestBytes &digest);

// Lowercase hexadecimal SHA-256 of the UTF-8 bytes of a text: the folder digest of an account
// scope, and the account scope itself from its joined parts.
std::string sha256Digest(std::string_view text);

} // namespace quillby
