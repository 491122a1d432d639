// What driver-archive's commands share: messages on standard error, paths to
// and from UTF-8, names with ASCII letters folded, the archive file read whole
// and opened with the installer's reader, and files written whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/archive.h"

namespace tde::tool {

namespace fs = std::filesystem;

// "driver-archive: <what>: <Status> (0x...)" on standard error.
void ReportStatus(const std::string& what, ArchiveStatus status);

// "driver-archive: <message>" on standard error.
void Report(const std::string& message);

std::string PathText(const fs::path& path);

// With "/" separators on every platform.
std::string GenericText(const fs::path& path);

fs::path PathFromUtf8(const std::string& text);

// ASCII letters upper-cased, so names that differ only in case compare equal.
std::string FoldAscii(std::string text);

// An archive file opened with the reader; closed at the end of the scope.
class ArchiveFile {
  public:
    bool Open(const std::string& name, const std::string& password);
    ~ArchiveFile();
    ArchiveReader* reader() const { return reader_; }
    const uint8_t* image() const { return image_.get(); }
    uint32_t length() const { return length_; }
    const std::string& password() const { return password_; }

  private:
    std::unique_ptr<uint8_t[]> image_;
    uint32_t length_ = 0;
    std::string password_;
    ArchiveReader* reader_ = nullptr;
};

// The bytes as the whole new content of the file; false when any write fails.
bool WriteWhole(const fs::path& path, const uint8_t* bytes, size_t length);

}  // namespace tde::tool
