#include "app/app.h"
#include "app/main_dialog.h"
#include "archive/archive.h"

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
        // Text table: LoadResourceIndex(u"res.xml") goes here once the text
        // subsystem lands; the archive holds no res.xml and its result is ignored.
    }

    {
        CTarnDovEzuvarDlg dialog(instance_);
        dialog.DoModal(nullptr);  // which button closed it does not matter
    }
    // The text table is destroyed before the archive goes.
    ReleaseResources();
    return false;
}

}  // namespace tde
