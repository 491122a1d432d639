// Traditional PKWARE encryption (ZIP APPNOTE 6.1): the three 32-bit keys, their
// update through the CRC-32 table, and the key-stream byte. Shared by the reader
// and the archive writer.
#pragma once

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
        // Keys in locals so the loop's long dependency chain stays in registers.
        uint32_t k0 = keys_.k0, k1 = keys_.k1, k2 = keys_.k2;
        const z_crc_t* t = table_;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t temp = (k2 | 2) & 0xFFFF;
            const uint8_t plain = static_cast<uint8_t>(src[i] ^ ((temp * (temp ^ 1)) >> 8));
            dst[i] = plain;
            k0 = Crc32Byte(t, k0, plain);
            k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
            k2 = Crc32Byte(t, k2, static_cast<uint8_t>(k1 >> 24));
        }
        keys_ = {k0, k1, k2};
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
        keys_.k1 = (keys_.k1 + (keys_.k0 & 0xFF)) * 134775813u + 1;
        keys_.k2 = Crc32Byte(table_, keys_.k2, static_cast<uint8_t>(keys_.k1 >> 24));
    }

    const z_crc_t* table_;
    ZipKeys keys_;
};

}  // namespace tde
