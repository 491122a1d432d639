// Starts the real TarnDovEzuvar.exe in an English session: the captions come
// from lan_en.xml through the embedded archive, switching the (hidden) language
// combo box reloads them, and the About box shares the window caption. The
// expected texts are read from the shipped language files.
#include "app/resource_ids.h"
#include "installer_process.h"
#include "support/text.h"
#include "text/text.h"
#include "version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tde {
namespace {

std::u16string TextOf(HWND window) {
    return test::Utf16(e2e::TextOf(window));
}

// The texts of a shipped language file, loaded as the program loads them.
void LoadShipped(TextTable& table, const char* name) {
    std::ifstream in(std::string(TDE_PAYLOAD_DIR) + "\\" + name, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFromMemory(bytes.data(), bytes.size())) << name;
    ASSERT_TRUE(table.MergeLanguageDocument(doc));
}

class CaptionsEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        LoadShipped(english, "lan_en.xml");
        LoadShipped(chinese, "lan_cn.xml");
        ASSERT_TRUE(installer_.Start()) << "TDE_E2E_EXE names the installer; " << GetLastError();
        dialog = e2e::WaitForDialog(installer_.Id());
        ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
    }

    void TearDown() override {
        if (!installer_.Started()) {
            return;
        }
        if (dialog != nullptr && IsWindow(dialog)) {
            SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
        }
        DWORD code = 1234;
        EXPECT_TRUE(installer_.WaitForExit(20000, &code)) << "the installer did not end";
        EXPECT_EQ(code, 0u);
    }

    void ExpectCaptions(const TextTable& texts) {
        EXPECT_EQ(TextOf(dialog), WindowCaption(texts));
        for (const CaptionKey& caption : DialogCaptionKeys()) {
            SCOPED_TRACE(testing::Message() << "control " << caption.controlId);
            std::u16string expected = texts.GetText(caption.key);
            EXPECT_NE(expected, caption.key) << "the shipped file lacks the key";
            EXPECT_EQ(TextOf(GetDlgItem(dialog, caption.controlId)), expected);
        }
    }

    void SelectLanguage(int index) {
        HWND combo = GetDlgItem(dialog, IDC_LANGUAGE);
        SendMessageW(combo, CB_SETCURSEL, index, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    }

    DWORD ProcessId() const { return installer_.Id(); }

    TextTable english;
    TextTable chinese;
    HWND dialog = nullptr;

  private:
    e2e::InstallerProcess installer_;
};

TEST_F(CaptionsEndToEnd, EnglishSessionShowsTheEnglishTexts) {
    ASSERT_EQ(GetUserDefaultUILanguage(), kLanguageEnglishUs) << "the session is not English";
    ExpectCaptions(english);
    EXPECT_EQ(TextOf(dialog), u"Printer Driver Setup - V" TDE_VERSION_TEXT);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_LANGUAGE, CB_GETCURSEL, 0, 0), 0);
}

// Written out here rather than derived from the key table the dialog uses, so a
// key bound to the wrong control shows.
TEST_F(CaptionsEndToEnd, EnglishCaptionsAreTheExpectedTexts) {
    const struct {
        int id;
        const char16_t* text;
    } expected[] = {
        {IDC_GROUP_SYSTEM, u"32-bit or 64-bit Windows (detected)"},
        {IDC_RADIO_32, u"32"},
        {IDC_RADIO_64, u"64"},
        {IDC_GROUP_MODEL, u"Printer model"},
        {IDC_LABEL_MODEL, u"Model:"},
        {IDC_DEFAULT_PRINTER, u"Set default"},
        {IDC_GROUP_PORT, u"Printer port"},
        {IDC_LABEL_PORT, u"Port:"},
        {IDC_USB_DETECT, u"Find USB port"},
        {IDC_INSTALL, u"Install"},
        {IDC_EXIT, u"Exit"},
        {IDC_LABEL_LANGUAGE, u"UI Language:"},
    };
    EXPECT_EQ(TextOf(dialog), u"Printer Driver Setup - V" TDE_VERSION_TEXT);
    for (const auto& control : expected) {
        SCOPED_TRACE(testing::Message() << "control " << control.id);
        EXPECT_EQ(TextOf(GetDlgItem(dialog, control.id)), control.text);
    }
}

TEST_F(CaptionsEndToEnd, SwitchingTheLanguageComboReloadsTheCaptions) {
    SelectLanguage(1);
    ExpectCaptions(chinese);
    SelectLanguage(0);
    ExpectCaptions(english);
    SelectLanguage(1);
    SendMessageW(GetDlgItem(dialog, IDC_LANGUAGE), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE, CBN_SELCHANGE), 0);
    ExpectCaptions(english);  // no selection counts as English
}

TEST_F(CaptionsEndToEnd, AboutBoxCaptionEqualsTheWindowCaption) {
    PostMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = e2e::WaitForDialog(ProcessId(), dialog, 10000);
    ASSERT_NE(about, nullptr) << "the About box did not appear";
    EXPECT_EQ(TextOf(about), TextOf(dialog));
    EXPECT_EQ(TextOf(about), WindowCaption(english));
    SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(e2e::WaitUntilGone(about));
}

}  // namespace
}  // namespace tde

namespace tde {
namespace {

// Copies the exe with the resource type "ZIPRES" renamed "ZIPREX" in its
// resource section, so the program finds no archive. (Wine's UpdateResourceW
// reports success in removing the resource but leaves it in place.)
bool WriteWithoutArchive(const std::wstring& from, const std::wstring& to) {
    std::ifstream in(std::filesystem::path(from), std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto at = [&image](size_t offset, size_t size) -> uint32_t {
        uint32_t value = 0;
        if (offset + size <= image.size()) {
            std::memcpy(&value, image.data() + offset, size);
        }
        return value;
    };
    uint32_t pe = at(0x3C, 4);
    uint32_t sections = at(pe + 6, 2);
    uint32_t table = pe + 24 + at(pe + 20, 2);
    for (uint32_t i = 0; i < sections; ++i) {
        uint32_t header = table + i * 40;
        if (header + 40 > image.size() || std::memcmp(image.data() + header, ".rsrc", 6) != 0) {
            continue;
        }
        uint32_t start = at(header + 20, 4);
        uint32_t size = at(header + 16, 4);
        const char name[] = "\x06\0Z\0I\0P\0R\0E\0S\0";  // counted UTF-16 "ZIPRES"
        auto end = image.begin() + std::min<size_t>(image.size(), size_t{start} + size);
        auto found = std::search(image.begin() + std::min<size_t>(start, image.size()), end, name,
                                 name + sizeof name - 1);
        if (found == end) {
            return false;
        }
        found[12] = 'X';
        std::ofstream out(std::filesystem::path(to), std::ios::binary | std::ios::trunc);
        out.write(image.data(), static_cast<std::streamsize>(image.size()));
        return out.good();
    }
    return false;
}

// A copy of the exe without its "ZIPRES" resource: no language file can be
// found, so every caption shows its key.
TEST(NoArchiveEndToEnd, CaptionsShowTheirKeys) {
    std::wstring exe = e2e::Env(L"TDE_E2E_EXE");
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring copy = std::wstring(temp) + L"TarnDovEzuvar-no-archive.exe";
    ASSERT_TRUE(WriteWithoutArchive(exe, copy));
    HMODULE image = LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(FindResourceW(image, MAKEINTRESOURCEW(IDR_DRIVER_ARCHIVE), L"ZIPRES"), nullptr)
        << "the copy still carries the archive";
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(IDD_MAIN), MAKEINTRESOURCEW(5)), nullptr);
    FreeLibrary(image);

    {
        e2e::InstallerProcess installer;
        ASSERT_TRUE(installer.Start(copy)) << GetLastError();
        HWND dialog = e2e::WaitForDialog(installer.Id());
        ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
        EXPECT_EQ(e2e::TextOf(dialog), L"tip.dlgtitle - V" TDE_VERSION_TEXT);
        EXPECT_EQ(e2e::TextOf(GetDlgItem(dialog, IDC_INSTALL)), L"tip.btn.begininstall");
        for (const CaptionKey& caption : DialogCaptionKeys()) {
            SCOPED_TRACE(testing::Message() << "control " << caption.controlId);
            EXPECT_EQ(TextOf(GetDlgItem(dialog, caption.controlId)), caption.key);
        }
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
        DWORD code = 1234;
        EXPECT_TRUE(installer.WaitForExit(20000, &code));
        EXPECT_EQ(code, 0u);
    }
    DeleteFileW(copy.c_str());
}

}  // namespace
}  // namespace tde
