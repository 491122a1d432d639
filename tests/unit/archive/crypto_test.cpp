// Traditional PKWARE encryption: the keys against values worked out from the
// APPNOTE by hand, and the interleaved decryption against the plain one.
#include <gtest/gtest.h>

#include "archive/zip_crypto.h"
#include "support/archive_test_util.h"

namespace tde {
namespace {

TEST(ZipCipherTest, EncryptionAndDecryptionAreInverse) {
    const std::vector<uint8_t> plain = testing_util::Content(50000, 1);
    ZipCipher encrypt, decrypt;
    encrypt.Reset("kdw20190304", 11);
    decrypt.Reset("kdw20190304", 11);
    std::vector<uint8_t> cipher(plain.size()), back(plain.size());
    encrypt.Encrypt(plain.data(), cipher.data(), plain.size());
    EXPECT_NE(cipher, plain);
    // In pieces of odd sizes: the keys carry over between calls.
    size_t at = 0;
    for (size_t piece : {1u, 12u, 4095u, 30000u}) {
        decrypt.Decrypt(cipher.data() + at, back.data() + at, piece);
        at += piece;
    }
    decrypt.Decrypt(cipher.data() + at, back.data() + at, plain.size() - at);
    EXPECT_EQ(back, plain);
}

TEST(ZipCipherTest, TheFirstKeyStreamByteFollowsTheAppnote) {
    // With the empty password the keys are the initial ones; the first
    // key-stream byte is ((k2 | 2) * ((k2 | 2) ^ 1)) >> 8 of k2 = 0x34567890:
    // temp = 0x7892, temp * (temp ^ 1) = 0x7892 * 0x7893 = 0x38C9ABD6, byte 0xAB.
    ZipCipher cipher;
    cipher.Reset("", 0);
    const uint8_t zero = 0;
    uint8_t out = 0;
    cipher.Encrypt(&zero, &out, 1);
    EXPECT_EQ(out, 0xAB);
}

TEST(ZipCipherTest, DecryptManyMatchesOneStreamAtATime) {
    const size_t lengths[] = {16384, 16384, 100, 0, 16384, 7, 3000, 16384, 1};
    for (int count = 1; count <= 9; ++count) {
        SCOPED_TRACE(count);
        std::vector<std::vector<uint8_t>> src, many, one;
        std::vector<ZipCipher> a(count), b(count);
        for (int i = 0; i < count; ++i) {
            src.push_back(testing_util::Content(lengths[i], 10 + i));
            many.emplace_back(lengths[i]);
            one.emplace_back(lengths[i]);
            const std::string password = "pw" + std::to_string(i);
            a[i].Reset(password.data(), password.size());
            b[i].Reset(password.data(), password.size());
            b[i].Decrypt(src[i].data(), one[i].data(), lengths[i]);
        }
        // Twice, so the keys left by the first round are checked too.
        for (int round = 0; round < 2; ++round) {
            std::vector<ZipCipher*> ciphers;
            std::vector<const uint8_t*> s;
            std::vector<uint8_t*> d;
            for (int i = 0; i < count; ++i) {
                ciphers.push_back(&a[i]);
                s.push_back(src[i].data());
                d.push_back(many[i].data());
            }
            ZipCipher::DecryptMany(ciphers.data(), s.data(), d.data(), lengths, count);
            for (int i = 0; i < count; ++i) {
                EXPECT_EQ(many[i], one[i]) << i;
            }
            for (int i = 0; i < count; ++i) {
                b[i].Decrypt(src[i].data(), one[i].data(), lengths[i]);
            }
        }
    }
}

}  // namespace
}  // namespace tde
