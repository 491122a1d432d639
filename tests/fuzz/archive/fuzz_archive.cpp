// Fuzzes the archive reader over whole images: open, list, find by the stored
// names (as stored and letter case swapped), unzip in pieces, the fetch
// through the resource settings, and extraction to the in-memory platform by
// the stored names into several destination folders. The image is copied into
// a buffer of its exact size so any read past its end trips the address
// sanitizer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/names.h"
#include "archive/platform.h"
#include "base/utf8.h"

namespace {

constexpr uint32_t kMaxItems = 64;
constexpr uint32_t kPiece = 64 * 1024;
constexpr uint32_t kMaxOutputPerItem = 1 << 20;

void UnzipInPieces(tde::ArchiveReader* reader, int32_t index, uint8_t* piece) {
    uint32_t produced = 0;
    tde::ArchiveStatus s;
    do {
        s = tde::UnzipItem(reader, index, piece, kPiece);
        produced += kPiece;
    } while (s == tde::ArchiveStatus::More && produced < kMaxOutputPerItem);
}

std::u16string SwapCase(std::u16string name) {
    for (char16_t& c : name) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        } else if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return name;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Destination folders as the installer forms them, and odd ones.
const char16_t* const kFolders[] = {u"C:\\ZNWDriver\\DovEzuvar\\Driver32\\", u"C:\\x\\..\\",
                                    u"\\\\?\\C:\\d\\", u"d/", u""};

// Extracts the item by path into folder: whatever the outcome, the name after
// the path's last "\" is recorded, and the only file written is that name,
// a plain file name, in the folder, holding the found item's size.
void ExtractInto(tde::MemoryResourcePlatform& platform, tde::ArchiveReader* reader,
                 std::u16string_view path, std::u16string_view folder) {
    platform.files.clear();
    std::u16string dependent = u"<";
    const bool ok = tde::ExtractArchiveItem(path, folder, dependent);
    const size_t slash = path.rfind(u'\\');
    const std::u16string_view fileName =
        slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
    Check(dependent == u"<" + std::u16string(fileName));
    Check(platform.files.size() == (ok ? 1u : 0u));
    for (const auto& [written, bytes] : platform.files) {
        Check(written.size() > folder.size() && written.compare(0, folder.size(), folder) == 0);
        const std::u16string_view rest = std::u16string_view(written).substr(folder.size());
        Check(rest == fileName);
        Check(rest.find_first_of(u"\\/:") == std::u16string_view::npos);
        Check(rest.find_first_not_of(u". ") != std::u16string_view::npos);
        int32_t index = -1;
        tde::ArchiveItemInfo info;
        Check(tde::FindItem(reader, tde::ToItemName(path), true, index, &info) ==
              tde::ArchiveStatus::Ok);
        Check(bytes.size() == info.uncompressedSize);
    }
}

void ExtractEveryItem(const uint8_t* image, uint32_t size) {
    static tde::MemoryResourcePlatform platform;
    tde::CUiResources::ResetAll();
    tde::SetResourcePlatform(&platform);
    tde::CUiResources::SetResourceSource(tde::ResourceSource::ArchiveInModule);
    tde::CUiResources::RegisterArchiveImage(image, size, tde::kArchivePassword);
    tde::ArchiveReader* reader = tde::CUiResources::GetArchiveHandle();
    const uint32_t count = reader == nullptr ? 0 : tde::ItemCount(reader);
    for (uint32_t i = 0; i < count && i < 8; ++i) {
        std::string stored;
        if (tde::StoredItemName(reader, static_cast<int32_t>(i), stored) !=
            tde::ArchiveStatus::Ok) {
            continue;
        }
        // The stored name in Windows form, as the catalogue writes paths.
        std::u16string path = tde::Utf8ToUtf16(stored);
        std::replace(path.begin(), path.end(), u'/', u'\\');
        const char16_t* folder = kFolders[i % std::size(kFolders)];
        ExtractInto(platform, reader, path, folder);
        ExtractInto(platform, reader, SwapCase(path), folder);
        // Only the first separator in Windows form: the rest stays in the last part.
        path = tde::Utf8ToUtf16(stored);
        const size_t first = path.find(u'/');
        if (first != std::u16string::npos) {
            path[first] = u'\\';
            ExtractInto(platform, reader, path, folder);
        }
    }
    tde::CUiResources::ResetAll();
    tde::SetResourcePlatform(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8 * 1024 * 1024) {
        return 0;
    }
    std::unique_ptr<uint8_t[]> image(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0) {
        std::memcpy(image.get(), data, size);
    }
    static std::unique_ptr<uint8_t[]> piece(new uint8_t[kPiece]);

    tde::ArchiveReader* reader = nullptr;
    if (tde::OpenFromMemory(image.get(), static_cast<uint32_t>(size), "kdw20190304", reader) ==
        tde::ArchiveStatus::Ok) {
        const uint32_t count = tde::ItemCount(reader);
        for (uint32_t i = 0; i < count && i < kMaxItems; ++i) {
            const int32_t index = static_cast<int32_t>(i);
            tde::ArchiveItemInfo info;
            tde::DescribeItem(reader, index, info);
            std::string stored;
            if (tde::StoredItemName(reader, index, stored) == tde::ArchiveStatus::Ok) {
                const std::u16string name = tde::Utf8ToUtf16(stored);
                int32_t found = -1;
                tde::FindItem(reader, name, false, found, &info);
                tde::FindItem(reader, SwapCase(name), true, found, &info);
                if (found >= 0) {
                    UnzipInPieces(reader, found, piece.get());
                }
            }
            UnzipInPieces(reader, index, piece.get());
        }
        // The interleaved reads must give each item what one call gives.
        const uint32_t batch = std::min(count, kMaxItems);
        std::vector<std::vector<uint8_t>> one(batch), many(batch);
        std::vector<tde::ArchiveStatus> single(batch), interleaved(batch);
        for (uint32_t i = 0; i < batch; ++i) {
            tde::ArchiveItemInfo info;
            tde::DescribeItem(reader, static_cast<int32_t>(i), info);
            const uint32_t length = std::min(info.uncompressedSize, kPiece);
            one[i].assign(length, 0);
            many[i].assign(length, 0);
            single[i] = tde::UnzipItem(reader, static_cast<int32_t>(i), one[i].data(), length);
        }
        uint32_t handed = 0;
        tde::UnzipItemsInterleaved(
            reader, 3,
            [&](int32_t& index, void*& buffer, uint32_t& length) {
                if (handed == batch) {
                    return false;
                }
                index = static_cast<int32_t>(handed);
                buffer = many[handed].data();
                length = static_cast<uint32_t>(many[handed].size());
                ++handed;
                return true;
            },
            [&](int32_t index, void*, tde::ArchiveStatus status) {
                interleaved[static_cast<size_t>(index)] = status;
            });
        for (uint32_t i = 0; i < batch; ++i) {
            if (interleaved[i] != single[i] ||
                (tde::ArchiveSucceeded(single[i]) && many[i] != one[i])) {
                std::abort();
            }
        }
        int32_t found = -1;
        tde::FindItem(reader, u"res.xml", true, found, nullptr);
        tde::UnzipItem(reader, static_cast<int32_t>(count), piece.get(), 1);
        tde::Close(reader);
    }

    // The program's path: register the image, fetch the language file, release.
    tde::CUiResources::ResetAll();
    tde::CUiResources::RegisterArchiveImage(image.get(), static_cast<uint32_t>(size),
                                            tde::kArchivePassword);
    std::vector<uint8_t> bytes;
    std::string error;
    // A failed fetch hands out no bytes and says why.
    const bool fetched = tde::FetchResourceFile(u"lan_en.xml", bytes, error);
    Check(fetched ? !bytes.empty() && error.empty() : bytes.empty() && !error.empty());
    tde::ReleaseResources();

    ExtractEveryItem(image.get(), static_cast<uint32_t>(size));
    return 0;
}
