// SetDefaultPrinter.exe "QUEUE": makes the queue the default printer of the
// user who runs it. The package runs it as the installing user after the
// install, because the default printer belongs to each user and the install
// itself runs as SYSTEM. Exit codes as msiexec has them: 0 set and read back,
// 1603 not set (no such queue, or the spooler refused), 1639 no queue named.
#include <windows.h>
#include <shellapi.h>
#include <winspool.h>

namespace {

constexpr int kSet = 0;
constexpr int kNotSet = 1603;
constexpr int kInvalidCommandLine = 1639;

bool QueueExists(const wchar_t* name) {
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(name), &printer, nullptr)) {
        return false;
    }
    ClosePrinter(printer);
    return true;
}

bool IsDefault(const wchar_t* name) {
    wchar_t current[512] = {};
    DWORD size = 512;
    return GetDefaultPrinterW(current, &size) &&
           CompareStringOrdinal(current, -1, name, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 2 || arguments[1][0] == L'\0') {
        return kInvalidCommandLine;
    }
    const wchar_t* queue = arguments[1];
    const bool set = QueueExists(queue) && SetDefaultPrinterW(queue) && IsDefault(queue);
    LocalFree(arguments);
    return set ? kSet : kNotSet;
}
