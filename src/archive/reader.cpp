// The reader's directory: opening an image at its end record, walking the
// central directory, describing an item from its headers, the lookup by name,
// and the functions of archive.h that open, walk and close a reader.
#include "archive/reader.h"

#include <algorithm>

#include "archive/names.h"
#include "base/utf8.h"

namespace tde {

using namespace zip;

namespace {

constexpr size_t kMaxLookupNameBytes = 256;  // names of this many UTF-8 bytes or more are refused

}  // namespace

ArchiveStatus ArchiveReader::Open() {
    if (length_ <= 4) {
        return ArchiveStatus::OpenFailed;
    }
    // The end record is the signature nearest the image's end within its last
    // 65,535 bytes.
    const uint32_t scanned = std::min(length_, kEndScanLimit);
    const uint32_t lowest = length_ - scanned;
    int64_t endPosition = -1;
    for (int64_t p = static_cast<int64_t>(length_) - 4; p >= static_cast<int64_t>(lowest); --p) {
        if (image_[p] == 0x50 && Get32(image_ + p) == kEndSignature) {
            endPosition = p;
            break;
        }
    }
    if (endPosition < 0) {
        return ArchiveStatus::OpenFailed;
    }
    const uint8_t* end = At(static_cast<uint64_t>(endPosition), kEndRecordSize);
    if (end == nullptr) {
        return ArchiveStatus::OpenFailed;
    }
    const uint16_t disk = Get16(end + 4);
    const uint16_t centralDisk = Get16(end + 6);
    const uint16_t entriesOnDisk = Get16(end + 8);
    entryCount_ = Get16(end + 10);
    centralSize_ = Get32(end + 12);
    centralOffset_ = Get32(end + 16);
    if (disk != 0 || centralDisk != 0 || entriesOnDisk != entryCount_) {
        return ArchiveStatus::OpenFailed;
    }
    const uint64_t centralEnd = static_cast<uint64_t>(centralOffset_) + centralSize_;
    if (static_cast<uint64_t>(endPosition) < centralEnd) {
        return ArchiveStatus::OpenFailed;
    }
    // Bytes before the archive proper (a self-extractor stub, say) shift every
    // offset the archive records.
    archiveStart_ = static_cast<uint64_t>(endPosition) - centralEnd;
    GoToFirst();
    return ArchiveStatus::Ok;
}

bool ArchiveReader::ReadEntry() {
    const uint8_t* p = At(Absolute(currentOffset_), kCentralHeaderSize);
    if (p == nullptr || Get32(p) != kCentralSignature) {
        return false;
    }
    current_ = ReadCentralEntry(p);
    return true;
}

void ArchiveReader::GoToFirst() {
    currentIndex_ = 0;
    currentOffset_ = centralOffset_;
    currentValid_ = entryCount_ > 0 && ReadEntry();
}

bool ArchiveReader::GoToNext() {
    if (!currentValid_ || currentIndex_ + 1 >= entryCount_) {
        return false;
    }
    currentOffset_ +=
        kCentralHeaderSize + current_.nameLength + current_.extraLength + current_.commentLength;
    ++currentIndex_;
    currentValid_ = ReadEntry();
    return currentValid_;
}

bool ArchiveReader::GoTo(int32_t index) {
    if (!currentValid_ || index < currentIndex_) {
        GoToFirst();
    }
    while (currentValid_ && currentIndex_ < index) {
        if (!GoToNext()) {
            return false;
        }
    }
    return currentValid_ && currentIndex_ == index;
}

ArchiveStatus ArchiveReader::ValidateLocal(const CentralEntry& e, LocalLayout& layout) const {
    const uint64_t headerPosition = Absolute(e.localHeaderOffset);
    const uint8_t* p = At(headerPosition, kLocalHeaderSize);
    if (p == nullptr || Get32(p) != kLocalSignature) {
        return ArchiveStatus::Corrupt;
    }
    if (e.method != 0 && e.method != 8) {
        return ArchiveStatus::Corrupt;
    }
    const uint16_t flags = Get16(p + 6);
    if (Get16(p + 8) != e.method) {
        return ArchiveStatus::Corrupt;
    }
    if ((flags & kFlagDataDescriptor) == 0 &&
        (Get32(p + 14) != e.crc || Get32(p + 18) != e.compressedSize ||
         Get32(p + 22) != e.uncompressedSize)) {
        return ArchiveStatus::Corrupt;
    }
    const uint16_t nameLength = Get16(p + 26);
    if (nameLength != e.nameLength) {
        return ArchiveStatus::Corrupt;
    }
    layout.extraLength = Get16(p + 28);
    layout.extraPosition = headerPosition + kLocalHeaderSize + nameLength;
    layout.dataPosition = layout.extraPosition + layout.extraLength;
    return ArchiveStatus::Ok;
}

ArchiveStatus ArchiveReader::DescribeCurrent(ArchiveItemInfo& info) {
    if (cacheIndex_ == currentIndex_) {
        info = cache_;
        return ArchiveStatus::Ok;
    }
    const CentralEntry& e = current_;
    LocalLayout layout;
    if (ArchiveStatus s = ValidateLocal(e, layout); s != ArchiveStatus::Ok) {
        return s;
    }
    const uint8_t* extra = At(layout.extraPosition, layout.extraLength);
    if (extra == nullptr) {
        return ArchiveStatus::ReadFailed;
    }
    const uint8_t* storedName = At(Absolute(currentOffset_ + kCentralHeaderSize), e.nameLength);
    if (storedName == nullptr) {
        return ArchiveStatus::Corrupt;
    }

    ArchiveItemInfo result;
    result.index = currentIndex_;
    const std::u16string name =
        SanitizeItemName(Utf8ToUtf16({reinterpret_cast<const char*>(storedName), e.nameLength}));
    const size_t units = std::min(name.size(), static_cast<size_t>(kArchiveNameCapacity - 1));
    std::copy_n(name.begin(), units, result.name);
    result.name[units] = 0;
    result.attributes = FileAttributes(e);
    result.modificationTime = DosToFileTime(e.dosDate, e.dosTime);
    result.accessTime = result.modificationTime;
    result.creationTime = result.modificationTime;
    // An extended timestamp ("UT") in the local header overrides the DOS time.
    for (uint32_t pos = 0; pos + 4 <= layout.extraLength;) {
        const uint16_t id = Get16(extra + pos);
        const uint16_t size = Get16(extra + pos + 2);
        const uint8_t* data = extra + pos + 4;
        if (pos + 4 + size > layout.extraLength) {
            break;
        }
        if (id == 0x5455 && size >= 1) {
            const uint8_t present = data[0];
            uint32_t at = 1;
            uint64_t* targets[] = {&result.modificationTime, &result.accessTime,
                                   &result.creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if ((present & (1 << bit)) != 0 && at + 4 <= size) {
                    *targets[bit] = UnixToFileTime(static_cast<int32_t>(Get32(data + at)));
                    at += 4;
                }
            }
        }
        pos += 4 + size;
    }
    result.compressedSize = e.compressedSize;
    result.uncompressedSize = e.uncompressedSize;
    result.crc32 = e.crc;

    cache_ = result;
    cacheIndex_ = currentIndex_;
    info = result;
    return ArchiveStatus::Ok;
}

ArchiveStatus ArchiveReader::Find(std::u16string_view name, bool ignoreCase, int32_t& index,
                                  ArchiveItemInfo* info) {
    index = -1;
    if (info != nullptr) {
        *info = ArchiveItemInfo();
    }
    const std::string wanted = Utf16ToUtf8(name);
    if (wanted.size() >= kMaxLookupNameBytes) {
        return ArchiveStatus::NotFound;
    }
    const int32_t savedIndex = currentIndex_;
    const uint64_t savedOffset = currentOffset_;
    const bool savedValid = currentValid_;
    const CentralEntry savedEntry = current_;

    auto fold = [](uint8_t c) -> uint8_t {
        return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 'A') : c;
    };
    bool found = false;
    // Each lookup walks from the first entry, so a failed walk earlier does not
    // block later lookups.
    for (GoToFirst(); currentValid_; GoToNext()) {
        if (current_.nameLength == wanted.size()) {
            const uint8_t* stored =
                At(Absolute(currentOffset_ + kCentralHeaderSize), current_.nameLength);
            if (stored != nullptr) {
                bool equal = true;
                for (size_t i = 0; i < wanted.size() && equal; ++i) {
                    const uint8_t a = stored[i];
                    const uint8_t b = static_cast<uint8_t>(wanted[i]);
                    equal = ignoreCase ? fold(a) == fold(b) : a == b;
                }
                if (equal) {
                    found = true;
                    break;
                }
            }
        }
        if (currentIndex_ + 1 >= entryCount_) {
            break;
        }
    }
    if (!found) {
        currentIndex_ = savedIndex;
        currentOffset_ = savedOffset;
        currentValid_ = savedValid;
        current_ = savedEntry;
        return ArchiveStatus::NotFound;
    }
    CloseItem();
    index = currentIndex_;
    if (info == nullptr) {
        return ArchiveStatus::Ok;
    }
    const ArchiveStatus s = DescribeCurrent(*info);
    if (s != ArchiveStatus::Ok) {
        *info = ArchiveItemInfo();
    }
    return s;
}

ArchiveStatus ArchiveReader::Describe(int32_t index, ArchiveItemInfo& info) {
    info = ArchiveItemInfo();
    if (index < 0 || index >= entryCount_) {
        return ArchiveStatus::BadArgument;
    }
    if (!GoTo(index)) {
        return ArchiveStatus::Corrupt;
    }
    const ArchiveStatus s = DescribeCurrent(info);
    if (s != ArchiveStatus::Ok) {
        info = ArchiveItemInfo();
    }
    return s;
}

ArchiveStatus ArchiveReader::StoredName(int32_t index, std::string& name) {
    name.clear();
    if (index < 0 || index >= entryCount_) {
        return ArchiveStatus::BadArgument;
    }
    if (!GoTo(index)) {
        return ArchiveStatus::Corrupt;
    }
    const uint8_t* stored = At(Absolute(currentOffset_ + kCentralHeaderSize), current_.nameLength);
    if (stored == nullptr) {
        return ArchiveStatus::Corrupt;
    }
    name.assign(reinterpret_cast<const char*>(stored), current_.nameLength);
    return ArchiveStatus::Ok;
}

ArchiveStatus OpenFromMemory(const void* image, uint32_t length, const char* password,
                             ArchiveReader*& reader) {
    reader = nullptr;
    if (image == nullptr) {
        return ArchiveStatus::OpenFailed;
    }
    auto opened =
        std::make_unique<ArchiveReader>(static_cast<const uint8_t*>(image), length, password);
    if (opened->Open() != ArchiveStatus::Ok) {
        return ArchiveStatus::OpenFailed;
    }
    reader = opened.release();
    return ArchiveStatus::Ok;
}

ArchiveStatus FindItem(ArchiveReader* reader, std::u16string_view name, bool ignoreCase,
                       int32_t& index, ArchiveItemInfo* info) {
    if (reader == nullptr) {
        index = -1;
        if (info != nullptr) {
            *info = ArchiveItemInfo();
        }
        return ArchiveStatus::BadArgument;
    }
    return reader->Find(name, ignoreCase, index, info);
}

ArchiveStatus Close(ArchiveReader* reader) {
    if (reader == nullptr) {
        return ArchiveStatus::BadArgument;
    }
    reader->CloseItem();
    delete reader;
    return ArchiveStatus::Ok;
}

uint32_t ItemCount(const ArchiveReader* reader) {
    return reader == nullptr ? 0 : reader->Count();
}

ArchiveStatus DescribeItem(ArchiveReader* reader, int32_t index, ArchiveItemInfo& info) {
    if (reader == nullptr) {
        info = ArchiveItemInfo();
        return ArchiveStatus::BadArgument;
    }
    return reader->Describe(index, info);
}

ArchiveStatus StoredItemName(ArchiveReader* reader, int32_t index, std::string& name) {
    if (reader == nullptr) {
        name.clear();
        return ArchiveStatus::BadArgument;
    }
    return reader->StoredName(index, name);
}

}  // namespace tde
