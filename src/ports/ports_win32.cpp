#include "ports/ports.h"

#include <windows.h>

namespace tde {

void FillPortList(void* comboBox, Spooler& spooler) {
    HWND combo = static_cast<HWND>(comboBox);
    // The combo box sorts what it is given; names go in in the spooler's order.
    for (const std::u16string& name : OfferedPorts(ReadPortNames(spooler))) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    if (SendMessageW(combo, CB_GETCOUNT, 0, 0) > 0) {
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
    }
}

}  // namespace tde
