// Fixtures for tests against this machine's own spooler and service manager.
// They talk to winspool.drv and the service manager directly, independently of
// the code under test, and put everything back however a test ends.
#pragma once

#include "spooler/spooler.h"
#include "support/test_support_win32.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tde::test {

// The names of the local queues, straight from EnumPrintersW.
std::vector<std::wstring> ListedQueues();
// The names of the drivers at level 1, straight from EnumPrinterDriversW.
std::vector<std::wstring> ListedDrivers();
// The ports at level 2, straight from EnumPortsW, in the spooler's order.
std::vector<std::wstring> ListedPorts();
// The spooler's driver directory; empty when it cannot be had.
std::wstring DriverDirectory();
// The default printer; empty when there is none.
std::wstring DefaultPrinter();

// Removes a queue: through the spooler, or, for a queue the spooler lists but
// cannot open (Wine keeps one created without a datatype), from the registry
// the spooler keeps its queues in. True when it is no longer listed.
bool RemoveQueue(const std::wstring& name);

// Creates a local queue through the program's own spooler boundary, as a run
// does: raw data through WinPrint. False with the spooler's error in `why`.
bool AddLocalQueue(Spooler& spooler, const std::u16string& name, const std::u16string& port,
                   const std::u16string& driver, std::string* why);

// Removes the named queue when the scope ends, if it is there.
class QueueCleanup {
  public:
    explicit QueueCleanup(std::wstring name);
    ~QueueCleanup();
    QueueCleanup(const QueueCleanup&) = delete;
    QueueCleanup& operator=(const QueueCleanup&) = delete;

  private:
    std::wstring name_;
};

// A version-3 driver registered from the stand-in module: its files are placed in
// the driver directory and named bare in AddPrinterDriverExW, as the installer
// does. At the end the queues using it, the driver and its files are removed.
class TestDriver {
  public:
    TestDriver(std::wstring name, std::wstring fileStem);
    ~TestDriver();
    TestDriver(const TestDriver&) = delete;
    TestDriver& operator=(const TestDriver&) = delete;

    // Registers the driver (after removing any left over from an earlier run);
    // false with the reason in `why`.
    bool Install(std::string* why);
    const std::wstring& name() const { return name_; }

  private:
    void Remove();

    std::wstring name_;
    std::wstring moduleFile_;
    std::wstring dataFile_;
};

// Puts the user's default printer back as it was.
class DefaultPrinterGuard {
  public:
    DefaultPrinterGuard();
    ~DefaultPrinterGuard();
    DefaultPrinterGuard(const DefaultPrinterGuard&) = delete;
    DefaultPrinterGuard& operator=(const DefaultPrinterGuard&) = delete;

  private:
    bool had_ = false;
    std::wstring value_;
};

// The state of the "Spooler" service (SERVICE_RUNNING ...); 0 when unknown.
DWORD SpoolerServiceState();

// Puts the "Spooler" service back into the state it was found in.
class SpoolerServiceGuard {
  public:
    SpoolerServiceGuard() : initial_(SpoolerServiceState()) {}
    ~SpoolerServiceGuard();
    SpoolerServiceGuard(const SpoolerServiceGuard&) = delete;
    SpoolerServiceGuard& operator=(const SpoolerServiceGuard&) = delete;
    DWORD initial() const { return initial_; }

  private:
    DWORD initial_;
};

}  // namespace tde::test
