// The archive reader: a ZIP subset (no ZIP64, one disk, stored or deflated,
// Traditional PKWARE encryption) read from a memory image that is never read
// past its end.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include <zlib.h>

#include "archive/archive.h"
#include "archive/names.h"
#include "archive/zip_crypto.h"
#include "base/utf8.h"

namespace tde {

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kEndScanLimit = 65535;
constexpr uint32_t kChunkSize = 16384;
constexpr uint32_t kEncryptionHeaderSize = 12;
constexpr size_t kMaxLookupNameBytes = 256;  // names of this many UTF-8 bytes or more are refused
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct CentralEntry {
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
};

// What validating an item's local header yields.
struct LocalLayout {
    uint64_t extraPosition = 0;  // absolute, in the image
    uint16_t extraLength = 0;
    uint64_t dataPosition = 0;  // absolute, in the image
};

constexpr uint64_t kUnixToFileTime = 11644473600ull;  // seconds from 1601 to 1970
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000ull;

uint64_t UnixToFileTime(int64_t seconds) {
    const int64_t since1601 = seconds + static_cast<int64_t>(kUnixToFileTime);
    return since1601 < 0 ? 0 : static_cast<uint64_t>(since1601) * kFileTimeUnitsPerSecond;
}

// DOS date and time are the local time of the machine that wrote the archive.
uint64_t DosToFileTime(uint16_t date, uint16_t time) {
    std::tm tm = {};
    tm.tm_year = ((date >> 9) & 0x7F) + 80;
    tm.tm_mon = std::max(((date >> 5) & 0x0F) - 1, 0);
    tm.tm_mday = std::max(date & 0x1F, 1);
    tm.tm_hour = (time >> 11) & 0x1F;
    tm.tm_min = (time >> 5) & 0x3F;
    tm.tm_sec = (time & 0x1F) * 2;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    return t == static_cast<std::time_t>(-1) ? 0 : UnixToFileTime(static_cast<int64_t>(t));
}

// Windows file attribute bits from the entry's external attributes.
uint32_t FileAttributes(const CentralEntry& e) {
    constexpr uint32_t kReadOnly = 0x01, kDirectory = 0x10, kArchive = 0x20, kNormal = 0x80;
    const uint8_t host = static_cast<uint8_t>(e.versionMadeBy >> 8);
    uint32_t attributes = 0;
    if (host == 3) {  // Unix: the mode sits in the high half
        const uint32_t mode = e.externalAttributes >> 16;
        if ((mode & 0170000) == 0040000) {
            attributes |= kDirectory;
        } else {
            attributes |= kArchive;
        }
        if (mode != 0 && (mode & 0200) == 0) {
            attributes |= kReadOnly;
        }
        // MS-DOS bits may still be present in the low byte.
        attributes |= e.externalAttributes & 0x17;
    } else {
        // MS-DOS, OS/2, NTFS, VFAT and the rest: the low byte holds the DOS bits.
        attributes = e.externalAttributes & 0x37;
    }
    return attributes == 0 ? kNormal : attributes;
}

struct ItemReadState {
    std::unique_ptr<uint8_t[]> buffer;  // decrypted input; unused for plain items
    const uint8_t* input = nullptr;     // unread input bytes
    uint32_t inputCount = 0;
    uint64_t dataPosition = 0;  // absolute position of the next compressed byte
    uint32_t compressedRemaining = 0;
    uint32_t uncompressedRemaining = 0;
    uint16_t method = 0;
    z_stream stream = {};
    bool streamOpen = false;
    uint32_t crc = 0;
    uint32_t expectedCrc = 0;
    bool encrypted = false;
    ZipCipher cipher;
    uint32_t headerPending = 0;
    uint8_t checkByte = 0;
    bool finished = false;  // the end was reached and checked
    // Output of the current call: where the next byte goes, the room left
    // there, and how many bytes this call produced.
    uint8_t* out = nullptr;
    uint32_t room = 0;
    uint32_t produced = 0;

    ~ItemReadState() {
        if (streamOpen) {
            inflateEnd(&stream);
        }
    }
};

enum class ReadEnd { Filled, End, WrongPassword, Corrupt, Failed, NeedInput };

// Produces bytes from the input at hand into the call's output. NeedInput: the
// input ran out while compressed bytes remain, so the caller fetches the next
// chunk and calls again.
ReadEnd Produce(ItemReadState& s) {
    for (;;) {
        if (s.headerPending == 0 && s.uncompressedRemaining == 0) {
            s.finished = true;
            // A corrupted item is never handed out as good.
            return s.crc == s.expectedCrc ? ReadEnd::End : ReadEnd::Corrupt;
        }
        if (s.headerPending == 0 && s.room == 0) {
            return ReadEnd::Filled;
        }
        if (s.inputCount == 0 && s.compressedRemaining > 0) {
            return ReadEnd::NeedInput;
        }
        if (s.headerPending > 0) {
            if (s.inputCount == 0) {
                return ReadEnd::Failed;  // data shorter than the encryption header
            }
            const uint32_t take = std::min(s.headerPending, s.inputCount);
            const uint8_t last = s.input[take - 1];
            s.input += take;
            s.inputCount -= take;
            s.headerPending -= take;
            if (s.headerPending == 0 && last != s.checkByte) {
                return ReadEnd::WrongPassword;
            }
            continue;
        }
        if (s.method == 0) {
            if (s.inputCount == 0) {
                return ReadEnd::Failed;  // stored data shorter than stated
            }
            const uint32_t n = std::min(s.room, s.inputCount);
            std::memcpy(s.out, s.input, n);
            s.crc = static_cast<uint32_t>(crc32(s.crc, s.out, n));
            s.input += n;
            s.inputCount -= n;
            s.out += n;
            s.room -= n;
            s.produced += n;
            s.uncompressedRemaining -= n;
            continue;
        }
        s.stream.next_in = const_cast<Bytef*>(s.input);
        s.stream.avail_in = s.inputCount;
        s.stream.next_out = s.out;
        s.stream.avail_out = s.room;
        const int result = inflate(&s.stream, Z_SYNC_FLUSH);
        const uint32_t consumed = s.inputCount - s.stream.avail_in;
        const uint32_t made = s.room - s.stream.avail_out;
        s.input += consumed;
        s.inputCount -= consumed;
        if (made > 0) {
            s.crc = static_cast<uint32_t>(crc32(s.crc, s.out, made));
        }
        s.out += made;
        s.room -= made;
        s.produced += made;
        s.uncompressedRemaining -= made;
        if (result == Z_STREAM_END) {
            if (s.uncompressedRemaining != 0) {
                return ReadEnd::Corrupt;  // the stream ended before the stated size
            }
            continue;  // ends above
        }
        if (result != Z_OK || (consumed == 0 && made == 0)) {
            return ReadEnd::Failed;
        }
    }
}

ArchiveStatus StatusOf(ReadEnd end, uint32_t produced) {
    switch (end) {
        case ReadEnd::End:
            return ArchiveStatus::Ok;
        case ReadEnd::Filled:
            return produced > 0 ? ArchiveStatus::More : ArchiveStatus::InflateFailed;
        case ReadEnd::WrongPassword:
            return ArchiveStatus::WrongPassword;
        case ReadEnd::Corrupt:
            return ArchiveStatus::Corrupt;
        case ReadEnd::Failed:
        case ReadEnd::NeedInput:
            break;
    }
    return ArchiveStatus::InflateFailed;
}

}  // namespace

class ArchiveReader {
  public:
    ArchiveReader(const uint8_t* image, uint32_t length, const char* password)
        : image_(image), length_(length), password_(password ? password : "") {}

    ArchiveStatus Open();
    ArchiveStatus Find(std::u16string_view name, bool ignoreCase, int32_t& index,
                       ArchiveItemInfo* info);
    ArchiveStatus Unzip(int32_t index, void* buffer, uint32_t length);
    ArchiveStatus UnzipMany(int lanes, const NextItem& next, const ItemDone& done);
    ArchiveStatus Describe(int32_t index, ArchiveItemInfo& info);
    ArchiveStatus StoredName(int32_t index, std::string& name);
    uint32_t Count() const { return entryCount_; }
    void CloseItem();

  private:
    // Pointer to image[position, position + size), or null when any of it lies
    // past the image's end.
    const uint8_t* At(uint64_t position, uint64_t size) const {
        if (position > length_ || size > length_ - position) {
            return nullptr;
        }
        return image_ + position;
    }
    uint64_t Absolute(uint64_t offset) const { return archiveStart_ + offset; }

    bool ReadEntry();
    void GoToFirst();
    bool GoToNext();
    bool GoTo(int32_t index);
    ArchiveStatus ValidateLocal(const CentralEntry& e, LocalLayout& layout) const;
    ArchiveStatus DescribeCurrent(ArchiveItemInfo& info);
    std::unique_ptr<ItemReadState> PrepareItem(int32_t index);
    bool OpenItem(int32_t index);
    // The next chunk of the item's compressed bytes in the image; false when it
    // lies past the image's end.
    bool NextChunk(ItemReadState& s, const uint8_t*& chunk, uint32_t& n);
    ReadEnd Read(uint8_t* out, uint32_t length, uint32_t& produced);

    const uint8_t* image_;
    uint32_t length_;
    std::string password_;
    uint64_t archiveStart_ = 0;
    uint16_t entryCount_ = 0;
    uint32_t centralSize_ = 0;
    uint32_t centralOffset_ = 0;

    // Central-directory cursor.
    int32_t currentIndex_ = 0;
    uint64_t currentOffset_ = 0;  // relative to the archive start
    bool currentValid_ = false;
    CentralEntry current_;

    int32_t openIndex_ = -1;
    std::unique_ptr<ItemReadState> item_;

    ArchiveItemInfo cache_;
    int32_t cacheIndex_ = -1;
};

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
    CentralEntry& e = current_;
    e.versionMadeBy = Get16(p + 4);
    e.flags = Get16(p + 8);
    e.method = Get16(p + 10);
    e.dosTime = Get16(p + 12);
    e.dosDate = Get16(p + 14);
    e.crc = Get32(p + 16);
    e.compressedSize = Get32(p + 20);
    e.uncompressedSize = Get32(p + 24);
    e.nameLength = Get16(p + 28);
    e.extraLength = Get16(p + 30);
    e.commentLength = Get16(p + 32);
    e.externalAttributes = Get32(p + 38);
    e.localHeaderOffset = Get32(p + 42);
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

void ArchiveReader::CloseItem() {
    // The CRC-32 of a fully produced item was already compared when its last
    // byte came out (Read), so closing only releases the state.
    item_.reset();
    openIndex_ = -1;
}

std::unique_ptr<ItemReadState> ArchiveReader::PrepareItem(int32_t index) {
    if (!GoTo(index)) {
        return nullptr;
    }
    const CentralEntry& e = current_;
    LocalLayout layout;
    if (ValidateLocal(e, layout) != ArchiveStatus::Ok) {
        return nullptr;
    }
    auto state = std::make_unique<ItemReadState>();
    state->dataPosition = layout.dataPosition;
    state->compressedRemaining = e.compressedSize;
    state->uncompressedRemaining = e.uncompressedSize;
    state->method = e.method;
    state->expectedCrc = e.crc;
    state->encrypted = (e.flags & kFlagEncrypted) != 0;
    if (state->encrypted) {
        state->buffer = std::make_unique_for_overwrite<uint8_t[]>(kChunkSize);
        state->cipher.Reset(password_.data(), password_.size());
        state->headerPending = kEncryptionHeaderSize;
        state->checkByte = (e.flags & kFlagDataDescriptor) != 0
                               ? static_cast<uint8_t>(e.dosTime >> 8)
                               : static_cast<uint8_t>(e.crc >> 24);
    }
    if (e.method == 8) {
        if (inflateInit2(&state->stream, -MAX_WBITS) != Z_OK) {
            return nullptr;
        }
        state->streamOpen = true;
    }
    return state;
}

bool ArchiveReader::OpenItem(int32_t index) {
    item_ = PrepareItem(index);
    if (item_ == nullptr) {
        return false;
    }
    openIndex_ = index;
    return true;
}

bool ArchiveReader::NextChunk(ItemReadState& s, const uint8_t*& chunk, uint32_t& n) {
    n = std::min(kChunkSize, s.compressedRemaining);
    chunk = At(s.dataPosition, n);
    if (chunk == nullptr) {
        return false;
    }
    s.dataPosition += n;
    s.compressedRemaining -= n;
    return true;
}

ReadEnd ArchiveReader::Read(uint8_t* out, uint32_t length, uint32_t& produced) {
    ItemReadState& s = *item_;
    produced = 0;
    if (s.finished) {
        return ReadEnd::End;
    }
    s.out = out;
    s.room = std::min(length, s.uncompressedRemaining);
    s.produced = 0;
    for (;;) {
        const ReadEnd end = Produce(s);
        produced = s.produced;
        if (end != ReadEnd::NeedInput) {
            return end;
        }
        const uint8_t* chunk = nullptr;
        uint32_t n = 0;
        if (!NextChunk(s, chunk, n)) {
            return ReadEnd::Failed;
        }
        if (s.encrypted) {
            s.cipher.Decrypt(chunk, s.buffer.get(), n);
            s.input = s.buffer.get();
        } else {
            s.input = chunk;  // plain bytes are inflated straight from the image
        }
        s.inputCount = n;
    }
}

ArchiveStatus ArchiveReader::Unzip(int32_t index, void* buffer, uint32_t length) {
    if (index < 0 || index >= entryCount_) {
        CloseItem();
        return ArchiveStatus::BadArgument;
    }
    if (index != openIndex_ || item_ == nullptr) {
        CloseItem();
        if (!OpenItem(index)) {
            return ArchiveStatus::InflateFailed;
        }
    }
    if (buffer == nullptr && length > 0) {
        CloseItem();
        return ArchiveStatus::BadArgument;
    }
    uint32_t produced = 0;
    const ReadEnd end = Read(static_cast<uint8_t*>(buffer), length, produced);
    const bool failed = end != ReadEnd::End && end != ReadEnd::Filled;
    if (produced == 0 || failed) {
        CloseItem();
    }
    return StatusOf(end, produced);
}

ArchiveStatus ArchiveReader::UnzipMany(int lanes, const NextItem& next, const ItemDone& done) {
    CloseItem();  // the lanes have their own read states
    struct Lane {
        std::unique_ptr<ItemReadState> state;
        int32_t index = -1;
        void* buffer = nullptr;
    };
    std::vector<Lane> lane(static_cast<size_t>(std::clamp(lanes, 1, 16)));
    // Takes the next item that opens into the lane; false when none is left.
    auto take = [&](Lane& l) {
        l.state.reset();
        int32_t index = -1;
        void* buffer = nullptr;
        uint32_t length = 0;
        while (next(index, buffer, length)) {
            if (index < 0 || index >= entryCount_ || (buffer == nullptr && length > 0)) {
                done(index, buffer, ArchiveStatus::BadArgument);
                continue;
            }
            std::unique_ptr<ItemReadState> state = PrepareItem(index);
            if (state == nullptr) {
                done(index, buffer, ArchiveStatus::InflateFailed);
                continue;
            }
            state->out = static_cast<uint8_t*>(buffer);
            state->room = std::min(length, state->uncompressedRemaining);
            l = {std::move(state), index, buffer};
            return true;
        }
        return false;
    };
    for (Lane& l : lane) {
        take(l);
    }
    constexpr int kMaxLanes = 16;
    for (;;) {
        // Run every lane until it needs input, taking a new item into each
        // lane whose item ends.
        ZipCipher* ciphers[kMaxLanes];
        const uint8_t* chunks[kMaxLanes];
        uint8_t* targets[kMaxLanes];
        size_t sizes[kMaxLanes];
        int encrypted = 0;
        bool any = false;
        for (Lane& l : lane) {
            while (l.state != nullptr) {
                ItemReadState& s = *l.state;
                ReadEnd end = Produce(s);
                const uint8_t* chunk = nullptr;
                uint32_t n = 0;
                if (end == ReadEnd::NeedInput) {
                    if (NextChunk(s, chunk, n)) {
                        s.inputCount = n;
                        if (s.encrypted) {
                            ciphers[encrypted] = &s.cipher;
                            chunks[encrypted] = chunk;
                            targets[encrypted] = s.buffer.get();
                            sizes[encrypted] = n;
                            ++encrypted;
                            s.input = s.buffer.get();
                        } else {
                            s.input = chunk;
                        }
                        any = true;
                        break;
                    }
                    end = ReadEnd::Failed;
                }
                done(l.index, l.buffer, StatusOf(end, s.produced));
                take(l);
            }
        }
        if (!any) {
            return ArchiveStatus::Ok;
        }
        // The chunks of all lanes decrypt side by side.
        ZipCipher::DecryptMany(ciphers, chunks, targets, sizes, encrypted);
    }
}

const char* ArchiveStatusName(ArchiveStatus status) {
    switch (status) {
        case ArchiveStatus::Ok:
            return "Ok";
        case ArchiveStatus::OpenFailed:
            return "OpenFailed";
        case ArchiveStatus::NotFound:
            return "NotFound";
        case ArchiveStatus::More:
            return "More";
        case ArchiveStatus::Corrupt:
            return "Corrupt";
        case ArchiveStatus::ReadFailed:
            return "ReadFailed";
        case ArchiveStatus::WrongPassword:
            return "WrongPassword";
        case ArchiveStatus::BadArgument:
            return "BadArgument";
        case ArchiveStatus::InflateFailed:
            return "InflateFailed";
    }
    return "Unknown";
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

ArchiveStatus UnzipItem(ArchiveReader* reader, int32_t index, void* buffer, uint32_t length) {
    if (reader == nullptr) {
        return ArchiveStatus::BadArgument;
    }
    return reader->Unzip(index, buffer, length);
}

ArchiveStatus Close(ArchiveReader* reader) {
    if (reader == nullptr) {
        return ArchiveStatus::BadArgument;
    }
    reader->CloseItem();
    delete reader;
    return ArchiveStatus::Ok;
}

ArchiveStatus UnzipItemsInterleaved(ArchiveReader* reader, int lanes, const NextItem& next,
                                    const ItemDone& done) {
    if (reader == nullptr) {
        return ArchiveStatus::BadArgument;
    }
    return reader->UnzipMany(lanes, next, done);
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
