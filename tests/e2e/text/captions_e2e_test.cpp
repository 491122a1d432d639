// Starts the real TarnDovEzuvar.exe in an English session: the captions come
// from lan_en.xml through the embedded archive, switching the (hidden) language
// combo box reloads them, and the About box shares the window caption. The
// expected texts are read from the shipped language files.
#include "app/resource_ids.h"
#include "text/text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tde {
namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

std::u16string TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

struct FindData {
    DWORD process;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindDialogOf(HWND window, LPARAM param) {
    auto* data = reinterpret_cast<FindData*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (pid == data->process && window != data->exclude && IsWindowVisible(window) &&
        std::wstring(cls) == L"#32770") {
        data->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForDialog(DWORD process, HWND exclude = nullptr, DWORD timeoutMs = 30000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        FindData data = {process, exclude, nullptr};
        EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&data));
        if (data.found != nullptr) {
            return data.found;
        }
        Sleep(100);
    }
    return nullptr;
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
        std::wstring exe = Env(L"TDE_E2E_EXE");
        ASSERT_FALSE(exe.empty()) << "TDE_E2E_EXE names the installer";
        std::wstring command = L"\"" + exe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process_))
            << GetLastError();
        started_ = true;
        dialog = WaitForDialog(process_.dwProcessId);
        ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
    }

    void TearDown() override {
        if (!started_) {
            return;
        }
        if (dialog != nullptr && IsWindow(dialog)) {
            SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
        }
        DWORD code = 1234;
        bool ended = WaitForSingleObject(process_.hProcess, 20000) == WAIT_OBJECT_0;
        if (!ended) {
            TerminateProcess(process_.hProcess, 99);
        }
        GetExitCodeProcess(process_.hProcess, &code);
        EXPECT_TRUE(ended) << "the installer did not end";
        EXPECT_EQ(code, 0u);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
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

    DWORD ProcessId() const { return process_.dwProcessId; }

    TextTable english;
    TextTable chinese;
    HWND dialog = nullptr;

  private:
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
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
    HWND about = WaitForDialog(ProcessId(), dialog, 10000);
    ASSERT_NE(about, nullptr) << "the About box did not appear";
    EXPECT_EQ(TextOf(about), TextOf(dialog));
    EXPECT_EQ(TextOf(about), WindowCaption(english));
    SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    for (int i = 0; i < 100 && IsWindow(about); ++i) {
        Sleep(100);
    }
    EXPECT_FALSE(IsWindow(about));
}

}  // namespace
}  // namespace tde
