#include "app/app.h"
#include "app/main_dialog.h"
#include "archive/archive.h"
#include "text/text.h"

#include <commctrl.h>

namespace tde {

const wchar_t kProductVersion[] = L"V1.0.14";

bool CTarnDovEzuvarApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = 8;
    controls.dwICC = 0xFF;  // every class of the Windows 95 common-control set
    InitCommonControlsEx(&controls);

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
