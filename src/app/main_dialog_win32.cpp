#include "app/main_dialog.h"

#include "app/app.h"
#include "app/resource_ids.h"
#include "base/win32.h"
#include "install/catalogue.h"
#include "ports/ports.h"
#include "spooler/spooler.h"
#include "system/system.h"
#include "text/text.h"

#include <string>

namespace tde {

CTarnDovEzuvarDlg::CTarnDovEzuvarDlg(HINSTANCE instance)
    : instance_(instance), icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP))) {}

CTarnDovEzuvarDlg::~CTarnDovEzuvarDlg() = default;

INT_PTR CTarnDovEzuvarDlg::DoModal(HWND owner) {
    return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_MAIN), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CTarnDovEzuvarDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    CTarnDovEzuvarDlg* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CTarnDovEzuvarDlg*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
    } else {
        self = reinterpret_cast<CTarnDovEzuvarDlg*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    return self != nullptr ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CTarnDovEzuvarDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_SYSCOMMAND:
            // Commands other than the About item get the dialog's default handling.
            return OnSysCommand(static_cast<UINT>(wParam)) ? TRUE : FALSE;
        case WM_PAINT:
            if (IsIconic(window_)) {
                OnPaint();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            // One of the few messages whose answer is the dialog procedure's own result.
            return reinterpret_cast<INT_PTR>(icon_);
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

BOOL CTarnDovEzuvarDlg::OnInitDialog() {
    ExecuteDialogInit(window_, instance_, IDD_MAIN);

    if (HMENU menu = GetSystemMenu(window_, FALSE)) {
        wchar_t about[128] = {};
        if (LoadStringW(instance_, IDS_ABOUTBOX, about, 128) > 0 && about[0] != L'\0') {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
        // Its text follows the language (ApplyLanguageTexts).
        AppendMenuW(menu, MF_STRING, IDM_NETWORK_PRINTER, L"");
    }
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    // Chinese only when both the user's and the system's UI language are Chinese
    // (PRC); whether the file loads is not checked: missing texts show their keys.
    LanguageChoice language =
        ChooseLanguage(GetUserDefaultUILanguage(), GetSystemDefaultUILanguage());
    GetTextTable().LoadLanguageFile(language.file);
    if (language.messageLanguageId == kLanguageChinesePrc) {
        SetMessageLanguageId(language.messageLanguageId);
    }
    SendDlgItemMessageW(window_, IDC_LANGUAGE, CB_SETCURSEL, language.comboIndex, 0);
    ApplyLanguageTexts();

    BuildModelCatalogue(catalogue);
    FillModelCombo();
    FillPortList(GetDlgItem(window_, IDC_PORT), *CreateWin32Spooler());

    // The radios only show the detected kind of system; installing asks again.
    if (PreselectedSystemRadio(Win32SystemFacts()) == SystemRadio::Bits64) {
        OnSelect64Bit();
    } else {
        OnSelect32Bit();
    }

    CheckDlgButton(window_, IDC_DEFAULT_PRINTER, BST_CHECKED);
    return TRUE;  // focus to the first tab stop
}

void CTarnDovEzuvarDlg::ApplyLanguageTexts() {
    const TextTable& texts = GetTextTable();
    SetWindowTextW(window_, AsWide(WindowCaption(texts)));
    for (const CaptionKey& caption : DialogCaptionKeys()) {
        SetDlgItemTextW(window_, caption.controlId, AsWide(texts.GetText(caption.key)));
    }
    ModifyMenuW(GetSystemMenu(window_, FALSE), IDM_NETWORK_PRINTER, MF_BYCOMMAND | MF_STRING,
                IDM_NETWORK_PRINTER, AsWide(texts.GetText(textkey::kNetMenu)));
}

// The new texts merge into the table; the language of system messages stays.
void CTarnDovEzuvarDlg::OnLanguageChanged() {
    auto index = static_cast<int>(SendDlgItemMessageW(window_, IDC_LANGUAGE, CB_GETCURSEL, 0, 0));
    GetTextTable().LoadLanguageFile(LanguageFileForComboIndex(index));
    ApplyLanguageTexts();
}

void CTarnDovEzuvarDlg::FillModelCombo() {
    HWND combo = GetDlgItem(window_, IDC_MODEL);
    for (size_t i = 0; i < catalogue.modelNames.size(); ++i) {
        SendMessageW(combo, CB_INSERTSTRING, i,
                     reinterpret_cast<LPARAM>(AsWide(catalogue.modelNames[i].displayName)));
    }
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

bool CTarnDovEzuvarDlg::OnSysCommand(UINT command) {
    switch (command & 0xFFF0) {
        case IDM_ABOUTBOX: {
            CAboutDlg about(instance_);
            about.DoModal(window_);
            return true;
        }
        case IDM_NETWORK_PRINTER:
            OnNetworkPrinter();
            return true;
        default:
            return false;  // move, close, minimise and the rest
    }
}

void CTarnDovEzuvarDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window_, &client);
    int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window_, &paint);
}

void CTarnDovEzuvarDlg::OnCommand(int control, int notification) {
    switch (control) {
        case IDC_EXIT:
        case IDCANCEL:  // Escape and the close box
            if (notification == BN_CLICKED) {
                OnExit();
            }
            break;
        case IDC_INSTALL:
            if (notification == BN_CLICKED) {
                RunInstallation();
            }
            break;
        case IDC_RADIO_32:
            if (notification == BN_CLICKED) {
                OnSelect32Bit();
            }
            break;
        case IDC_RADIO_64:
            if (notification == BN_CLICKED) {
                OnSelect64Bit();
            }
            break;
        case IDC_USB_DETECT:
            if (notification == BN_CLICKED) {
                OnUsbPortDetect();
            }
            break;
        case IDC_LANGUAGE:
            if (notification == CBN_SELCHANGE) {
                OnLanguageChanged();
            }
            break;
        default:
            break;
    }
}

// The radio buttons each start a group of their own, so the dialog keeps them exclusive.
void CTarnDovEzuvarDlg::OnSelect32Bit() {
    CheckDlgButton(window_, IDC_RADIO_32, BST_CHECKED);
    CheckDlgButton(window_, IDC_RADIO_64, BST_UNCHECKED);
}

void CTarnDovEzuvarDlg::OnSelect64Bit() {
    CheckDlgButton(window_, IDC_RADIO_64, BST_CHECKED);
    CheckDlgButton(window_, IDC_RADIO_32, BST_UNCHECKED);
}

void CTarnDovEzuvarDlg::OnExit() {
    EndDialog(window_, IDCANCEL);
}

INT_PTR CAboutDlg::DoModal(HWND owner) {
    return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowTextW(window, AsWide(WindowCaption(GetTextTable())));
            std::wstring version = std::wstring(L"DovEzuvar\xFF0C") + kProductVersion;
            SetDlgItemTextW(window, IDC_ABOUT_VERSION, version.c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace tde
