// The "usb端口检测" button: find the connected USB printers' ports and select
// the first in the port combo box, where the next installation picks it up.
#include "app/main_dialog.h"
#include "app/resource_ids.h"
#include "ports/usb_ports.h"
#include "text/text.h"

namespace tde {

void CTarnDovEzuvarDlg::OnUsbPortDetect() {
    UsbPortList ports = DetectUsbPrinterPorts(*CreateWin32DeviceSetup());
    if (ports.empty()) {
        const TextTable& texts = GetTextTable();
        std::u16string text = texts.GetText(textkey::kNoUsbPort);
        std::u16string caption = texts.GetText(textkey::kDlgTitle);
        MessageBoxW(window_, reinterpret_cast<const wchar_t*>(text.c_str()),
                    reinterpret_cast<const wchar_t*>(caption.c_str()), MB_OK | MB_ICONINFORMATION);
        return;
    }
    Win32PortCombo combo(GetDlgItem(window_, IDC_PORT));
    MergeDetectedPorts(combo, ports);
}

}  // namespace tde
