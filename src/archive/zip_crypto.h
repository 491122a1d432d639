// Traditional PKWARE encryption (ZIP APPNOTE 6.1): the three 32-bit keys, their
// update through the CRC-32 table, and the key-stream byte. Shared by the reader
// and the archive writer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include <zlib.h>

namespace tde {

// One byte step of CRC-32, the APPNOTE's crc32(key, byte).
inline uint32_t Crc32Byte(const z_crc_t* table, uint32_t crc, uint8_t b) {
    return (crc >> 8) ^ static_cast<uint32_t>(table[(crc ^ b) & 0xFF]);
}

struct ZipKeys {
    uint32_t k0 = 0x12345678;
    uint32_t k1 = 0x23456789;
    uint32_t k2 = 0x34567890;
};

namespace zip_crypto_detail {

constexpr uint32_t kMultiplier = 134775813u;

// One decrypted byte. Every byte depends on the one before through all three
// keys, so the loop is bound by the latency of this chain; the parts that do
// not depend on the previous byte's key stream (k0 ^ c, k1 * M + 1) are taken
// off it, and the key-stream product needs no mask because its bits 8 to 15
// depend only on the low 16 bits of k2.
inline uint8_t Step(ZipKeys& k, const z_crc_t* t, uint8_t cipher) {
    const uint32_t t2 = k.k2 | 2;
    const uint32_t stream = (t2 * (t2 ^ 1)) >> 8;
    const uint32_t early0 = k.k0 ^ cipher;
    const uint32_t early1 = k.k1 * kMultiplier + 1;
    k.k0 = (k.k0 >> 8) ^ static_cast<uint32_t>(t[(early0 ^ stream) & 0xFF]);
    k.k1 = early1 + (k.k0 & 0xFF) * kMultiplier;
    k.k2 = (k.k2 >> 8) ^ static_cast<uint32_t>(t[(k.k2 ^ (k.k1 >> 24)) & 0xFF]);
    return static_cast<uint8_t>(cipher ^ stream);
}

// Lanes independent streams side by side: while one lane waits on its chain
// the others use the processor, so several items decrypt nearly as fast as one.
template <int Lanes>
void DecryptLockstep(ZipKeys* keys[], const z_crc_t* t, const uint8_t* const src[],
                     uint8_t* const dst[], size_t n) {
    ZipKeys k[Lanes];
    for (int l = 0; l < Lanes; ++l) {
        k[l] = *keys[l];
    }
    for (size_t i = 0; i < n; ++i) {
#pragma GCC unroll 4
        for (int l = 0; l < Lanes; ++l) {
            dst[l][i] = Step(k[l], t, src[l][i]);
        }
    }
    for (int l = 0; l < Lanes; ++l) {
        *keys[l] = k[l];
    }
}

}  // namespace zip_crypto_detail

class ZipCipher {
  public:
    ZipCipher() : table_(get_crc_table()) {}

    // Starts over from the initial keys and feeds every byte of the password.
    void Reset(const char* password, size_t length) {
        keys_ = ZipKeys();
        for (size_t i = 0; i < length; ++i) {
            Update(static_cast<uint8_t>(password[i]));
        }
    }

    // Decrypts n bytes from src into dst (which may be src).
    void Decrypt(const uint8_t* src, uint8_t* dst, size_t n) {
        ZipKeys k = keys_;  // in locals, so the chain stays in registers
        const z_crc_t* t = table_;
        for (size_t i = 0; i < n; ++i) {
            dst[i] = zip_crypto_detail::Step(k, t, src[i]);
        }
        keys_ = k;
    }

    // Decrypts several independent streams at once: cipher l turns n[l] bytes
    // of src[l] into dst[l]. The same result as one Decrypt per stream, faster.
    static void DecryptMany(ZipCipher* const ciphers[], const uint8_t* const src[],
                            uint8_t* const dst[], const size_t n[], int count) {
        constexpr int kMaxLanes = 4;
        for (int first = 0; first < count; first += kMaxLanes) {
            const int lanes = std::min(kMaxLanes, count - first);
            ZipKeys* keys[kMaxLanes];
            const uint8_t* s[kMaxLanes];
            uint8_t* d[kMaxLanes];
            size_t left[kMaxLanes];
            for (int l = 0; l < lanes; ++l) {
                keys[l] = &ciphers[first + l]->keys_;
                s[l] = src[first + l];
                d[l] = dst[first + l];
                left[l] = n[first + l];
            }
            const z_crc_t* t = ciphers[first]->table_;
            // The common length in lockstep; what is left of the longer
            // streams one by one (chunks are mostly of equal length).
            size_t common = left[0];
            for (int l = 1; l < lanes; ++l) {
                common = std::min(common, left[l]);
            }
            switch (lanes) {
                case 4:
                    zip_crypto_detail::DecryptLockstep<4>(keys, t, s, d, common);
                    break;
                case 3:
                    zip_crypto_detail::DecryptLockstep<3>(keys, t, s, d, common);
                    break;
                case 2:
                    zip_crypto_detail::DecryptLockstep<2>(keys, t, s, d, common);
                    break;
                default:
                    zip_crypto_detail::DecryptLockstep<1>(keys, t, s, d, common);
                    break;
            }
            for (int l = 0; l < lanes; ++l) {
                if (left[l] > common) {
                    ciphers[first + l]->Decrypt(s[l] + common, d[l] + common, left[l] - common);
                }
            }
        }
    }

    // Encrypts n bytes from src into dst (which may be src).
    void Encrypt(const uint8_t* src, uint8_t* dst, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t plain = src[i];
            dst[i] = static_cast<uint8_t>(plain ^ StreamByte());
            Update(plain);
        }
    }

  private:
    uint8_t StreamByte() const {
        const uint32_t temp = (keys_.k2 | 2) & 0xFFFF;
        return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
    }

    void Update(uint8_t plain) {
        keys_.k0 = Crc32Byte(table_, keys_.k0, plain);
        keys_.k1 = (keys_.k1 + (keys_.k0 & 0xFF)) * zip_crypto_detail::kMultiplier + 1;
        keys_.k2 = Crc32Byte(table_, keys_.k2, static_cast<uint8_t>(keys_.k1 >> 24));
    }

    const z_crc_t* table_;
    ZipKeys keys_;
};

}  // namespace tde
