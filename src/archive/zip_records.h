// The ZIP records the reader reads (ZIP APPNOTE 4.3): signatures and sizes of
// the end record, the central-directory and local headers, the flags it
// honours, and what an entry's fields mean as Windows file times and
// attributes. Internal to the archive subsystem.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tde::zip {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kEndScanLimit = 65535;
constexpr uint32_t kEncryptionHeaderSize = 12;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;

inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct CentralEntry {
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
};

// The fields of the central-directory header at p (kCentralHeaderSize bytes,
// its signature already checked).
CentralEntry ReadCentralEntry(const uint8_t* p);

// What validating an item's local header yields.
struct LocalLayout {
    uint64_t extraPosition = 0;  // absolute, in the image
    uint16_t extraLength = 0;
    uint64_t dataPosition = 0;  // absolute, in the image
};

// File time (100 ns units since 1601) of a Unix time in seconds; 0 before 1601.
uint64_t UnixToFileTime(int64_t seconds);

// DOS date and time are the local time of the machine that wrote the archive.
uint64_t DosToFileTime(uint16_t date, uint16_t time);

// Windows file attribute bits from the entry's external attributes.
uint32_t FileAttributes(const CentralEntry& e);

}  // namespace tde::zip
