#include <algorithm>

#include "archive/names.h"
#include "archive/platform.h"
#include "base/utf8.h"

namespace tde {

std::u16string MemoryResourcePlatform::ModuleFilePath(ModuleHandle module) {
    auto it = modulePaths.find(module);
    return it == modulePaths.end() ? std::u16string() : it->second;
}

bool MemoryResourcePlatform::FindArchiveResource(ModuleHandle module, const void*& bytes,
                                                 uint32_t& length) {
    auto it = moduleResources.find(module);
    if (it == moduleResources.end()) {
        return false;
    }
    bytes = it->second.data();
    length = static_cast<uint32_t>(it->second.size());
    return true;
}

std::string MemoryResourcePlatform::ToAnsi(std::u16string_view text) {
    return Utf16ToUtf8(text);
}

FileReadResult MemoryResourcePlatform::ReadWholeFile(std::u16string_view path, uint32_t maxSize,
                                                     std::vector<uint8_t>& bytes) {
    bytes.clear();
    const std::u16string key(path);
    auto it = files.find(key);
    if (it == files.end() ||
        std::find(unopenable.begin(), unopenable.end(), key) != unopenable.end()) {
        return FileReadResult::OpenFailed;
    }
    if (it->second.empty()) {
        return FileReadResult::Empty;
    }
    if (it->second.size() > maxSize) {
        return FileReadResult::TooLarge;
    }
    if (std::find(shortReads.begin(), shortReads.end(), key) != shortReads.end()) {
        return FileReadResult::ShortRead;
    }
    bytes = it->second;
    return FileReadResult::Ok;
}

bool MemoryResourcePlatform::WriteWholeFile(std::u16string_view path, const void* bytes,
                                            uint32_t length, std::u16string_view sddl) {
    const std::u16string key(path);
    if (std::find(unopenable.begin(), unopenable.end(), key) != unopenable.end()) {
        return false;
    }
    creations.push_back({key, std::u16string(sddl), files.erase(key) != 0});
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t written = length;
    if (writeLimit >= 0 && static_cast<uint64_t>(writeLimit) < length) {
        written = static_cast<uint32_t>(writeLimit);
    }
    files[key].assign(p, p + written);
    return written == length;
}

}  // namespace tde
