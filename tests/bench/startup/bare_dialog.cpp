// The floor for the installer's start-up: a bare dialog with the installer's
// manifest and a resource of the archive's size, which asks the spooler for its
// ports once (as the installer must) and shows them in its one combo box.
// Built a second time over the installer's own resources (BARE_INSTALLER_TEMPLATE):
// then it shows the installer's dialog template, with nothing of the installer's code.
#include <windows.h>
#include <winspool.h>

#include <vector>

#ifdef BARE_INSTALLER_TEMPLATE
#include "app/resource_ids.h"
#endif

namespace {

#ifdef BARE_INSTALLER_TEMPLATE
constexpr int kDialogId = IDD_MAIN;
constexpr int kPortCombo = IDC_PORT;
#else
constexpr int kDialogId = 100;
constexpr int kPortCombo = 1001;
#endif

std::vector<wchar_t> g_ports;  // NUL-separated names, filled before the dialog

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            for (const wchar_t* name = g_ports.data();
                 name < g_ports.data() + g_ports.size() && *name; name += lstrlenW(name) + 1) {
                SendDlgItemMessageW(window, kPortCombo, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(name));
            }
            SendDlgItemMessageW(window, kPortCombo, CB_SETCURSEL, 0, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, LOWORD(wParam));
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed > 0 ? needed : 1);
    if (EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count)) {
        const auto* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            for (const wchar_t* c = ports[i].pPortName; *c; ++c) {
                g_ports.push_back(*c);
            }
            g_ports.push_back(L'\0');
        }
    }
    g_ports.push_back(L'\0');
    DialogBoxParamW(instance, MAKEINTRESOURCEW(kDialogId), nullptr, DialogProc, 0);
    return 0;
}
