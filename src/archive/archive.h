// The embedded driver archive: the reader of password-protected ZIP archives held
// in memory, the process-wide resource settings that keep the program's own
// archive open for the whole run, the fetch of named resource files, and the
// extraction of one archive item to disk.
#pragma once

#include "base/handles.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// ---------------------------------------------------------------------------
// Archive reader

// Every reader operation answers one of these; the numbers are part of the
// interface (callers compare against them).
enum class ArchiveStatus : uint32_t {
    Ok = 0,                    // success; for UnzipItem: the end of the item was reached
    OpenFailed = 0x200,        // not an archive this reader accepts
    NotFound = 0x500,          // no item of that name
    More = 0x600,              // UnzipItem filled the buffer before the item's end
    Corrupt = 0x700,           // local header disagrees with the central directory,
                               // unsupported method, or the item's CRC-32 is wrong
    ReadFailed = 0x800,        // the item's local extra field could not be read
    WrongPassword = 0x1000,    // the encryption header's check byte did not match
    BadArgument = 0x10000,     // no reader, or an index out of range
    InflateFailed = 0x5000000  // reading or inflating the item's data failed
};

// "Ok", "OpenFailed", ...; "Unknown" for a number that is none of them.
const char* ArchiveStatusName(ArchiveStatus status);

// Ok and More both mean the bytes asked for were produced.
inline bool ArchiveSucceeded(ArchiveStatus status) {
    return status == ArchiveStatus::Ok || status == ArchiveStatus::More;
}

inline constexpr int kArchiveNameCapacity = 260;

// What FindItem tells about an item.
struct ArchiveItemInfo {
    int32_t index = -1;  // position in central-directory order
    // Stored name from UTF-8, NUL-terminated, with any drive prefix, leading
    // separators and everything up to the last ".." part removed, so it is a
    // relative path that stays below any folder it is joined to.
    char16_t name[kArchiveNameCapacity] = {};
    uint32_t attributes = 0;  // Windows file attribute bits
    // File times (100 ns units since 1601-01-01 UTC).
    uint64_t accessTime = 0;
    uint64_t creationTime = 0;
    uint64_t modificationTime = 0;
    uint32_t compressedSize = 0;  // includes the 12-byte encryption header
    uint32_t uncompressedSize = 0;
    uint32_t crc32 = 0;  // of the uncompressed bytes, as the central directory records it
};

// An open archive over a memory image that its opener keeps alive and unchanged
// until Close. Not thread-safe; separate readers over one image are independent.
class ArchiveReader;

// Opens the archive in image[0, length). password: narrow, NUL-terminated (null
// is the empty password). On success reader is a new reader; on failure null
// and OpenFailed.
ArchiveStatus OpenFromMemory(const void* image, uint32_t length, const char* password,
                             ArchiveReader*& reader);

// Finds the first item whose stored name equals name (UTF-16, compared as
// UTF-8 bytes; ignoreCase folds ASCII letters only). On NotFound index is -1 and
// info (when given) is cleared with index -1.
ArchiveStatus FindItem(ArchiveReader* reader, std::u16string_view name, bool ignoreCase,
                       int32_t& index, ArchiveItemInfo* info);

// Produces up to length bytes of the item into buffer: Ok at the item's end,
// More when the buffer filled first (call again with the same index to go on).
ArchiveStatus UnzipItem(ArchiveReader* reader, int32_t index, void* buffer, uint32_t length);

// Closes any open item and destroys the reader.
ArchiveStatus Close(ArchiveReader* reader);

// Beyond what the program needs, for tools that walk the whole archive:
// the number of entries, an item's description by index, and its stored name
// exactly as stored (raw bytes, normally UTF-8).
uint32_t ItemCount(const ArchiveReader* reader);
ArchiveStatus DescribeItem(ArchiveReader* reader, int32_t index, ArchiveItemInfo& info);
ArchiveStatus StoredItemName(ArchiveReader* reader, int32_t index, std::string& name);

// Reads many items on the calling thread, up to `lanes` of them side by side
// so that their decryption interleaves (each item stays serial; several run
// nearly as fast as one). next() hands out the next item (index, buffer,
// length) or false when none is left; done() receives each item with the
// status a single UnzipItem call with that buffer would give. Closes any open
// item first.
using NextItem = std::function<bool(int32_t& index, void*& buffer, uint32_t& length)>;
using ItemDone = std::function<void(int32_t index, void* buffer, ArchiveStatus status)>;
ArchiveStatus UnzipItemsInterleaved(ArchiveReader* reader, int lanes, const NextItem& next,
                                    const ItemDone& done);

// ---------------------------------------------------------------------------
// Resource settings and the program's archive

// The largest file a fetch or an extraction accepts (inclusive).
inline constexpr uint32_t MaxResourceFileSize = 4194304;

// The program's archive password and where the archive lives in the program.
inline constexpr char16_t kArchivePassword[] = u"kdw20190304";
inline constexpr char16_t kArchiveResourceType[] = u"ZIPRES";
inline constexpr int kArchiveResourceId = 129;
inline constexpr char16_t kResourceSubfolder[] = u"skin\\TarnDovEzuvar\\";

enum class ResourceSource : int32_t {
    Folder = 1,
    ArchiveFile = 2,
    ModuleResource = 3,
    ArchiveInModule = 4,
};

// Process-wide resource settings. Used from the main thread only.
class CUiResources {
  public:
    static void SetModuleInstance(ModuleHandle module);
    static ModuleHandle GetResourceModule();
    // The program file's folder up to and including its last "\"; the whole
    // path without one; empty while no module is set.
    static std::u16string GetProgramFolder();

    // Stores the folder, appending "\" unless it is empty or already ends in
    // "\" or "/".
    static void SetResourceFolder(std::u16string_view folder);
    static const std::u16string& GetResourceFolder();

    static void SetResourceSource(ResourceSource source);
    static ResourceSource GetResourceSource();

    // Registers an archive held in memory: copies the bytes, keeps a reader
    // open over the copy. A second registration from memory changes nothing.
    static void RegisterArchiveImage(const void* bytes, uint32_t length,
                                     std::u16string_view password);

    static const std::u16string& GetArchiveName();  // "membuffer" once registered
    static const std::u16string& GetArchivePassword();
    static ArchiveReader* GetArchiveHandle();
    static bool IsArchiveKeptOpen();

    // Shutdown: closes the registered archive and frees its copy of the bytes.
    // The string settings stay.
    static void ReleaseResources();

    // Back to the state at program load (closing any archive). For tests and
    // tools that register more than one archive in one process.
    static void ResetAll();
};

// Start-up: selects ArchiveInModule, sets the resource folder to the program's
// folder + "skin\TarnDovEzuvar\", and registers the module's "ZIPRES" 129
// resource with the program's password. False (nothing registered) when the
// resource is missing, unloadable or empty.
bool RegisterEmbeddedArchive();

// Shutdown step; the same as CUiResources::ReleaseResources.
void ReleaseResources();

// Bytes of a named resource file: from the registered archive (backslashes
// turned to "/", letter case ignored) or, when no archive is registered, from
// the resource folder on disk. On failure returns false and sets error to the
// exact failure text ("Error opening zip file", "Could not find ziped file",
// "File is empty", "File too large", "Could not unzip file", "Error opening
// file", "Could not read file").
bool FetchResourceFile(std::u16string_view name, std::vector<uint8_t>& bytes, std::string& error);

// What the registered archive's directory records of the item at the path ("\"
// separators, letter case ignored), without reading its data. False when no
// archive is registered or it has no such item.
bool DescribeRegisteredItem(std::u16string_view path, ArchiveItemInfo& info);

// ---------------------------------------------------------------------------
// Extraction to disk

// Extracts the item archivePath (with "\" separators, letter case ignored)
// from the registered archive into destinationFolder (which ends in "\") under
// the file name as written after the path's last "\". The file name's code
// units are appended to dependentFiles (no terminator) before anything is read,
// whatever the outcome. False on any failure; only file creation and write
// failures leave a meaningful last-error value.
bool ExtractArchiveItem(std::u16string_view archivePath, std::u16string_view destinationFolder,
                        std::u16string& dependentFiles);

// The security every extracted file is made with: owner Administrators and no
// DACL of its own, so the folder's inheritable entries make it. The token's
// default owner may be the user's own SID, and an owner may rewrite the DACL.
inline constexpr std::u16string_view kExtractedFileSddl = u"O:BA";

// Makes the file new with kExtractedFileSddl and writes the bytes: an existing
// file of that name is deleted first (a link as a link, never what it points
// at). A short write fails.
bool WriteBufferToFile(std::u16string_view path, const void* bytes, uint32_t length);

}  // namespace tde
