// Starts the real TarnDovEzuvar.exe, finds its dialog, checks the controls of
// the main window against the dialog's layout, and closes it the three ways a
// user can. A screenshot of the window is kept under the build folder.
#include "install/catalogue.h"
#include "install/installer_lock.h"
#include "app/resource_ids.h"
#include "installer_process.h"
#include "screenshot.h"
#include "support/text.h"
#include "version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace tde::e2e;

enum class Kind { Radio, Check, Push, DefPush, Group, Label, RightLabel, ComboList };

struct ExpectedControl {
    int id;
    Kind kind;
    const wchar_t* caption;  // template caption; null for combo boxes
    bool visible;
};

// The main dialog's controls in template (tab) order.
const ExpectedControl kControls[] = {
    {IDC_RADIO_32, Kind::Radio, L"32位", true},
    {IDC_RADIO_64, Kind::Radio, L"64位", true},
    {IDC_MODEL, Kind::ComboList, nullptr, true},
    {IDC_DEFAULT_PRINTER, Kind::Check, L"缺省打印机", true},
    {IDC_PORT, Kind::ComboList, nullptr, true},
    {IDC_USB_DETECT, Kind::Push, L"usb端口检测", true},
    {IDC_GROUP_SYSTEM, Kind::Group, L"系统版本（自动设别）", true},
    {IDC_GROUP_MODEL, Kind::Group, L"机型设置", true},
    {IDC_LABEL_MODEL, Kind::Label, L"打印机类型：", true},
    {IDC_GROUP_PORT, Kind::Group, L"打印端口", true},
    {IDC_LABEL_PORT, Kind::Label, L"端口选择：", true},
    {IDC_INSTALL, Kind::DefPush, L"安装驱动", true},
    {IDC_EXIT, Kind::Push, L"退出", true},
    {IDC_LANGUAGE, Kind::ComboList, nullptr, false},
    {IDC_LABEL_LANGUAGE, Kind::RightLabel, L"UI Language:", false},
};

void ExpectKind(HWND control, Kind kind) {
    LONG style = GetWindowLongW(control, GWL_STYLE);
    std::wstring cls = ClassOf(control);
    switch (kind) {
        case Kind::Radio:
            EXPECT_EQ(cls, L"Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_AUTORADIOBUTTON);
            EXPECT_TRUE(style & WS_GROUP) << "each radio button starts a group of its own";
            break;
        case Kind::Check:
            EXPECT_EQ(cls, L"Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
            break;
        case Kind::Push:
            EXPECT_EQ(cls, L"Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
            break;
        case Kind::DefPush:
            EXPECT_EQ(cls, L"Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
            break;
        case Kind::Group:
            EXPECT_EQ(cls, L"Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
            break;
        case Kind::Label:
            EXPECT_EQ(cls, L"Static");
            EXPECT_EQ(style & SS_TYPEMASK, SS_LEFT);
            break;
        case Kind::RightLabel:
            EXPECT_EQ(cls, L"Static");
            EXPECT_EQ(style & SS_TYPEMASK, SS_RIGHT);
            break;
        case Kind::ComboList:
            EXPECT_EQ(cls, L"ComboBox");
            EXPECT_EQ(style & 3, CBS_DROPDOWNLIST);
            break;
    }
}

std::wstring ComboItem(HWND combo, int index) {
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) {
        return L"<none>";
    }
    std::wstring text(length + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return text;
}

class DialogEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Env(L"TDE_E2E_EXE").empty()) << "TDE_E2E_EXE names the installer";
        ASSERT_TRUE(installer.Start()) << "CreateProcess failed: " << GetLastError();
        dialog = WaitForDialog(installer.Id());
        ASSERT_NE(dialog, nullptr) << "the main dialog did not appear";
    }

    void ExpectEndsNormally() {
        DWORD code = 1234;
        ASSERT_TRUE(installer.WaitForExit(20000, &code)) << "the installer did not end";
        EXPECT_EQ(code, 0u);
    }

    InstallerProcess installer;
    HWND dialog = nullptr;
};

TEST_F(DialogEndToEnd, ControlsHaveTheirKindsAndTemplateCaptions) {
    // The caption of every control in a Chinese session comes from the Chinese
    // texts, which repeat the template's captions.
    for (const ExpectedControl& expected : kControls) {
        SCOPED_TRACE(testing::Message() << "control " << expected.id);
        HWND control = GetDlgItem(dialog, expected.id);
        ASSERT_NE(control, nullptr);
        ExpectKind(control, expected.kind);
        EXPECT_EQ(IsWindowVisible(control) != FALSE, expected.visible);
        if (expected.caption != nullptr) {
            EXPECT_EQ(TextOf(control), expected.caption);
        }
    }
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_PORT), GWL_STYLE) & CBS_SORT);

    HWND language = GetDlgItem(dialog, IDC_LANGUAGE);
    ASSERT_EQ(SendMessageW(language, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(ComboItem(language, 0), L"English");
    EXPECT_EQ(ComboItem(language, 1), L"简体中文");

    HWND model = GetDlgItem(dialog, IDC_MODEL);
    tde::ModelCatalogue catalogue;
    tde::BuildModelCatalogue(catalogue);
    ASSERT_EQ(SendMessageW(model, CB_GETCOUNT, 0, 0), LRESULT(catalogue.modelNames.size()));
    for (size_t i = 0; i < catalogue.modelNames.size(); ++i) {
        EXPECT_EQ(ComboItem(model, int(i)), tde::test::Wide(catalogue.modelNames[i].displayName));
    }
    EXPECT_EQ(SendMessageW(model, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_DEFAULT_PRINTER), BST_CHECKED);

    std::wstring shots = Env(L"TDE_E2E_SHOTS");
    if (!shots.empty()) {
        CreateDirectoryW(shots.c_str(), nullptr);
        Sleep(500);  // let the window finish painting
        EXPECT_TRUE(SaveScreenshot(dialog, shots + L"\\main-dialog.bmp"));
    }

    SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
    ExpectEndsNormally();
}

TEST_F(DialogEndToEnd, EscapeClosesTheDialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ExpectEndsNormally();
}

TEST_F(DialogEndToEnd, CloseBoxClosesTheDialog) {
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectEndsNormally();
}

TEST_F(DialogEndToEnd, PreselectsTheRadioOfTheDetectedSystem) {
    // The installer is 32-bit like this test: under WOW64 both run on 64-bit Windows.
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RADIO_64), wow64 ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RADIO_32), wow64 ? BST_UNCHECKED : BST_CHECKED);
    SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
    ExpectEndsNormally();
}

TEST_F(DialogEndToEnd, RadioButtonsStayExclusive) {
    HWND radio32 = GetDlgItem(dialog, IDC_RADIO_32);
    HWND radio64 = GetDlgItem(dialog, IDC_RADIO_64);
    SendMessageW(radio32, BM_CLICK, 0, 0);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RADIO_32), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RADIO_64), BST_UNCHECKED);
    SendMessageW(radio64, BM_CLICK, 0, 0);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RADIO_64), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RADIO_32), BST_UNCHECKED);
    SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
    ExpectEndsNormally();
}

TEST_F(DialogEndToEnd, SystemMenuOpensTheAboutBoxWithTheVersion) {
    // Any command 16 to 31 opens the About box.
    PostMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0);
    HWND about = WaitForDialog(installer.Id(), dialog, 10000);
    ASSERT_NE(about, nullptr) << "the About box did not appear";
    EXPECT_EQ(TextOf(GetDlgItem(about, IDC_ABOUT_VERSION)), L"DovEzuvar\xFF0CV" TDE_VERSION_TEXT);
    SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntilGone(about));
    SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
    ExpectEndsNormally();
}

TEST_F(DialogEndToEnd, ChineseSessionSelectsChineseInTheLanguageCombo) {
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_LANGUAGE), CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(TextOf(dialog), L"打印机驱动安装 - V" TDE_VERSION_TEXT);
    SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
    ExpectEndsNormally();
}

TEST_F(DialogEndToEnd, InstallWhileAQuietRunHoldsTheLockShowsOneBoxAndDoesNothing) {
    // Wine has no private namespaces: the installer falls back to this name.
    HANDLE lock = CreateMutexW(nullptr, TRUE, tde::kInstallerLockName);
    ASSERT_NE(lock, nullptr) << GetLastError();
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_INSTALL, BN_CLICKED), 0);
    HWND box = WaitForDialog(installer.Id(), dialog, 10000);
    ReleaseMutex(lock);
    CloseHandle(lock);
    ASSERT_NE(box, nullptr) << "no box appeared";
    EXPECT_EQ(ControlText(GetDlgItem(box, 0xFFFF)),
              L"此计算机上正在进行另一项安装。请等待其完成后，再次点击“安装驱动”。");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntilGone(box));
    SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
    ExpectEndsNormally();
}

TEST_F(DialogEndToEnd, TheSystemMenuItemOpensTheAboutBox) {
    // Alt+Space opens the system menu on its first item; the About item is the
    // last, one step up. (Its mnemonic A is also that of Wine's own About item.)
    PostMessageW(dialog, WM_SYSCOMMAND, SC_KEYMENU, L' ');
    HWND menu = WaitForWindow(installer.Id(), L"#32768", nullptr, 10000);
    ASSERT_NE(menu, nullptr) << "the system menu did not open";
    PostMessageW(dialog, WM_KEYDOWN, VK_UP, 0);
    PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, 0);
    HWND about = WaitForDialog(installer.Id(), dialog, 10000);
    ASSERT_NE(about, nullptr) << "the About box did not appear";
    EXPECT_EQ(TextOf(about), TextOf(dialog));
    EXPECT_EQ(TextOf(about), L"打印机驱动安装 - V" TDE_VERSION_TEXT);
    EXPECT_EQ(ControlText(GetDlgItem(about, IDC_ABOUT_VERSION)),
              L"DovEzuvar\xFF0CV" TDE_VERSION_TEXT);
    PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntilGone(about));
    SendMessageW(GetDlgItem(dialog, IDC_EXIT), BM_CLICK, 0, 0);
    ExpectEndsNormally();
}

}  // namespace
