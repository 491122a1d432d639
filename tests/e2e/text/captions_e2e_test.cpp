// Starts the real TarnDovEzuvar.exe in an English session: the captions come
// from lan_en.xml through the embedded archive, switching the (hidden) language
// combo box reloads them, and the About box shares the window caption. The
// expected texts are read from the shipped language files.
#include "app/resource_ids.h"
#include "installer_process.h"
#include "text/text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tde {
namespace {

std::u16string TextOf(HWND window) {
    std::wstring text = e2e::TextOf(window);
    return std::u16string(text.begin(), text.end());
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
    EXPECT_EQ(TextOf(dialog), u"Printer Driver Setup - V1.0.14");
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_LANGUAGE, CB_GETCURSEL, 0, 0), 0);
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
