#include "support.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace tde::tool {

namespace {

// The whole archive file in memory.
bool ReadArchiveFile(const std::string& name, std::unique_ptr<uint8_t[]>& image, uint32_t& length) {
    std::ifstream in(PathFromUtf8(name), std::ios::binary);
    if (!in) {
        Report("cannot open " + name);
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || static_cast<uint64_t>(size) > 0xFFFFFFFFu) {
        Report(name + ": not a readable archive of at most 4 GiB");
        return false;
    }
    length = static_cast<uint32_t>(size);
    image = std::make_unique_for_overwrite<uint8_t[]>(std::max<uint32_t>(length, 1));
    in.read(reinterpret_cast<char*>(image.get()), size);
    if (in.gcount() != size) {
        Report("cannot read " + name);
        return false;
    }
    return true;
}

}  // namespace

void ReportStatus(const std::string& what, ArchiveStatus status) {
    std::fprintf(stderr, "driver-archive: %s: %s (0x%X)\n", what.c_str(), ArchiveStatusName(status),
                 static_cast<unsigned>(status));
}

void Report(const std::string& message) {
    std::fprintf(stderr, "driver-archive: %s\n", message.c_str());
}

std::string PathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string GenericText(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

fs::path PathFromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string FoldAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

bool ArchiveFile::Open(const std::string& name, const std::string& password) {
    if (!ReadArchiveFile(name, image_, length_)) {
        return false;
    }
    password_ = password;
    const ArchiveStatus s = OpenFromMemory(image_.get(), length_, password.c_str(), reader_);
    if (s != ArchiveStatus::Ok) {
        ReportStatus(name, s);
        return false;
    }
    return true;
}

ArchiveFile::~ArchiveFile() {
    if (reader_ != nullptr) {
        Close(reader_);
    }
}

bool WriteWhole(const fs::path& path, const uint8_t* bytes, size_t length) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
    out.close();
    return !out.fail();
}

}  // namespace tde::tool
