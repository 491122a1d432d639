#include "app/app.h"
#include "app/main_dialog.h"
#include "archive/archive.h"
#include "base/win32.h"
#include "text/text.h"
#include "version.h"

#include <commctrl.h>

namespace tde {

const wchar_t kProductVersion[] = L"V" TDE_VERSION_TEXT;

RestartRegistrar SystemRestartRegistrar() {
    return SystemFunction<RestartRegistrar>(L"kernel32.dll", "RegisterApplicationRestart");
}

bool CTarnDovEzuvarApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = 8;
    controls.dwICC = 0xFF;  // every class of the Windows 95 common-control set
    InitCommonControlsEx(&controls);
    // Only a run with the window asks to be restarted after an update or a crash:
    // restart support only, no command line of its own.
    if (registerRestart_ != nullptr) {
        registerRestart_(nullptr, 0);
    }

    CUiResources::SetModuleInstance(instance_);
    if (RegisterEmbeddedArchive()) {
        // The archive holds no res.xml: the result is ignored.
        GetTextTable().LoadResourceIndex(kResourceIndexFile);
    }

    {
        CTarnDovEzuvarDlg dialog(instance_);
        dialog.DoModal(nullptr);  // which button closed it does not matter
    }
    // The text table is destroyed before the archive goes.
    DestroyTextTable();
    ReleaseResources();
    return false;
}

}  // namespace tde
