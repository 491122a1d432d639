// What a quiet run learns of the machine beyond the spooler: who it runs as,
// and the fingerprints of the driver's files on disk and in the archive.
#include "archive/archive.h"
#include "base/win32.h"
#include "quiet/quiet_run.h"

#include <zlib.h>

#include <vector>

namespace tde {

bool RunsAsLocalSystem() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    const bool system =
        GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
    CloseHandle(token);
    return system;
}

std::optional<FileFingerprint> Win32Fingerprints::OfFile(std::u16string_view path) {
    HANDLE file =
        CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    FileFingerprint print;
    std::vector<BYTE> chunk(64 * 1024);
    DWORD read = 0;
    bool ok = true;
    uLong crc = crc32(0, nullptr, 0);
    while ((ok = ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) !=
                 0) &&
           read > 0) {
        crc = crc32(crc, chunk.data(), read);
        print.size += read;
    }
    CloseHandle(file);
    print.crc32 = static_cast<uint32_t>(crc);
    return ok ? std::optional(print) : std::nullopt;
}
std::optional<FileFingerprint> Win32Fingerprints::OfItem(std::u16string_view archivePath) {
    ArchiveItemInfo info;
    if (!DescribeRegisteredItem(archivePath, info)) {
        return std::nullopt;
    }
    return FileFingerprint{info.uncompressedSize, info.crc32};
}

}  // namespace tde
