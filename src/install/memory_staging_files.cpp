#include "install/memory_staging_files.h"

#include <algorithm>
#include <utility>

namespace tde {

namespace {

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

std::u16string Widen(const std::string& text) {
    std::u16string wide;
    for (unsigned char c : text) {
        wide.push_back(c);
    }
    return wide;
}

std::u16string LastComponent(std::u16string_view path) {
    size_t slash = path.rfind(u'\\');
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

bool IsDrive(const std::u16string& normalised) {
    return normalised.size() == 2 && normalised[1] == u':';
}

}  // namespace

std::u16string MemoryStagingFiles::Normalise(std::u16string_view path) {
    std::u16string out;
    for (char16_t c : path) {
        c = c == u'/' ? u'\\' : Lower(c);
        if (c == u'\\' && !out.empty() && out.back() == u'\\') {
            continue;
        }
        out.push_back(c);
    }
    while (!out.empty() && out.back() == u'\\') {
        out.pop_back();
    }
    return out;
}

std::u16string MemoryStagingFiles::Resolve(std::u16string_view path, bool followLast) const {
    std::u16string normalised = Normalise(path);
    std::u16string resolved;
    size_t start = 0;
    for (int hops = 0; start <= normalised.size() && hops < 64; ++hops) {
        size_t end = normalised.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = normalised.size();
        }
        resolved += (resolved.empty() ? u"" : u"\\") + normalised.substr(start, end - start);
        const bool last = end == normalised.size();
        start = end + 1;
        auto it = nodes_.find(resolved);
        if (it != nodes_.end() && it->second.link && (!last || followLast)) {
            resolved = Normalise(it->second.target);
        }
        if (last) {
            break;
        }
    }
    return resolved;
}

bool MemoryStagingFiles::ParentIsFolder(const std::u16string& normalised) const {
    size_t slash = normalised.rfind(u'\\');
    if (slash == std::u16string::npos) {
        return false;
    }
    std::u16string parent = normalised.substr(0, slash);
    if (IsDrive(parent)) {
        return true;
    }
    auto it = nodes_.find(parent);
    return it != nodes_.end() && it->second.directory && !it->second.link;
}

void MemoryStagingFiles::AddArchiveItem(std::u16string_view path, std::string content) {
    archive[Normalise(path)] = std::move(content);
}

void MemoryStagingFiles::AddFolder(std::u16string_view path, std::u16string_view owner,
                                   bool othersMayWrite) {
    Node node;
    node.name = LastComponent(Normalise(path));
    node.directory = true;
    node.owner = owner;
    node.othersMayWrite = othersMayWrite;
    nodes_[Normalise(path)] = node;
}

void MemoryStagingFiles::AddFile(std::u16string_view path, std::string content) {
    Node node;
    node.name = LastComponent(Normalise(path));
    node.content = std::move(content);
    nodes_[Normalise(path)] = node;
}

void MemoryStagingFiles::AddLink(std::u16string_view path, std::u16string_view target,
                                 bool directory) {
    Node node;
    node.name = LastComponent(Normalise(path));
    node.directory = directory;
    node.link = true;
    node.target = target;
    nodes_[Normalise(path)] = node;
}

const MemoryStagingFiles::Node* MemoryStagingFiles::Find(std::u16string_view path) const {
    auto it = nodes_.find(Resolve(path, false));
    return it == nodes_.end() ? nullptr : &it->second;
}

std::vector<std::u16string> MemoryStagingFiles::Paths() const {
    std::vector<std::u16string> paths;
    for (const auto& [path, node] : nodes_) {
        paths.push_back(path);
    }
    return paths;
}

std::vector<std::u16string> MemoryStagingFiles::PathsBelow(std::u16string_view folder) const {
    const std::u16string prefix = Normalise(folder) + u"\\";
    std::vector<std::u16string> paths;
    for (const auto& [path, node] : nodes_) {
        if (path.compare(0, prefix.size(), prefix) == 0) {
            paths.push_back(path);
        }
    }
    return paths;
}

bool MemoryStagingFiles::Begin(FileOp op) {
    return log_.Begin(op, lastError_);
}

bool MemoryStagingFiles::Fail(uint32_t error) {
    lastError_ = error;
    return false;
}

std::string MemoryStagingFiles::ToNarrow(std::u16string_view text) {
    std::string narrow;
    for (char16_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

bool MemoryStagingFiles::GetCurrentDirectoryA(std::string& path) {
    if (Begin(FileOp::GetCurrentDirectoryA)) {
        return false;
    }
    path = currentDirectory;
    return true;
}

bool MemoryStagingFiles::PathExistsA(const std::string& path) {
    std::u16string resolved = Resolve(Widen(path), true);
    return IsDrive(resolved) || nodes_.count(resolved) != 0;
}

bool MemoryStagingFiles::CreateDirectoryA(const std::string& path) {
    if (beforeFirstCreation) {
        std::exchange(beforeFirstCreation, nullptr)(*this);
    }
    folderCalls.emplace_back(FileOp::CreateDirectoryA, Normalise(Widen(path)));
    if (Begin(FileOp::CreateDirectoryA)) {
        return false;
    }
    std::u16string resolved = Resolve(Widen(path), true);
    if (IsDrive(resolved) || nodes_.count(resolved) != 0) {
        return Fail(kErrorAlreadyExists);
    }
    if (!ParentIsFolder(resolved)) {
        return Fail(kErrorPathNotFound);
    }
    Node node;
    node.name = LastComponent(Normalise(Widen(path)));
    node.directory = true;
    nodes_[resolved] = node;
    return true;
}

FolderTrust MemoryStagingFiles::CheckFolder(std::u16string_view path) {
    folderCalls.emplace_back(FileOp::CheckFolder, Normalise(path));
    if (Begin(FileOp::CheckFolder)) {
        return FolderTrust::Unknown;
    }
    const Node* node = Find(path);
    FolderFacts facts;
    facts.exists = node != nullptr;
    if (node != nullptr) {
        facts.link = node->link;
        facts.directory = node->directory;
        facts.owner = node->owner == kAdministrators       ? Principal::Administrators
                      : node->owner == u"SYSTEM"           ? Principal::System
                      : node->owner == u"TrustedInstaller" ? Principal::TrustedInstaller
                                                           : Principal::Other;
        facts.dacl = StagingFolderFacts().dacl;
        if (node->othersMayWrite) {
            facts.dacl.push_back({Principal::Other, true, 0x1301BF});  // Modify
        }
    }
    return JudgeFolder(facts);
}

bool MemoryStagingFiles::IsLink(std::u16string_view path) {
    const Node* node = Find(path);
    return node != nullptr && node->link;
}

bool MemoryStagingFiles::IsDirectory(std::u16string_view path) {
    auto it = nodes_.find(Resolve(path, true));
    return it != nodes_.end() && it->second.directory;
}

bool MemoryStagingFiles::FindEntries(std::u16string_view pattern,
                                     std::vector<FolderEntry>& entries) {
    entries.clear();
    if (Begin(FileOp::FindEntries)) {
        return false;
    }
    std::u16string folder(pattern);
    size_t slash = folder.rfind(u'\\');
    folder = slash == std::u16string::npos ? u"" : folder.substr(0, slash);
    const std::u16string resolved = Resolve(folder, true);
    auto it = nodes_.find(resolved);
    if (it == nodes_.end() || !it->second.directory) {
        return Fail(kErrorFileNotFound);
    }
    entries.push_back({u".", true, false});
    entries.push_back({u"..", true, false});
    const std::u16string prefix = resolved + u"\\";
    for (const auto& [path, node] : nodes_) {
        if (path.compare(0, prefix.size(), prefix) == 0 &&
            path.find(u'\\', prefix.size()) == std::u16string::npos) {
            entries.push_back({node.name, node.directory, node.link});
        }
    }
    return true;
}

bool MemoryStagingFiles::DeleteFileW(std::u16string_view path) {
    if (Begin(FileOp::DeleteFileW)) {
        return false;
    }
    auto it = nodes_.find(Resolve(path, false));
    if (it == nodes_.end()) {
        return Fail(kErrorFileNotFound);
    }
    if (it->second.directory) {
        return Fail(kErrorAccessDenied);
    }
    nodes_.erase(it);
    return true;
}

bool MemoryStagingFiles::RemoveDirectoryW(std::u16string_view path) {
    if (Begin(FileOp::RemoveDirectoryW)) {
        return false;
    }
    const std::u16string resolved = Resolve(path, false);
    auto it = nodes_.find(resolved);
    if (it == nodes_.end()) {
        return Fail(kErrorFileNotFound);
    }
    if (!it->second.directory) {
        return Fail(267);  // ERROR_DIRECTORY
    }
    if (!it->second.link && !PathsBelow(resolved).empty()) {
        return Fail(kErrorDirNotEmpty);
    }
    nodes_.erase(it);
    return true;
}

bool MemoryStagingFiles::ExtractArchiveItem(std::u16string_view archivePath,
                                            std::u16string_view destinationFolder,
                                            std::u16string& dependentFiles) {
    if (Begin(FileOp::ExtractArchiveItem)) {
        return false;
    }
    size_t slash = archivePath.rfind(u'\\');
    if (slash == std::u16string_view::npos) {
        return Fail(kErrorFileNotFound);
    }
    const std::u16string_view fileName = archivePath.substr(slash + 1);
    dependentFiles.append(fileName);
    auto item = archive.find(Normalise(archivePath));
    if (item == archive.end()) {
        return Fail(kErrorFileNotFound);
    }
    for (const std::u16string& broken : brokenItems) {
        if (Normalise(broken) == Normalise(archivePath)) {
            return Fail(kErrorInvalidData);
        }
    }
    const std::u16string destination =
        Resolve(std::u16string(destinationFolder) + std::u16string(fileName), true);
    if (!ParentIsFolder(destination)) {
        return Fail(kErrorPathNotFound);
    }
    auto existing = nodes_.find(destination);
    if (existing != nodes_.end() && existing->second.directory) {
        return Fail(kErrorAccessDenied);
    }
    Node node;
    node.name = std::u16string(fileName);
    node.content = item->second;
    nodes_[destination] = node;
    return true;
}

}  // namespace tde
