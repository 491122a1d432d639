#include "app/app.h"
#include "spooler/spooler.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything loads a library: the program runs elevated, often from a
    // downloads folder where anyone can drop a DLL beside it.
    tde::RestrictDllSearchToSystemFolder();
    tde::CTarnDovEzuvarApp app(instance);
    app.InitInstance();
    return 0;
}
