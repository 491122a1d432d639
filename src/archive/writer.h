// Writing archives in the form the program reads: the packer tool, tests,
// benchmarks and fuzz seeds use it; the program itself never writes archives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tde {

struct ArchiveWriterItem {
    std::string name;  // stored exactly as given (UTF-8, "/" separators)
    std::vector<uint8_t> data;
    uint16_t method = 8;  // 0 stored, 8 deflated
    bool encrypt = true;
    // Flag bit 3: CRC-32 and sizes are 0 in the local header and follow the data
    // in a data descriptor; the encryption check byte is then the high byte of
    // the DOS time instead of the CRC-32's.
    bool dataDescriptor = true;
    uint16_t dosTime = 0;
    uint16_t dosDate = (1 << 5) | 1;  // 1980-01-01
    // Unix mode 0644 (a regular file) in the high half, FILE_ATTRIBUTE_ARCHIVE in
    // the low byte. The entries say they were made on Unix, because extractors
    // translate names "made on MS-DOS" from the OEM code page, which mangles
    // UTF-8 names.
    uint32_t externalAttributes = (0100644u << 16) | 0x20;
    std::string comment;  // the entry's comment in the central directory
};

struct ArchiveWriterOptions {
    std::string password;  // narrow bytes, used for items with encrypt set
    int level = 9;         // deflate level
    std::string comment;   // archive comment
};

// Where the parts of each item landed, for tests that damage them on purpose.
struct WrittenItem {
    uint32_t localHeaderOffset = 0;
    uint32_t dataOffset = 0;  // first byte after the local header (encryption header included)
    uint32_t dataLength = 0;  // compressed size, encryption header included
    uint32_t centralHeaderOffset = 0;
    uint32_t crc = 0;
};

struct WrittenArchive {
    std::vector<uint8_t> bytes;
    std::vector<WrittenItem> items;
    uint32_t centralOffset = 0;
    uint32_t endRecordOffset = 0;
};

// False with a reason when the items do not fit the format (sizes beyond
// 32 bits, more than 65,535 items, names or comments beyond 65,535 bytes).
bool WriteArchive(const std::vector<ArchiveWriterItem>& items, const ArchiveWriterOptions& options,
                  WrittenArchive& archive, std::string& error);

// DOS date and time of a local calendar time.
uint16_t DosDate(int year, int month, int day);
uint16_t DosTime(int hour, int minute, int second);

}  // namespace tde
