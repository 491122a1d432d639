// The system platform outside Windows: no module resources, UTF-8 as the
// narrow code page, files through the standard library.
#include <filesystem>
#include <fstream>

#include "archive/names.h"
#include "archive/platform.h"
#include "base/utf8.h"

namespace tde {

namespace {

class PortableResourcePlatform : public ResourcePlatform {
  public:
    std::u16string ModuleFilePath(ModuleHandle) override { return {}; }

    bool FindArchiveResource(ModuleHandle, const void*&, uint32_t&) override { return false; }

    std::string ToAnsi(std::u16string_view text) override { return Utf16ToUtf8(text); }

    FileReadResult ReadWholeFile(std::u16string_view path, uint32_t maxSize,
                                 std::vector<uint8_t>& bytes) override {
        bytes.clear();
        const std::filesystem::path file(std::u16string{path});
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec)) {
            return FileReadResult::OpenFailed;
        }
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            return FileReadResult::OpenFailed;
        }
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        in.seekg(0, std::ios::beg);
        if (size < 0) {
            return FileReadResult::ShortRead;
        }
        if (size == 0) {
            return FileReadResult::Empty;
        }
        if (static_cast<uint64_t>(size) > maxSize) {
            return FileReadResult::TooLarge;
        }
        bytes.resize(static_cast<size_t>(size));
        in.read(reinterpret_cast<char*>(bytes.data()), size);
        if (in.gcount() != size) {
            bytes.clear();
            return FileReadResult::ShortRead;
        }
        return FileReadResult::Ok;
    }

    // Files belong to whoever runs this; the security is Windows' alone.
    bool WriteWholeFile(std::u16string_view path, const void* bytes, uint32_t length,
                        std::u16string_view) override {
        const std::filesystem::path file(std::u16string{path});
        std::error_code ec;
        std::filesystem::remove(file, ec);  // a symbolic link goes as a link
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(static_cast<const char*>(bytes), length);
        out.close();
        return !out.fail();
    }
};

}  // namespace

ResourcePlatform& SystemResourcePlatform() {
    static PortableResourcePlatform platform;
    return platform;
}

}  // namespace tde
