// The installer application: start-up, the main dialog, the About box, and the
// compiled-in printer model catalogue (catalogue.h, portable).
#pragma once

#include "install/catalogue.h"

#ifdef _WIN32
#include <windows.h>

namespace tde {

// "V" and the version (version.h), e.g. "V1.0.14": shown after " - " in the
// window captions and in the About box.
extern const wchar_t kProductVersion[];

// RegisterApplicationRestart's shape. Windows before Vista has no restart manager.
using RestartRegistrar = HRESULT(WINAPI*)(PCWSTR commandLine, DWORD flags);
// The system's RegisterApplicationRestart, looked up at run time; null where there is none.
RestartRegistrar SystemRestartRegistrar();

// The application object: one global instance; InitInstance is its whole life.
class CTarnDovEzuvarApp {
  public:
    // `registerRestart` is the seam through which tests see the registration.
    explicit CTarnDovEzuvarApp(HINSTANCE instance,
                               RestartRegistrar registerRestart = SystemRestartRegistrar())
        : instance_(instance), registerRestart_(registerRestart) {}
    // Prepares the process, runs the main dialog modally, releases what start-up
    // set up. Always false: there is no message loop of the application's own.
    bool InitInstance();

  private:
    HINSTANCE instance_;
    RestartRegistrar registerRestart_;
};

// Sends the control messages of a dialog's initialisation data (resource type
// 240 with the template's id) to its controls. False when the data is malformed.
bool ExecuteDialogInit(HWND dialog, HINSTANCE instance, int templateId);

}  // namespace tde
#endif
