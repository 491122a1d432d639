#include "ports/usb_ports.h"

#include <windows.h>

#include <string>

namespace tde {

namespace {

LPARAM AsText(const std::u16string& text) {
    return reinterpret_cast<LPARAM>(text.c_str());
}

}  // namespace

int Win32PortCombo::FindStringExact(std::u16string_view name) {
    std::u16string text(name);
    return static_cast<int>(SendMessageW(static_cast<HWND>(combo_), CB_FINDSTRINGEXACT,
                                         static_cast<WPARAM>(-1), AsText(text)));
}

void Win32PortCombo::AddString(std::u16string_view name) {
    std::u16string text(name);
    SendMessageW(static_cast<HWND>(combo_), CB_ADDSTRING, 0, AsText(text));
}

void Win32PortCombo::SetCurSel(int index) {
    SendMessageW(static_cast<HWND>(combo_), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

}  // namespace tde
