// Finding the ports of the USB printers connected right now, and merging them
// into the port combo box (control 1011) with the first one selected.
#pragma once

#include "ports/device_setup.h"
#include "spooler/spooler.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// Port names of present USB printer interfaces, in the system's enumeration order.
using UsbPortList = std::vector<std::u16string>;

// Buffers the detection reads into.
inline constexpr uint32_t kInstanceIdChars = 256;
inline constexpr uint32_t kPropertyBytes = 520;

// "USB" and the number as a signed decimal of at least three digits: 1 gives
// USB001, 1000 gives USB1000.
std::u16string UsbPortName(uint32_t portNumber);

// The port name of a device from the REG_DWORD "Port Number" under its
// interface's "Device Parameters" key; none when the key or the value is
// missing, the value is not a REG_DWORD, or the number is 0.
std::optional<std::u16string> ReadUsbPortName(DeviceSetup& setup, std::u16string_view instanceId);

// Waits one second, then reads the port of every present USB printer interface
// whose instance ID, description and hardware IDs can be read. An unexpected
// answer about an interface's detail ends the enumeration, keeping what was
// found. The device set is always released.
UsbPortList DetectUsbPrinterPorts(DeviceSetup& setup);

// A present USB printer: its port and what its device says of itself.
struct UsbPrinter {
    std::u16string port;
    std::u16string description;
    std::vector<std::u16string> hardwareIds;
};

// DetectUsbPrinterPorts with each device's description and hardware IDs.
std::vector<UsbPrinter> DetectUsbPrinters(DeviceSetup& setup);

// The maker our printers name in their description or hardware IDs.
inline constexpr std::u16string_view kMakerName = u"ZNW";

// A local queue on one of its ports (a pooled queue appears once per port).
struct QueueOnPort {
    std::u16string queue;
    std::u16string driver;
    std::u16string port;
};

// The local queues with their ports (EnumPrintersW level 2); false, with the
// last error, when the list cannot be read.
bool ReadQueuePorts(Spooler& spooler, std::vector<QueueOnPort>& queues, uint32_t* error);

struct AutoPortChoice {
    std::optional<std::u16string> port;  // the one candidate, when there is exactly one
    std::vector<std::u16string> lines;   // each port found, and whether it is a candidate and why
    std::u16string refusal;              // no candidate or several, each port named with why
};

// "/port auto" for the model of `driver`: a printer whose description or
// hardware IDs name the maker is this model's, whatever queue it carries; of
// the others, one whose port carries a queue of another driver is skipped, and
// one without is a candidate too, as a printer may name no maker at all. Only
// exactly one candidate is taken.
AutoPortChoice ChooseAutoPort(const std::vector<UsbPrinter>& printers,
                              const std::vector<QueueOnPort>& queues, std::u16string_view driver);

// The three messages the detection sends to the port combo box.
class PortCombo {
  public:
    virtual ~PortCombo() = default;
    // CB_FINDSTRINGEXACT from -1: the index of the item equal ignoring case, or -1.
    virtual int FindStringExact(std::u16string_view name) = 0;
    // CB_ADDSTRING: the combo box sorts the item into place.
    virtual void AddString(std::u16string_view name) = 0;
    // CB_SETCURSEL.
    virtual void SetCurSel(int index) = 0;
};

// Adds each detected port the combo box lacks and selects the first detected one.
void MergeDetectedPorts(PortCombo& combo, const UsbPortList& ports);

// A sorted combo box in memory, ordered like the real one (SortedInsertPosition).
class SortedPortCombo final : public PortCombo {
  public:
    std::vector<std::u16string> items;
    int selection = -1;

    int FindStringExact(std::u16string_view name) override;
    void AddString(std::u16string_view name) override;
    void SetCurSel(int index) override;
};

#ifdef _WIN32
// The port combo box of the dialog (an HWND).
class Win32PortCombo final : public PortCombo {
  public:
    explicit Win32PortCombo(void* comboBox) : combo_(comboBox) {}
    int FindStringExact(std::u16string_view name) override;
    void AddString(std::u16string_view name) override;
    void SetCurSel(int index) override;

  private:
    void* combo_;
};
#endif

}  // namespace tde
