// The archive subsystem's platform boundary: the program module's file path and
// resource, the ANSI form of the password, and whole-file reads and writes.
// The system's implementation is Win32 in the Windows build and portable C++
// elsewhere; tests substitute MemoryResourcePlatform.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"

namespace tde {

enum class FileReadResult { Ok, OpenFailed, Empty, TooLarge, ShortRead };

class ResourcePlatform {
  public:
    virtual ~ResourcePlatform() = default;

    // Full path of the module's file (GetModuleFileNameW into 260 units);
    // empty when unknown.
    virtual std::u16string ModuleFilePath(ModuleHandle module) = 0;

    // The module's "ZIPRES" 129 resource. False when it is missing or cannot
    // be loaded; bytes stay valid as long as the module is loaded.
    virtual bool FindArchiveResource(ModuleHandle module, const void*& bytes, uint32_t& length) = 0;

    // The text in the system's ANSI code page (no terminator included).
    virtual std::string ToAnsi(std::u16string_view text) = 0;

    // Reads an existing file whole. Files of 0 bytes are Empty, above maxSize
    // TooLarge, and fewer bytes than the size ShortRead.
    virtual FileReadResult ReadWholeFile(std::u16string_view path, uint32_t maxSize,
                                         std::vector<uint8_t>& bytes) = 0;

    // Deletes a file of that name (a link as a link), creates the file new with
    // the security given as SDDL, and writes the bytes; false on any failure, a
    // short write included. On Windows the thread's last error tells why.
    virtual bool WriteWholeFile(std::u16string_view path, const void* bytes, uint32_t length,
                                std::u16string_view sddl) = 0;
};

// The implementation in use: the one installed by SetResourcePlatform, else the
// system's.
ResourcePlatform& CurrentResourcePlatform();
// Installs an implementation (not owned); null goes back to the system's.
void SetResourcePlatform(ResourcePlatform* platform);
// The system's implementation (Win32 in the Windows build).
ResourcePlatform& SystemResourcePlatform();

// In-memory platform for tests: module paths and resources by handle, files
// by exact path.
class MemoryResourcePlatform : public ResourcePlatform {
  public:
    std::map<ModuleHandle, std::u16string> modulePaths;
    std::map<ModuleHandle, std::vector<uint8_t>> moduleResources;
    std::map<std::u16string, std::vector<uint8_t>> files;
    // Paths whose open fails, and paths whose read comes back short.
    std::vector<std::u16string> unopenable;
    std::vector<std::u16string> shortReads;
    // When set, writes stop after this many bytes and fail.
    int64_t writeLimit = -1;
    // Each file as made: its path, its security, and whether one of that name was deleted first.
    struct Creation {
        std::u16string path;
        std::u16string sddl;
        bool replaced = false;
        bool operator==(const Creation&) const = default;
    };
    std::vector<Creation> creations;

    std::u16string ModuleFilePath(ModuleHandle module) override;
    bool FindArchiveResource(ModuleHandle module, const void*& bytes, uint32_t& length) override;
    std::string ToAnsi(std::u16string_view text) override;
    FileReadResult ReadWholeFile(std::u16string_view path, uint32_t maxSize,
                                 std::vector<uint8_t>& bytes) override;
    bool WriteWholeFile(std::u16string_view path, const void* bytes, uint32_t length,
                        std::u16string_view sddl) override;
};

}  // namespace tde
