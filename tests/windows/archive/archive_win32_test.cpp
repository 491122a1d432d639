// The archive subsystem on Win32: registration from this program's own
// "ZIPRES" 129 resource, fetches, the fallback to the resource folder, and
// extraction into real folders. The program carries the build's driver
// archive; TDE_PAYLOAD_DIR names the folder it was packed from.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive.h"
#include "archive/writer.h"
#include "install/catalogue.h"
#include "support/document_property_header.h"
#include "support/text.h"

namespace tde {
namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

using test::Utf16;
using test::Wide;

// A file's bytes through Win32; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    const DWORD size = GetFileSize(file, nullptr);
    bytes.resize(size);
    DWORD read = 0;
    if (size == INVALID_FILE_SIZE || !ReadFile(file, bytes.data(), size, &read, nullptr) ||
        read != size) {
        bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::wstring ModuleFolder(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// A fresh folder below the temporary folder, removed with its files at the end.
class TempFolder {
  public:
    TempFolder() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + L"tde-archive-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(++serial_) + L"\\";
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((path_ + L"*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..") {
                    SetFileAttributesW((path_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW((path_ + name).c_str());
                }
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        RemoveDirectoryW(path_.c_str());
    }
    const std::wstring& path() const { return path_; }

  private:
    static inline int serial_ = 0;
    std::wstring path_;
};

class ArchiveWin32Test : public testing::Test {
  protected:
    void SetUp() override {
        payload = Env(L"TDE_PAYLOAD_DIR");
        ASSERT_FALSE(payload.empty()) << "TDE_PAYLOAD_DIR names the packed payload folder";
        payload += L"\\";
        CUiResources::ResetAll();
    }
    void TearDown() override { CUiResources::ResetAll(); }

    void RegisterOwnArchive() {
        CUiResources::SetModuleInstance(GetModuleHandleW(nullptr));
        ASSERT_TRUE(RegisterEmbeddedArchive());
    }

    std::wstring payload;
};

TEST_F(ArchiveWin32Test, RegistersTheArchiveResourceOfTheModule) {
    // The resource is stored under language 2052.
    HMODULE self = GetModuleHandleW(nullptr);
    EXPECT_NE(FindResourceExW(self, L"ZIPRES", MAKEINTRESOURCEW(129),
                              MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)),
              nullptr);
    RegisterOwnArchive();
    EXPECT_EQ(CUiResources::GetArchiveName(), u"membuffer");
    EXPECT_EQ(CUiResources::GetResourceSource(), ResourceSource::ArchiveInModule);
    EXPECT_EQ(Wide(CUiResources::GetProgramFolder()), ModuleFolder(self));
    EXPECT_EQ(Wide(CUiResources::GetResourceFolder()),
              ModuleFolder(self) + L"skin\\TarnDovEzuvar\\");
    EXPECT_NE(CUiResources::GetArchiveHandle(), nullptr);
    EXPECT_TRUE(CUiResources::IsArchiveKeptOpen());
}

TEST_F(ArchiveWin32Test, FetchesByUpperCaseAndBackslashNames) {
    RegisterOwnArchive();
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(FetchResourceFile(u"LAN_CN.XML", bytes, error)) << error;
    EXPECT_EQ(bytes, ReadFileBytes(payload + L"lan_cn.xml"));
    ASSERT_TRUE(FetchResourceFile(u"driver\\pos\\ZNWA4V.inf", bytes, error)) << error;
    EXPECT_EQ(bytes, ReadFileBytes(payload + L"driver\\pos\\ZNWA4V.inf"));
    EXPECT_FALSE(bytes.empty());
    EXPECT_FALSE(FetchResourceFile(u"res.xml", bytes, error));
    EXPECT_EQ(error, "Could not find ziped file");
}

TEST_F(ArchiveWin32Test, ASecondRegistrationIsIgnored) {
    RegisterOwnArchive();
    ArchiveReader* first = CUiResources::GetArchiveHandle();
    ArchiveWriterItem item;
    item.name = "lan_cn.xml";
    item.data = {'x'};
    WrittenArchive other;
    std::string error;
    ArchiveWriterOptions options;
    options.password = "other";
    ASSERT_TRUE(WriteArchive({item}, options, other, error));
    CUiResources::RegisterArchiveImage(other.bytes.data(),
                                       static_cast<uint32_t>(other.bytes.size()), u"other");
    EXPECT_EQ(CUiResources::GetArchiveHandle(), first);
    EXPECT_EQ(CUiResources::GetArchivePassword(), u"kdw20190304");
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(FetchResourceFile(u"lan_cn.xml", bytes, error));
    EXPECT_EQ(bytes, ReadFileBytes(payload + L"lan_cn.xml"));
}

TEST_F(ArchiveWin32Test, AModuleWithoutTheResourceFallsBackToTheResourceFolder) {
    HMODULE module = LoadLibraryW(L"no_archive.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    CUiResources::SetModuleInstance(module);
    EXPECT_FALSE(RegisterEmbeddedArchive());
    EXPECT_TRUE(CUiResources::GetArchiveName().empty());
    EXPECT_EQ(CUiResources::GetArchiveHandle(), nullptr);
    const std::wstring skin = ModuleFolder(module) + L"skin\\";
    const std::wstring folder = skin + L"TarnDovEzuvar\\";
    EXPECT_EQ(Wide(CUiResources::GetResourceFolder()), folder);

    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(FetchResourceFile(u"lan_en.xml", bytes, error));
    EXPECT_EQ(error, "Error opening file");
    CreateDirectoryW(skin.c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(folder + L"lan_en.xml", "<Language>on disk</Language>"));
    ASSERT_TRUE(WriteFileBytes(folder + L"empty.xml", ""));
    EXPECT_TRUE(FetchResourceFile(u"lan_en.xml", bytes, error)) << error;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "<Language>on disk</Language>");
    EXPECT_FALSE(FetchResourceFile(u"empty.xml", bytes, error));
    EXPECT_EQ(error, "File is empty");
    DeleteFileW((folder + L"lan_en.xml").c_str());
    DeleteFileW((folder + L"empty.xml").c_str());
    RemoveDirectoryW(folder.c_str());
    RemoveDirectoryW(skin.c_str());
    FreeLibrary(module);
}

TEST_F(ArchiveWin32Test, ExtractsIntoAFolder) {
    RegisterOwnArchive();
    TempFolder folder;
    std::u16string dependent;
    ASSERT_TRUE(ExtractArchiveItem(u"driver\\pos\\Driver32\\ZNWA4UIV.dll", Utf16(folder.path()),
                                   dependent));
    EXPECT_EQ(dependent, u"ZNWA4UIV.dll");
    const std::vector<uint8_t> expected =
        ReadFileBytes(payload + L"driver\\pos\\Driver32\\ZNWA4UIV.dll");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ReadFileBytes(folder.path() + L"ZNWA4UIV.dll"), expected);
    // Extracting the same item again replaces the file.
    ASSERT_TRUE(ExtractArchiveItem(u"driver\\pos\\Driver32\\ZNWA4UIV.dll", Utf16(folder.path()),
                                   dependent));
    EXPECT_EQ(ReadFileBytes(folder.path() + L"ZNWA4UIV.dll"), expected);
}

TEST_F(ArchiveWin32Test, TheFileNameTakesItsLetterCaseFromThePath) {
    RegisterOwnArchive();
    TempFolder folder;
    std::u16string dependent;
    ASSERT_TRUE(ExtractArchiveItem(u"DRIVER\\POS\\driver32\\znwa4uiv.DLL", Utf16(folder.path()),
                                   dependent));
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder.path() + L"*.dll").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(found.cFileName, L"znwa4uiv.DLL");
    EXPECT_FALSE(FindNextFileW(find, &found));
    FindClose(find);
}

TEST_F(ArchiveWin32Test, AMissingFolderFailsWithPathNotFound) {
    RegisterOwnArchive();
    TempFolder folder;
    std::u16string dependent;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ExtractArchiveItem(u"driver\\pos\\Driver32\\ZNWA4UIV.dll",
                                    Utf16(folder.path() + L"missing\\"), dependent));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(dependent, u"ZNWA4UIV.dll");
}

TEST_F(ArchiveWin32Test, WriteBufferToFileReportsAReadOnlyFile) {
    TempFolder folder;
    const std::wstring file = folder.path() + L"locked.bin";
    ASSERT_TRUE(WriteBufferToFile(Utf16(file), "first", 5));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "read-only files are writable here (Wine maps them to Unix modes, "
                        "which do not bind root)";
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WriteBufferToFile(Utf16(file), "second", 6));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const std::vector<uint8_t> left = ReadFileBytes(file);
    EXPECT_EQ(std::string(left.begin(), left.end()), "first");
}

TEST_F(ArchiveWin32Test, TheStandInConfigurationModulesAnswerTheSpooler) {
    // The paper each stand-in module is built for (resources/standin/build.sh).
    const std::map<std::u16string, short> papers = {{u"ZNWA4UIV.dll", DMPAPER_A4},
                                                    {u"ZNWA3UIV.dll", DMPAPER_A3},
                                                    {u"ZNWA6UIV.dll", DMPAPER_USER}};
    ModelCatalogue catalogue;
    BuildModelCatalogue(catalogue);
    for (size_t i = 0; i < catalogue.models.size(); ++i) {
        const std::u16string& config = catalogue.models[i].configFile;
        SCOPED_TRACE(test::Narrow(config));
        const auto paper = papers.find(config);
        ASSERT_NE(paper, papers.end()) << "no stand-in paper for this model";
        const std::wstring path = payload + L"driver\\pos\\Driver32\\" + Wide(config);
        HMODULE module = LoadLibraryW(path.c_str());
        ASSERT_NE(module, nullptr) << GetLastError();
        using Sheets = LONG(WINAPI*)(void*, LPARAM);
        using Capabilities = DWORD(WINAPI*)(HANDLE, PWSTR, WORD, PVOID, PDEVMODEW);
        auto sheets = reinterpret_cast<Sheets>(
            reinterpret_cast<void*>(GetProcAddress(module, "DrvDocumentPropertySheets")));
        auto caps = reinterpret_cast<Capabilities>(
            reinterpret_cast<void*>(GetProcAddress(module, "DrvDeviceCapabilities")));
        ASSERT_NE(sheets, nullptr);
        ASSERT_NE(caps, nullptr);

        std::wstring printer = Wide(catalogue.modelNames[i].displayName);
        DocumentPropertyHeader header = {};
        header.cbSize = sizeof(header);
        header.pszPrinterName = printer.data();
        EXPECT_EQ(sheets(nullptr, reinterpret_cast<LPARAM>(&header)),
                  static_cast<LONG>(sizeof(DEVMODEW)));
        EXPECT_EQ(header.cbOut, sizeof(DEVMODEW));
        DEVMODEW devmode = {};
        header.pdmOut = &devmode;
        header.fMode = DM_OUT_BUFFER;
        EXPECT_EQ(sheets(nullptr, reinterpret_cast<LPARAM>(&header)), IDOK);
        EXPECT_EQ(std::wstring(devmode.dmDeviceName), printer);
        EXPECT_EQ(devmode.dmSize, sizeof(DEVMODEW));
        EXPECT_EQ(devmode.dmPaperSize, paper->second);
        EXPECT_EQ(devmode.dmCopies, 1);

        WORD listed[4] = {};
        EXPECT_EQ(caps(nullptr, printer.data(), DC_PAPERS, listed, nullptr), 1u);
        EXPECT_EQ(listed[0], static_cast<WORD>(paper->second));
        EXPECT_EQ(caps(nullptr, printer.data(), DC_SIZE, nullptr, nullptr), sizeof(DEVMODEW));
        FreeLibrary(module);
    }
}

}  // namespace
}  // namespace tde
