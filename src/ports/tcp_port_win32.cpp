// The Xcv exchanges with this machine's port monitors. XcvDataW comes from
// winspool.drv loaded from the system folder, as every spooler function does.
#include "ports/tcp_port.h"

#include "base/win32.h"

#include <windows.h>
#include <winspool.h>

namespace tde {

namespace {

using XcvDataFn = decltype(&::XcvDataW);

class Win32XcvChannel final : public XcvChannel {
  public:
    explicit Win32XcvChannel(Spooler& spooler)
        : spooler_(spooler), module_(static_cast<HMODULE>(LoadSystemLibrary(L"winspool.drv"))) {
        xcvData_ = SystemFunction<XcvDataFn>(module_, "XcvDataW");
    }
    ~Win32XcvChannel() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    Win32XcvChannel(const Win32XcvChannel&) = delete;
    Win32XcvChannel& operator=(const Win32XcvChannel&) = delete;

    XcvAnswer Exchange(std::u16string_view object, uint32_t access, std::u16string_view command,
                       const void* input, uint32_t inputSize, void* output,
                       uint32_t outputSize) override {
        XcvAnswer answer;
        std::u16string objectName(object);
        PrinterHandle handle = nullptr;
        spooler_.SetLastError(0);
        if (!spooler_.OpenPrinterW(objectName.c_str(), &handle, access)) {
            answer.error = spooler_.LastError();
            return answer;
        }
        answer.opened = true;
        if (xcvData_ == nullptr) {
            answer.error = ERROR_PROC_NOT_FOUND;
        } else {
            std::u16string commandName(command);
            DWORD needed = 0;
            DWORD status = 0;
            ::SetLastError(0);
            // The monitor only reads the input; the signature is not const.
            answer.result =
                xcvData_(handle, AsWide(commandName), static_cast<BYTE*>(const_cast<void*>(input)),
                         inputSize, static_cast<BYTE*>(output), outputSize, &needed,
                         &status) != FALSE;
            answer.error = answer.result ? 0 : GetLastError();
            answer.status = status;
            answer.needed = needed;
        }
        spooler_.ClosePrinter(handle);
        return answer;
    }

  private:
    Spooler& spooler_;
    HMODULE module_;
    XcvDataFn xcvData_ = nullptr;
};

}  // namespace

std::unique_ptr<XcvChannel> CreateWin32XcvChannel(Spooler& spooler) {
    return std::make_unique<Win32XcvChannel>(spooler);
}

}  // namespace tde
