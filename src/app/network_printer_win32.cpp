// The system menu's "Network printer…": a small dialog takes an address,
// checks on a worker thread whether the printer answers while the dialog keeps
// painting, asks before adding the port of a printer that does not answer, then
// makes or reuses the port, which the main dialog adds to its port list and
// selects, as the USB button does with a detected port.
#include "app/main_dialog.h"
#include "app/resource_ids.h"
#include "base/win32.h"
#include "install/error_text.h"
#include "ports/reachability.h"
#include "ports/tcp_port.h"
#include "ports/usb_ports.h"
#include "text/text.h"

#include <memory>
#include <optional>
#include <string>

namespace tde {

namespace {

// Posted by the worker thread when the probe is done; wParam is its ProbeOutcome.
constexpr UINT kProbeDone = WM_APP + 1;

struct ProbeRequest {
    HWND dialog;
    TcpAddress address;
};

DWORD WINAPI ProbeThread(void* parameter) {
    std::unique_ptr<ProbeRequest> request(static_cast<ProbeRequest*>(parameter));
    ProbeResult result = CreateWin32PrinterProbe()->Probe(request->address, kProbeTimeLimitMs);
    PostMessageW(request->dialog, kProbeDone, static_cast<WPARAM>(result.outcome), 0);
    return 0;
}

class CNetworkPrinterDlg {
  public:
    explicit CNetworkPrinterDlg(HINSTANCE instance) : instance_(instance) {}

    // The port made or reused; nothing when cancelled.
    std::optional<std::u16string> DoModal(HWND owner) {
        DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_NETWORK_PRINTER), owner, DialogProc,
                        reinterpret_cast<LPARAM>(this));
        return port_;
    }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        CNetworkPrinterDlg* self;
        if (message == WM_INITDIALOG) {
            self = reinterpret_cast<CNetworkPrinterDlg*>(lParam);
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            self->window_ = window;
        } else {
            self = reinterpret_cast<CNetworkPrinterDlg*>(GetWindowLongPtrW(window, DWLP_USER));
        }
        return self != nullptr ? self->HandleMessage(message, wParam) : FALSE;
    }

    INT_PTR HandleMessage(UINT message, WPARAM wParam) {
        switch (message) {
            case WM_INITDIALOG:
                OnInitDialog();
                return TRUE;
            case WM_COMMAND:
                if (LOWORD(wParam) == IDOK) {
                    OnOk();
                } else if (LOWORD(wParam) == IDCANCEL && !probing_) {
                    EndDialog(window_, IDCANCEL);  // not while the worker may still post to it
                }
                return TRUE;
            case kProbeDone:
                OnProbed(static_cast<ProbeOutcome>(wParam));
                return TRUE;
            default:
                return FALSE;
        }
    }

    void OnInitDialog() {
        const TextTable& texts = GetTextTable();
        SetWindowTextW(window_, AsWide(texts.GetText(textkey::kNetTitle)));
        SetDlgItemTextW(window_, IDC_NET_LABEL, AsWide(texts.GetText(textkey::kNetAddress)));
        SetDlgItemTextW(window_, IDOK, AsWide(texts.GetText(textkey::kNetOk)));
        SetDlgItemTextW(window_, IDCANCEL, AsWide(texts.GetText(textkey::kNetCancel)));
        SendDlgItemMessageW(window_, IDC_NET_ADDRESS, EM_LIMITTEXT, kMaxTypedChars, 0);
    }

    void ShowStatus(const std::u16string& text) {
        SetDlgItemTextW(window_, IDC_NET_STATUS, AsWide(text));
    }

    void SetProbing(bool probing) {
        probing_ = probing;
        for (int control : {IDC_NET_ADDRESS, IDOK, IDCANCEL}) {
            EnableWindow(GetDlgItem(window_, control), !probing);
        }
        if (!probing) {
            SetFocus(GetDlgItem(window_, IDC_NET_ADDRESS));
        }
    }

    void OnOk() {
        if (probing_) {
            return;  // Enter while the probe runs
        }
        wchar_t typed[kMaxTypedChars + 1] = {};
        GetDlgItemTextW(window_, IDC_NET_ADDRESS, typed, kMaxTypedChars + 1);
        typed_ = reinterpret_cast<const char16_t*>(typed);
        std::optional<TcpAddress> address = ParseDialogAddress(typed_);
        const TextTable& texts = GetTextTable();
        if (!address) {
            ShowStatus(FormatText(texts.GetText(textkey::kNetMalformed), {typed_}));
            return;
        }
        address_ = *address;
        ShowStatus(texts.GetText(textkey::kNetChecking));
        SetProbing(true);
        auto* request = new ProbeRequest{window_, address_};
        HANDLE thread = CreateThread(nullptr, 0, ProbeThread, request, 0, nullptr);
        if (thread == nullptr) {
            delete request;
            OnProbed(ProbeOutcome::TimedOut);  // no check made: ask as for no answer
            return;
        }
        CloseHandle(thread);
    }

    void OnProbed(ProbeOutcome outcome) {
        SetProbing(false);
        ShowStatus(u"");
        const TextTable& texts = GetTextTable();
        // Two buttons, unlike the program's other boxes: the answer is a choice.
        if (outcome != ProbeOutcome::Answered &&
            MessageBoxW(window_, AsWide(FormatText(texts.GetText(textkey::kNetNoAnswer), {typed_})),
                        AsWide(texts.GetText(textkey::kDlgTitle)),
                        MB_YESNO | MB_ICONQUESTION) != IDYES) {
            return;
        }
        std::unique_ptr<Spooler> spooler = CreateWin32Spooler();
        TcpPortResult result =
            MakeOrReuseTcpPort(*spooler, *CreateWin32XcvChannel(*spooler), address_);
        switch (result.outcome) {
            case TcpPortOutcome::Reused:
            case TcpPortOutcome::Made:
                port_ = result.portName;
                EndDialog(window_, IDOK);
                break;
            case TcpPortOutcome::NameTaken:
                ShowStatus(FormatText(texts.GetText(textkey::kNetNameTaken), {result.portName}));
                break;
            case TcpPortOutcome::Refused: {
                Win32SystemMessages messages;
                ShowStatus(FormatText(texts.GetText(textkey::kNetRefused),
                                      {SystemErrorText(messages, result.error)}));
                break;
            }
        }
    }

    static constexpr int kMaxTypedChars = 80;
    HINSTANCE instance_;
    HWND window_ = nullptr;
    bool probing_ = false;
    std::u16string typed_;
    TcpAddress address_;
    std::optional<std::u16string> port_;
};

}  // namespace

void CTarnDovEzuvarDlg::OnNetworkPrinter() {
    CNetworkPrinterDlg dialog(instance_);
    if (std::optional<std::u16string> port = dialog.DoModal(window_)) {
        Win32PortCombo combo(GetDlgItem(window_, IDC_PORT));
        MergeDetectedPorts(combo, {*port});
    }
}

}  // namespace tde
