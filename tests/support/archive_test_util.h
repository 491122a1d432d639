// Helpers shared by the archive tests: archives built in memory and read back.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive.h"
#include "archive/writer.h"

namespace tde::testing_util {

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Deterministic mixed content: runs that compress and noise that does not.
inline std::vector<uint8_t> Content(size_t size, uint32_t variant) {
    std::vector<uint8_t> data(size);
    std::mt19937 random(variant);
    for (size_t i = 0; i < size; ++i) {
        data[i] = (i / 97) % 3 == 0 ? static_cast<uint8_t>(random()) : static_cast<uint8_t>(i / 7);
    }
    return data;
}

inline ArchiveWriterItem Item(const std::string& name, std::vector<uint8_t> data,
                              uint16_t method = 8, bool encrypt = true) {
    ArchiveWriterItem item;
    item.name = name;
    item.data = std::move(data);
    item.method = method;
    item.encrypt = encrypt;
    item.dosTime = DosTime(13, 37, 42);
    item.dosDate = DosDate(2019, 3, 4);
    return item;
}

inline WrittenArchive Build(const std::vector<ArchiveWriterItem>& items,
                            const std::string& password = "kdw20190304",
                            const std::string& comment = "") {
    ArchiveWriterOptions options;
    options.password = password;
    options.comment = comment;
    WrittenArchive archive;
    std::string error;
    EXPECT_TRUE(WriteArchive(items, options, archive, error)) << error;
    return archive;
}

inline void Put32At(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

inline void Put16At(std::vector<uint8_t>& bytes, size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

// An open reader over bytes that the holder keeps alive; closed at the end.
class OpenArchive {
  public:
    OpenArchive(const std::vector<uint8_t>& image, const char* password = "kdw20190304")
        : image_(image) {
        status =
            OpenFromMemory(image_.data(), static_cast<uint32_t>(image_.size()), password, reader);
    }
    ~OpenArchive() {
        if (reader != nullptr) {
            Close(reader);
        }
    }
    OpenArchive(const OpenArchive&) = delete;
    OpenArchive& operator=(const OpenArchive&) = delete;

    // Finds name and unzips it into a buffer of its stated size.
    ArchiveStatus ReadItem(const std::u16string& name, std::vector<uint8_t>& data) {
        int32_t index = -1;
        ArchiveItemInfo info;
        ArchiveStatus s = FindItem(reader, name, true, index, &info);
        if (s != ArchiveStatus::Ok) {
            return s;
        }
        data.assign(info.uncompressedSize, 0);
        return UnzipItem(reader, index, data.data(), info.uncompressedSize);
    }

    ArchiveReader* reader = nullptr;
    ArchiveStatus status = ArchiveStatus::BadArgument;

  private:
    std::vector<uint8_t> image_;
};

}  // namespace tde::testing_util
