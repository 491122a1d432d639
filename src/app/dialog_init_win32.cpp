#include "app/app.h"
#include "app/resource_ids.h"
#include "base/utf8.h"
#include "base/win32.h"

#include <cstring>
#include <string>

namespace tde {

namespace {

// The data names list-box and combo-box additions by their 16-bit message numbers
// (WM_USER + 1 and WM_USER + 3); today's numbers differ.
constexpr WORD kWin16ListAddString = 0x0401;
constexpr WORD kWin16ComboAddString = 0x0403;

UINT CurrentMessage(WORD message) {
    switch (message) {
        case kWin16ListAddString:
            return LB_ADDSTRING;
        case kWin16ComboAddString:
            return CB_ADDSTRING;
        default:
            return message;
    }
}

}  // namespace

bool ExecuteDialogInit(HWND dialog, HINSTANCE instance, int templateId) {
    HRSRC info =
        FindResourceW(instance, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(RT_DLGINIT_DATA));
    if (info == nullptr) {
        return true;  // a template without initialisation data
    }
    HGLOBAL loaded = LoadResource(instance, info);
    DWORD size = SizeofResource(instance, info);
    const auto* data = static_cast<const unsigned char*>(LockResource(loaded));
    if (data == nullptr) {
        return false;
    }
    // Records of control id (WORD), message (WORD), byte count (DWORD), bytes;
    // a control id of 0 ends the list. Every field is checked against the size.
    DWORD pos = 0;
    while (pos + 2 <= size) {
        WORD control;
        std::memcpy(&control, data + pos, 2);
        if (control == 0) {
            return true;
        }
        if (size - pos < 8) {
            return false;
        }
        WORD message;
        DWORD length;
        std::memcpy(&message, data + pos + 2, 2);
        std::memcpy(&length, data + pos + 4, 4);
        pos += 8;
        if (length > size - pos) {
            return false;
        }
        const char* text = reinterpret_cast<const char*>(data + pos);
        const std::u16string entry = Utf8ToUtf16(std::string_view(text, strnlen(text, length)));
        SendDlgItemMessageW(dialog, control, CurrentMessage(message), 0,
                            reinterpret_cast<LPARAM>(AsWide(entry)));
        pos += length;
    }
    return false;
}

}  // namespace tde
