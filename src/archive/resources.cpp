// The process-wide resource settings, registration of the program's archive,
// and the fetch of named resource files.
#include <cstring>
#include <memory>

#include "archive/archive.h"
#include "archive/names.h"
#include "archive/platform.h"

namespace tde {

namespace {

constexpr char16_t kMemoryArchiveName[] = u"membuffer";

struct Settings {
    ModuleHandle moduleInstance = nullptr;
    std::u16string resourceFolder;
    ResourceSource source = ResourceSource::Folder;
    std::u16string archiveName;
    std::u16string archivePassword;
    ArchiveReader* archiveHandle = nullptr;
    std::unique_ptr<uint8_t[]> archiveImage;
    bool keepArchiveOpen = true;
};

Settings& State() {
    static Settings settings;
    return settings;
}

ResourcePlatform* g_platform = nullptr;

}  // namespace

ResourcePlatform& CurrentResourcePlatform() {
    return g_platform != nullptr ? *g_platform : SystemResourcePlatform();
}

void SetResourcePlatform(ResourcePlatform* platform) {
    g_platform = platform;
}

void CUiResources::SetModuleInstance(ModuleHandle module) {
    State().moduleInstance = module;
}

ModuleHandle CUiResources::GetResourceModule() {
    return State().moduleInstance;
}

std::u16string CUiResources::GetProgramFolder() {
    if (State().moduleInstance == nullptr) {
        return {};
    }
    std::u16string path = CurrentResourcePlatform().ModuleFilePath(State().moduleInstance);
    const size_t slash = path.rfind(u'\\');
    if (slash != std::u16string::npos) {
        path.resize(slash + 1);
    }
    return path;
}

void CUiResources::SetResourceFolder(std::u16string_view folder) {
    std::u16string& stored = State().resourceFolder;
    stored.assign(folder);
    if (!stored.empty() && stored.back() != u'\\' && stored.back() != u'/') {
        stored.push_back(u'\\');
    }
}

const std::u16string& CUiResources::GetResourceFolder() {
    return State().resourceFolder;
}

void CUiResources::SetResourceSource(ResourceSource source) {
    State().source = source;
}

ResourceSource CUiResources::GetResourceSource() {
    return State().source;
}

void CUiResources::RegisterArchiveImage(const void* bytes, uint32_t length,
                                        std::u16string_view password) {
    Settings& s = State();
    // A second registration from memory keeps the first archive.
    if (s.archiveName == kMemoryArchiveName) {
        return;
    }
    if (s.keepArchiveOpen && s.archiveHandle != nullptr) {
        Close(s.archiveHandle);
        s.archiveHandle = nullptr;
    }
    s.archiveName = kMemoryArchiveName;
    // The reader works on a private copy, so the caller's memory (a module
    // resource) is not needed afterwards.
    s.archiveImage.reset();
    if (bytes != nullptr && length > 0) {
        s.archiveImage = std::make_unique_for_overwrite<uint8_t[]>(length);
        std::memcpy(s.archiveImage.get(), bytes, length);
    }
    s.keepArchiveOpen = true;
    s.archivePassword.assign(password);
    const std::string narrow = CurrentResourcePlatform().ToAnsi(password);
    ArchiveReader* reader = nullptr;
    OpenFromMemory(s.archiveImage.get(), s.archiveImage ? length : 0, narrow.c_str(), reader);
    s.archiveHandle = reader;  // none when the image is not an archive
}

const std::u16string& CUiResources::GetArchiveName() {
    return State().archiveName;
}

const std::u16string& CUiResources::GetArchivePassword() {
    return State().archivePassword;
}

ArchiveReader* CUiResources::GetArchiveHandle() {
    return State().archiveHandle;
}

bool CUiResources::IsArchiveKeptOpen() {
    return State().keepArchiveOpen;
}

void CUiResources::ReleaseResources() {
    Settings& s = State();
    if (s.keepArchiveOpen && s.archiveHandle != nullptr) {
        Close(s.archiveHandle);
        s.archiveHandle = nullptr;
    }
    s.archiveImage.reset();
}

void CUiResources::ResetAll() {
    ReleaseResources();
    Settings& s = State();
    if (s.archiveHandle != nullptr) {
        Close(s.archiveHandle);
    }
    s = Settings();
}

bool RegisterEmbeddedArchive() {
    CUiResources::SetResourceSource(ResourceSource::ArchiveInModule);
    CUiResources::SetResourceFolder(CUiResources::GetProgramFolder() + kResourceSubfolder);
    const void* bytes = nullptr;
    uint32_t length = 0;
    if (!CurrentResourcePlatform().FindArchiveResource(CUiResources::GetResourceModule(), bytes,
                                                       length) ||
        bytes == nullptr || length == 0) {
        return false;
    }
    CUiResources::RegisterArchiveImage(bytes, length, kArchivePassword);
    return true;
}

void ReleaseResources() {
    CUiResources::ReleaseResources();
}

bool DescribeRegisteredItem(std::u16string_view path, ArchiveItemInfo& info) {
    ArchiveReader* reader = CUiResources::GetArchiveHandle();
    int32_t index = -1;
    return reader != nullptr &&
           FindItem(reader, ToItemName(path), true, index, &info) == ArchiveStatus::Ok;
}

bool FetchResourceFile(std::u16string_view name, std::vector<uint8_t>& bytes, std::string& error) {
    bytes.clear();
    error.clear();
    if (!CUiResources::GetArchiveName().empty()) {
        ArchiveReader* reader = CUiResources::GetArchiveHandle();
        if (reader == nullptr) {
            error = "Error opening zip file";
            return false;
        }
        int32_t index = -1;
        ArchiveItemInfo info;
        if (FindItem(reader, ToItemName(name), true, index, &info) != ArchiveStatus::Ok) {
            error = "Could not find ziped file";
            return false;
        }
        if (info.uncompressedSize == 0) {
            error = "File is empty";
            return false;
        }
        if (info.uncompressedSize > MaxResourceFileSize) {
            error = "File too large";
            return false;
        }
        std::vector<uint8_t> buffer(info.uncompressedSize);
        if (!ArchiveSucceeded(UnzipItem(reader, index, buffer.data(), info.uncompressedSize))) {
            error = "Could not unzip file";
            return false;
        }
        bytes = std::move(buffer);
        return true;
    }

    const std::u16string path = CUiResources::GetResourceFolder() + std::u16string(name);
    switch (CurrentResourcePlatform().ReadWholeFile(path, MaxResourceFileSize, bytes)) {
        case FileReadResult::Ok:
            return true;
        case FileReadResult::OpenFailed:
            error = "Error opening file";
            break;
        case FileReadResult::Empty:
            error = "File is empty";
            break;
        case FileReadResult::TooLarge:
            error = "File too large";
            break;
        case FileReadResult::ShortRead:
            error = "Could not read file";
            break;
    }
    bytes.clear();
    return false;
}

}  // namespace tde
