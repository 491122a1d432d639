// The staging folder's file operations on this machine's file system.
#pragma once

#include "install/folder_trust_win32.h"
#include "install/staging.h"

namespace tde {

// ANSI directory calls for the folder chain (each folder made with
// kStagingFolderSddl), wide calls for checks, listing and removal,
// ExtractArchiveItem of the registered archive for the files.
class Win32StagingFiles final : public StagingFiles {
  public:
    std::string ToNarrow(std::u16string_view text) override;
    bool GetCurrentDirectoryA(std::string& path) override;
    bool PathExistsA(const std::string& path) override;
    bool CreateDirectoryA(const std::string& path) override;
    FolderTrust CheckFolder(std::u16string_view path) override;
    bool IsLink(std::u16string_view path) override;
    bool IsDirectory(std::u16string_view path) override;
    bool FindEntries(std::u16string_view pattern, std::vector<FolderEntry>& entries) override;
    bool DeleteFileW(std::u16string_view path) override;
    bool RemoveDirectoryW(std::u16string_view path) override;
    bool ExtractArchiveItem(std::u16string_view archivePath, std::u16string_view destinationFolder,
                            std::u16string& dependentFiles) override;
    bool MayTrustCertificate(std::u16string_view path) override;
    uint32_t LastError() const override;
};

// The SHA-256 of the file's bytes as 64 lower-case hex digits; empty when it
// cannot be read.
std::string FileSha256(std::u16string_view path);

}  // namespace tde
