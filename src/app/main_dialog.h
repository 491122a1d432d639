// The installer's one window (dialog template 102) and its About box (100).
#pragma once

#include "install/catalogue.h"
#include "install/workflow.h"

#include <windows.h>

namespace tde {

class CTarnDovEzuvarDlg {
  public:
    explicit CTarnDovEzuvarDlg(HINSTANCE instance);
    ~CTarnDovEzuvarDlg();
    CTarnDovEzuvarDlg(const CTarnDovEzuvarDlg&) = delete;
    CTarnDovEzuvarDlg& operator=(const CTarnDovEzuvarDlg&) = delete;

    // Runs the dialog modally; answers how it ended (IDCANCEL for exit, Escape, close box).
    INT_PTR DoModal(HWND owner);

    // The catalogue, parallel to the model combo box; the installation run reads it.
    ModelCatalogue catalogue;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    bool OnSysCommand(UINT command);  // true when handled
    void OnPaint();
    void OnCommand(int control, int notification);
    void OnSelect32Bit();
    void OnSelect64Bit();
    void OnExit();
    void OnUsbPortDetect();   // usb_detect_win32.cpp
    void OnNetworkPrinter();  // network_printer_win32.cpp
    void OnLanguageChanged();
    void ApplyLanguageTexts();
    void FillModelCombo();
    // The install button's run (install_run_win32.cpp).
    void RunInstallation();

    HINSTANCE instance_;
    HICON icon_;
    HWND window_ = nullptr;
    InstalledLists installedLists_;  // rebuilt by every run
};

class CAboutDlg {
  public:
    explicit CAboutDlg(HINSTANCE instance) : instance_(instance) {}
    INT_PTR DoModal(HWND owner);

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HINSTANCE instance_;
};

}  // namespace tde
