#include "install/staging.h"

namespace tde {

std::u16string StagingFolderPath(Shell& shell) {
    std::u16string programFiles = shell.ProgramFilesFolder();
    if (programFiles.empty()) {
        return std::u16string(kFallbackStagingFolder);
    }
    return programFiles + std::u16string(kStagingSuffix);
}

int32_t CreateDirectoryPath(StagingFiles& files, const std::string& path) {
    std::string current;
    if (!files.GetCurrentDirectoryA(current)) {
        return -1;
    }
    // The path would not fit the buffer it is split in.
    if (path.size() >= kDirectoryPathBufferBytes) {
        return -1;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string piece = path.substr(start, end - start);
        start = end + 1;
        if (piece.empty() || piece == ".") {
            continue;
        }
        if (piece.find(':') != std::string::npos) {
            current = piece;
        } else {
            current += '\\';
            current += piece;
        }
        if (!files.PathExistsA(current) && !files.CreateDirectoryA(current) &&
            files.LastError() != kErrorAlreadyExists) {
            return -1;
        }
    }
    return 1;
}

namespace {

std::u16string WithoutTrailingBackslash(std::u16string_view path) {
    std::u16string trimmed(path);
    while (!trimmed.empty() && trimmed.back() == u'\\') {
        trimmed.pop_back();
    }
    return trimmed;
}

// The folder above the staging folder ("...\ZNWDriver"), without a backslash.
std::u16string ParentFolder(std::u16string_view stagingFolder) {
    std::u16string folder = WithoutTrailingBackslash(stagingFolder);
    size_t slash = folder.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : folder.substr(0, slash);
}

}  // namespace

StagingCreation CreateStagingFolders(StagingFiles& files, std::u16string_view stagingFolder,
                                     const PrinterModel& model) {
    StagingCreation result;
    // Anyone may create these below the drive's root. Whoever made them, a link
    // or another user's folder would let that user redirect or swap what an
    // elevated run unpacks and trusts: such a folder counts as not created.
    // Checked before creation, so nothing is made through a link, and after it,
    // so a folder slipped in meanwhile is caught too.
    const std::u16string guarded[] = {ParentFolder(stagingFolder),
                                      WithoutTrailingBackslash(stagingFolder)};
    auto refuse = [&](bool existingOnly) {
        for (const std::u16string& folder : guarded) {
            FolderTrust trust = files.CheckFolder(folder);
            if (trust != FolderTrust::Trusted && !(existingOnly && trust == FolderTrust::Absent)) {
                result.failedPath = folder;
                result.refused = true;
                return true;
            }
        }
        return false;
    };
    if (refuse(true)) {
        return result;
    }
    if (CreateDirectoryPath(files, files.ToNarrow(stagingFolder)) != 1) {
        result.failedPath = std::u16string(stagingFolder);
        return result;
    }
    if (refuse(false)) {
        return result;
    }
    for (const std::u16string& name : model.stagingSubfolders) {
        std::u16string subfolder = std::u16string(stagingFolder) + name;
        if (CreateDirectoryPath(files, files.ToNarrow(subfolder)) != 1) {
            result.failedPath = subfolder;
            return result;
        }
    }
    result.created = true;
    return result;
}

StagingFill FillStagingFolder(StagingFiles& files, std::u16string_view stagingFolder,
                              const PrinterModel& model, std::u16string& dependentFiles) {
    const std::u16string root(stagingFolder);
    const std::pair<const std::vector<std::u16string>*, std::u16string> lists[] = {
        {&model.arm64Items, root + u"ARM64\\"},
        {&model.ia64Items, root + u"IA64\\"},
        {&model.driver64Items, root + u"Driver64\\"},
        {&model.driver32Items, root + u"Driver32\\"},
        {&model.rootItems, root},
    };
    for (const auto& [items, destination] : lists) {
        for (const std::u16string& item : *items) {
            if (!files.ExtractArchiveItem(item, destination, dependentFiles)) {
                return {false, item};
            }
        }
    }
    return {true, u""};
}

bool RemoveDirectoryTree(StagingFiles& files, bool keepFolder, std::u16string_view folder) {
    // A link is removed as a link: descending would delete what it points at.
    const std::u16string self = WithoutTrailingBackslash(folder);
    if (files.IsLink(self)) {
        return keepFolder || files.RemoveDirectoryW(self) || files.DeleteFileW(self);
    }
    bool result = true;
    std::vector<FolderEntry> entries;
    files.FindEntries(std::u16string(folder) + u"\\*.*", entries);
    for (const FolderEntry& entry : entries) {
        if (entry.name == u"." || entry.name == u"..") {
            continue;
        }
        const std::u16string path = std::u16string(folder) + u"\\" + entry.name;
        if (entry.link) {
            if (!(entry.directory ? files.RemoveDirectoryW(path) : files.DeleteFileW(path))) {
                result = false;
            }
        } else if (files.IsDirectory(path)) {
            if (!keepFolder) {
                RemoveDirectoryTree(files, false, path);
            }
        } else if (!files.DeleteFileW(path)) {
            result = false;
        }
    }
    if (!keepFolder && !files.RemoveDirectoryW(folder)) {
        result = false;
    }
    return result;
}

}  // namespace tde
