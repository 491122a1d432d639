// The archive reader behind the functions of archive.h: a ZIP subset (no
// ZIP64, one disk, stored or deflated, Traditional PKWARE encryption) read
// from a memory image that is never read past its end. Its parts live in
// their own files: the directory and the lookup (reader.cpp), one item's
// stream (item_stream.cpp), several items side by side (interleaved_unzip.cpp).
// Internal to the archive subsystem; callers use archive.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "archive/archive.h"
#include "archive/item_stream.h"
#include "archive/zip_records.h"

namespace tde {

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
    ArchiveStatus ValidateLocal(const zip::CentralEntry& e, zip::LocalLayout& layout) const;
    ArchiveStatus DescribeCurrent(ArchiveItemInfo& info);
    std::unique_ptr<zip::ItemReadState> PrepareItem(int32_t index);
    bool OpenItem(int32_t index);
    // The next chunk of the item's compressed bytes in the image; false when it
    // lies past the image's end.
    bool NextChunk(zip::ItemReadState& s, const uint8_t*& chunk, uint32_t& n);
    zip::ReadEnd Read(uint8_t* out, uint32_t length, uint32_t& produced);

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
    zip::CentralEntry current_;

    int32_t openIndex_ = -1;
    std::unique_ptr<zip::ItemReadState> item_;

    ArchiveItemInfo cache_;
    int32_t cacheIndex_ = -1;
};

}  // namespace tde
