#pragma once

#include <QByteArray>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>

namespace quillby {

// AES-256-GCM sealing of day files: 12-byte nonce, ciphertext, 16-byte tag, in that order.
inline constexpr int kHistoryNonceSize = 12;
inline constexpr int kHistoryTagSize = 16;
inline constexpr int kHistoryKeySize = 32;

struct HistorySealedBox {
    QByteArray nonce;
    QByteArray ciphertext;
    QByteArray tag;
    QByteArray combined() const { return nonce + ciphertext + tag; }
};

// Splits the bytes of a sealed file; nothing when fewer than 28 bytes are given.
std::optional<HistorySealedBox> sealedBox(const QByteArray &combined);

// "glucose-history-v1/" followed by the file's own name (its last path component).
QByteArray historyAssociatedData(const std::filesystem::path &file);

// Seals with a fresh random nonce; returns the combined bytes. Throws std::runtime_error when
// the key is not 32 bytes or the cipher fails.
QByteArray sealHistory(const QByteArray &plaintext, const QByteArray &key, const QByteArray &associatedData);

// Opens combined bytes; nothing when they are too short or fail authentication.
std::optional<QByteArray> openHistory(const QByteArray &combined, const QByteArray &key,
                                      const QByteArray &associatedData);
// The same in place: the plaintext is written over the ciphertext, at combined + 12, and its
// length returned. Nothing when the bytes are too short or fail authentication; the buffer then
// holds nothing usable.
std::optional<std::size_t> openHistoryInPlace(char *combined, std::size_t size, const QByteArray &key,
                                              const QByteArray &associatedData);

// 32 fresh random bytes for a new folder key. Throws std::runtime_error when the random
// source fails.
QByteArray makeHistoryKey();

} // namespace quillby
