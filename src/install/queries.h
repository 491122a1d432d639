// The installed drivers and printers as the spooler reports them.
#pragma once

#include "install/model.h"
#include "spooler/spooler.h"

#include <string>
#include <string_view>
#include <vector>

namespace tde {

// One installed printer or driver.
struct SpoolerEntry {
    std::u16string printerName;  // empty for a driver
    std::u16string driverName;
    std::u16string infPath;  // the driver's INF path in the driver store, when known
};

// Rebuilds `installedDrivers` from the spooler: level 8 records (with INF paths)
// when the system reports Vista or later, else level 6 (no INF paths).
void EnumInstalledDrivers(Spooler& spooler, bool reportsVistaOrLater,
                          std::vector<SpoolerEntry>& installedDrivers);

// Rebuilds `installedPrinters` from the local queues and connections, each with
// the INF path of its driver (exact name match) when Vista or later is reported.
void EnumInstalledPrinters(Spooler& spooler, bool reportsVistaOrLater,
                           std::vector<SpoolerEntry>& installedPrinters);

// True when a driver named like the model's driverName is registered, letter case ignored.
bool IsDriverInstalled(Spooler& spooler, const PrinterModel& model);

// True when a printer of exactly that name (local, connection or network) is known.
bool IsPrinterInstalled(Spooler& spooler, std::u16string_view queueName);

}  // namespace tde
