// The staging folder: its path, the creation of its folder chain, its filling
// from the embedded archive and its removal at the end of a run, over a small
// file-operations interface (Win32 or in memory). Whether a folder may be
// trusted is judged in folder_trust.h.
#pragma once

#include "base/errors.h"
#include "install/folder_trust.h"
#include "install/model.h"
#include "install/shell.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

inline constexpr std::u16string_view kStagingSuffix = u"\\ZNWDriver\\DovEzuvar\\";
inline constexpr std::u16string_view kFallbackStagingFolder = u"C:\\ZNWDriver\\DovEzuvar\\";
// The buffer CreateDirectoryPath copies its argument into.
inline constexpr size_t kDirectoryPathBufferBytes = 260;

// One entry of a folder listing ("." and ".." left out).
struct FolderEntry {
    std::u16string name;
    bool directory = false;
    bool link = false;  // a reparse point: symbolic link, junction, mount point
};

// The security of every folder the staging steps create: owner Administrators,
// a protected DACL (nothing inherited) with full control for SYSTEM and
// Administrators, passed on to files and subfolders, nothing for anyone else.
inline constexpr std::u16string_view kStagingFolderSddl =
    u"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// kStagingFolderSddl as FolderFacts of an existing folder.
FolderFacts StagingFolderFacts();

// The file operations of the staging folder. Failed calls leave their reason in
// LastError().
class StagingFiles {
  public:
    virtual ~StagingFiles() = default;
    // The text in the system ANSI code page.
    virtual std::string ToNarrow(std::u16string_view text) = 0;
    // GetCurrentDirectoryA into a buffer of 260 bytes; false when it fails or does not fit.
    virtual bool GetCurrentDirectoryA(std::string& path) = 0;
    // The existence test of CreateDirectoryPath.
    virtual bool PathExistsA(const std::string& path) = 0;
    // Creates the folder with kStagingFolderSddl.
    virtual bool CreateDirectoryA(const std::string& path) = 0;
    // What stands at the path; never follows a link.
    virtual FolderTrust CheckFolder(std::u16string_view path) = 0;
    // True when the path itself is a reparse point.
    virtual bool IsLink(std::u16string_view path) = 0;
    // FindFirstFileW on path + "\*" finds anything.
    virtual bool IsDirectory(std::u16string_view path) = 0;
    // The entries FindFirstFileW/FindNextFileW find for the pattern; false when
    // the search finds nothing.
    virtual bool FindEntries(std::u16string_view pattern, std::vector<FolderEntry>& entries) = 0;
    virtual bool DeleteFileW(std::u16string_view path) = 0;
    virtual bool RemoveDirectoryW(std::u16string_view path) = 0;
    // ExtractArchiveItem of the registered archive. A failure inside the archive
    // leaves 2 (item not there) or 13 (item does not unpack) as the last error.
    virtual bool ExtractArchiveItem(std::u16string_view archivePath,
                                    std::u16string_view destinationFolder,
                                    std::u16string& dependentFiles) = 0;
    // False when the file is a certificate this build must never make trusted
    // (a release build refuses the repository's test certificate).
    virtual bool MayTrustCertificate(std::u16string_view path) = 0;
    virtual uint32_t LastError() const = 0;
};

// The Program Files folder + "\ZNWDriver\DovEzuvar\", or "C:\ZNWDriver\DovEzuvar\"
// when the shell has none. Always ends in a backslash.
std::u16string StagingFolderPath(Shell& shell);

// Creates every missing folder along the narrow path: 1 on success, -1 when the
// current directory cannot be read, a folder cannot be created, or the path is
// 260 bytes or longer.
int32_t CreateDirectoryPath(StagingFiles& files, const std::string& path);

struct StagingCreation {
    bool created = false;
    std::u16string failedPath;  // the folder that failed, as reported
    bool refused = false;       // an existing folder was not ours: leave it alone at the end
    std::u16string reason;      // a line for the log saying why a folder was refused
    // The staging folder was judged trusted once made: only then may the end of
    // the run remove it, since anything else at its path may lead elsewhere.
    bool judged = false;
};

// Makes the staging folder fresh with the model's subfolders. "ZNWDriver" must be
// absent or trusted; it is never re-secured, as a new DACL would not revoke the
// handles opened while it let others write. A staging folder left inside a
// trusted "ZNWDriver" is removed without following links. Every folder is judged
// again once it exists, so one slipped in meanwhile is caught; a creation that
// fails while "ZNWDriver" was not judged trusted counts as refused, as a link
// planted there meanwhile would explain it.
StagingCreation CreateStagingFolders(StagingFiles& files, std::u16string_view stagingFolder,
                                     const PrinterModel& model);

struct StagingFill {
    bool filled = false;
    std::u16string failedItem;  // the archive item that failed
    std::u16string reason;      // a line for the log when the certificate was refused
};

// Extracts the model's staging items: ARM64, IA64, Driver64, Driver32, then the
// root items, each list in order; stops at the first failure. A certificate the
// build refuses fails the filling too.
StagingFill FillStagingFolder(StagingFiles& files, std::u16string_view stagingFolder,
                              const PrinterModel& model, std::u16string& dependentFiles);

// Deletes the files and subfolders of the folder and, unless keepFolder is set,
// the folder itself. A link (the folder itself or an entry) is removed as a
// link and never descended into. True when every deletion succeeded.
bool RemoveDirectoryTree(StagingFiles& files, bool keepFolder, std::u16string_view folder);

}  // namespace tde
