#include "archive/zip_records.h"

#include <algorithm>
#include <ctime>

namespace tde::zip {

namespace {

constexpr uint64_t kUnixToFileTime = 11644473600ull;  // seconds from 1601 to 1970
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000ull;

}  // namespace

CentralEntry ReadCentralEntry(const uint8_t* p) {
    CentralEntry e;
    e.versionMadeBy = Get16(p + 4);
    e.flags = Get16(p + 8);
    e.method = Get16(p + 10);
    e.dosTime = Get16(p + 12);
    e.dosDate = Get16(p + 14);
    e.crc = Get32(p + 16);
    e.compressedSize = Get32(p + 20);
    e.uncompressedSize = Get32(p + 24);
    e.nameLength = Get16(p + 28);
    e.extraLength = Get16(p + 30);
    e.commentLength = Get16(p + 32);
    e.externalAttributes = Get32(p + 38);
    e.localHeaderOffset = Get32(p + 42);
    return e;
}

uint64_t UnixToFileTime(int64_t seconds) {
    const int64_t since1601 = seconds + static_cast<int64_t>(kUnixToFileTime);
    return since1601 < 0 ? 0 : static_cast<uint64_t>(since1601) * kFileTimeUnitsPerSecond;
}

uint64_t DosToFileTime(uint16_t date, uint16_t time) {
    std::tm tm = {};
    tm.tm_year = ((date >> 9) & 0x7F) + 80;
    tm.tm_mon = std::max(((date >> 5) & 0x0F) - 1, 0);
    tm.tm_mday = std::max(date & 0x1F, 1);
    tm.tm_hour = (time >> 11) & 0x1F;
    tm.tm_min = (time >> 5) & 0x3F;
    tm.tm_sec = (time & 0x1F) * 2;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    return t == static_cast<std::time_t>(-1) ? 0 : UnixToFileTime(static_cast<int64_t>(t));
}

uint32_t FileAttributes(const CentralEntry& e) {
    constexpr uint32_t kReadOnly = 0x01, kDirectory = 0x10, kArchive = 0x20, kNormal = 0x80;
    const uint8_t host = static_cast<uint8_t>(e.versionMadeBy >> 8);
    uint32_t attributes = 0;
    if (host == 3) {  // Unix: the mode sits in the high half
        const uint32_t mode = e.externalAttributes >> 16;
        if ((mode & 0170000) == 0040000) {
            attributes |= kDirectory;
        } else {
            attributes |= kArchive;
        }
        if (mode != 0 && (mode & 0200) == 0) {
            attributes |= kReadOnly;
        }
        // MS-DOS bits may still be present in the low byte.
        attributes |= e.externalAttributes & 0x17;
    } else {
        // MS-DOS, OS/2, NTFS, VFAT and the rest: the low byte holds the DOS bits.
        attributes = e.externalAttributes & 0x37;
    }
    return attributes == 0 ? kNormal : attributes;
}

}  // namespace tde::zip
