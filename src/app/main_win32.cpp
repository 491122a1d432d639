#include "app/app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    tde::CTarnDovEzuvarApp app(instance);
    app.InitInstance();
    return 0;
}
