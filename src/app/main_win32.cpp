#include "app/app.h"
#include "base/win32.h"
#include "quiet/quiet.h"
#include "spooler/spooler.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    // Before anything loads a library: the program runs elevated, often from a
    // downloads folder where anyone can drop a DLL beside it.
    tde::RestrictDllSearchToSystemFolder();
    // With arguments it is an unattended run and never the dialog.
    if (arguments != nullptr && arguments[wcsspn(arguments, L" \t")] != L'\0') {
        return tde::RunCommandLine(instance, arguments);
    }
    tde::CTarnDovEzuvarApp app(instance);
    app.InitInstance();
    return 0;
}
