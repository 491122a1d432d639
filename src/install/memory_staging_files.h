// Staging-folder file operations on an in-memory tree of folders, files and
// links, with owners, an archive of named items, every call logged and any call
// failing on request.
#pragma once

#include "install/staging.h"
#include "base/fault_plan.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tde {

enum class FileOp {
    GetCurrentDirectoryA,
    CreateDirectoryA,
    CheckFolder,
    FindEntries,
    DeleteFileW,
    RemoveDirectoryW,
    ExtractArchiveItem,
};

class MemoryStagingFiles final : public StagingFiles {
  public:
    static constexpr uint32_t kEveryCall = FaultLog<FileOp>::kEveryCall;
    static constexpr std::u16string_view kAdministrators = u"Administrators";

    struct Node {
        std::u16string name;  // as created, for listings
        bool directory = false;
        bool link = false;
        std::u16string target;  // a link's target path
        std::u16string owner = std::u16string(kAdministrators);
        bool othersMayWrite = false;  // a DACL that lets Users modify it
        std::string content;
    };

    std::string currentDirectory = "C:\\Users\\setup";
    // Archive items by path (letter case ignored) and their bytes.
    std::map<std::u16string, std::string> archive;
    bool refuseCertificate = false;
    // Items that are in the archive but do not unpack.
    std::vector<std::u16string> brokenItems;
    // Runs once, at the first CreateDirectoryA: what another user does meanwhile.
    std::function<void(MemoryStagingFiles&)> beforeFirstCreation;

    void AddArchiveItem(std::u16string_view path, std::string content);
    // Owners "Administrators", "SYSTEM" and "TrustedInstaller" are those principals;
    // any other name is another user.
    void AddFolder(std::u16string_view path, std::u16string_view owner = kAdministrators,
                   bool othersMayWrite = false);
    void AddFile(std::u16string_view path, std::string content);
    void AddLink(std::u16string_view path, std::u16string_view target, bool directory);

    // The node at the path, links not followed; null when none.
    const Node* Find(std::u16string_view path) const;
    // Every path in the tree (normalised: lower case, single backslashes).
    std::vector<std::u16string> Paths() const;
    // Paths below folder (links not followed), the folder itself excluded.
    std::vector<std::u16string> PathsBelow(std::u16string_view folder) const;

    void FailCall(FileOp op, uint32_t error, uint32_t onCall = 1) {
        log_.FailCall(op, error, onCall);
    }
    const std::vector<FileOp>& Calls() const { return log_.Calls(); }
    // The folders created and judged, normalised, in call order.
    std::vector<std::pair<FileOp, std::u16string>> folderCalls;
    size_t CallCount(FileOp op) const { return log_.CallCount(op); }

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
    bool MayTrustCertificate(std::u16string_view) override {
        lastError_ = refuseCertificate ? kErrorInvalidData : lastError_;
        return !refuseCertificate;
    }
    uint32_t LastError() const override { return lastError_; }

    static std::u16string Normalise(std::u16string_view path);

  private:
    bool Begin(FileOp op);
    bool Fail(uint32_t error);
    // The path with every link along it replaced by its target; the last
    // component is followed only when followLast is set.
    std::u16string Resolve(std::u16string_view path, bool followLast) const;
    bool ParentIsFolder(const std::u16string& normalised) const;

    std::map<std::u16string, Node> nodes_;
    FaultLog<FileOp> log_;
    uint32_t lastError_ = 0;
};

}  // namespace tde
