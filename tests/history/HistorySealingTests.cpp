#include "history/HistoryDigest.h"
#include "history/HistorySealing.h"

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

TEST(HistorySealing, SealsAsNonceCiphertextTagWithTheFileNameAsAssociatedData)
{
    const QByteArray key = makeHistoryKey();
    ASSERT_EQ(key.size(), 32);
    const QByteArray plaintext("{\"schemaVersion\":1}");
    const QByteArray aad = historyAssociatedData(std::filesystem::path("/some/folder/20431.history"));
    EXPECT_EQ(aad, QByteArray("glucose-history-v1/20431.history"));

    const QByteArray sealed = sealHistory(plaintext, key, aad);
    EXPECT_EQ(sealed.size(), 12 + plaintext.size() + 16);
    const auto box = sealedBox(sealed);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->nonce.size(), 12);
    EXPECT_EQ(box->ciphertext.size(), plaintext.size());
    EXPECT_EQ(box->tag.size(), 16);
    EXPECT_EQ(box->combined(), sealed);
    EXPECT_EQ(openHistory(sealed, key, aad), plaintext);
    // A fresh nonce every time.
    EXPECT_NE(sealHistory(plaintext, key, aad).left(12), sealed.left(12));
    // An empty plaintext seals to exactly 28 bytes and opens again.
    const QByteArray empty = sealHistory(QByteArray(), key, aad);
    EXPECT_EQ(empty.size(), 28);
    EXPECT_EQ(openHistory(empty, key, aad), QByteArray());
}

TEST(HistorySealing, RejectsEveryAlteredInput)
{
    const QByteArray key = makeHistoryKey();
    const QByteArray aad = historyAssociatedData(std::filesystem::path("20431.history"));
    const QByteArray sealed = sealHistory(QByteArray("readings"), key, aad);

    EXPECT_FALSE(openHistory(sealed, key, historyAssociatedData(std::filesystem::path("20432.history"))));
    EXPECT_FALSE(openHistory(sealed, makeHistoryKey(), aad));
    for (int index : {0, 11, 12, static_cast<int>(sealed.size()) - 1}) {
        QByteArray flipped = sealed;
        flipped[index] = static_cast<char>(flipped[index] ^ 0x01);
        EXPECT_FALSE(openHistory(flipped, key, aad)) << "byte " << index;
    }
    EXPECT_FALSE(openHistory(sealed.left(27), key, aad));
    EXPECT_FALSE(sealedBox(QByteArray(27, 'x')));
    EXPECT_TRUE(sealedBox(QByteArray(28, 'x')));
    EXPECT_FALSE(openHistory(sealed, key.left(31), aad));
    EXPECT_THROW(sealHistory(QByteArray("x"), key.left(16), aad), std::runtime_error);
}

TEST(HistoryDigest, RunningDigestMatchesOneShotDigest)
{
    Sha256Hasher hasher;
    sha256Update(hasher, QByteArray("2:us"));
    sha256Update(hasher, std::string_view("3:Ann"));
    const std::string hex = sha256HexString(hasher.finish());
    EXPECT_EQ(hex, "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a");
    EXPECT_EQ(sha256Digest("2:us3:Ann"), hex);
    EXPECT_EQ(sha256Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

} // namespace
} // namespace quillby::test
