// Extraction of one archive item to disk through the registered archive.
#include <memory>

#include "archive/archive.h"
#include "archive/names.h"
#include "archive/platform.h"

namespace tde {

bool ExtractArchiveItem(std::u16string_view archivePath, std::u16string_view destinationFolder,
                        std::u16string& dependentFiles) {
    const size_t slash = archivePath.rfind(u'\\');
    if (slash == std::u16string_view::npos) {
        return false;
    }
    // The file keeps the letter case written in the path, whatever the stored
    // name's case; the spooler later looks for exactly these names.
    const std::u16string_view fileName = archivePath.substr(slash + 1);
    dependentFiles.append(fileName);
    const std::u16string destination = std::u16string(destinationFolder) + std::u16string(fileName);

    // The file must land in the folder: a last part that holds another
    // separator, a drive or stream colon, or is only dots and spaces (which
    // Windows reads as "." or "..") would put it elsewhere.
    if (fileName.find_first_of(u"/:") != std::u16string_view::npos ||
        fileName.find_first_not_of(u". ") == std::u16string_view::npos) {
        return false;
    }
    if (CUiResources::GetResourceSource() != ResourceSource::ArchiveInModule ||
        !CUiResources::IsArchiveKeptOpen()) {
        return false;
    }
    ArchiveReader* reader = CUiResources::GetArchiveHandle();
    if (reader == nullptr) {
        return false;
    }
    int32_t index = -1;
    ArchiveItemInfo info;
    if (FindItem(reader, ToItemName(archivePath), true, index, &info) != ArchiveStatus::Ok) {
        return false;
    }
    const uint32_t size = info.uncompressedSize;
    if (size == 0 || size > MaxResourceFileSize) {
        return false;
    }
    // The whole item in one buffer and one write: nothing is streamed.
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(size);
    if (!ArchiveSucceeded(UnzipItem(reader, index, buffer.get(), size))) {
        return false;
    }
    return WriteBufferToFile(destination, buffer.get(), size);
}

bool WriteBufferToFile(std::u16string_view path, const void* bytes, uint32_t length) {
    return CurrentResourcePlatform().WriteWholeFile(path, bytes, length, kExtractedFileSddl);
}

}  // namespace tde
