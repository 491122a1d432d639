#include "install/queries.h"

#include "base/collation.h"

namespace tde {

namespace {

std::u16string Text(const char16_t* text) {
    return text != nullptr ? std::u16string(text) : u"";
}

// The installed drivers at level 8 (with INF paths) or 6 (without); empty
// whenever the enumeration cannot be completed.
std::vector<SpoolerEntry> ReadDrivers(Spooler& spooler, uint32_t level) {
    SpoolerBuffer buffer = FetchTwice(
        spooler,
        [&spooler, level](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* returned) {
            return spooler.EnumPrinterDriversW(level, bytes, size, needed, returned);
        });
    std::vector<SpoolerEntry> entries;
    uint32_t count = 0;
    if (level == 8) {
        const DriverInfo8* records = buffer.Records<DriverInfo8>(&count);
        for (uint32_t i = 0; i < count; ++i) {
            entries.push_back({u"", Text(records[i].pName), Text(records[i].pszInfPath)});
        }
    } else {
        const DriverInfo6* records = buffer.Records<DriverInfo6>(&count);
        for (uint32_t i = 0; i < count; ++i) {
            entries.push_back({u"", Text(records[i].pName), u""});
        }
    }
    return entries;
}

}  // namespace

void EnumInstalledDrivers(Spooler& spooler, bool reportsVistaOrLater,
                          std::vector<SpoolerEntry>& installedDrivers) {
    installedDrivers.clear();
    installedDrivers = ReadDrivers(spooler, reportsVistaOrLater ? 8 : 6);
}

void EnumInstalledPrinters(Spooler& spooler, bool reportsVistaOrLater,
                           std::vector<SpoolerEntry>& installedPrinters) {
    installedPrinters.clear();
    // Only this private list knows the drivers' INF paths; printers do not.
    std::vector<SpoolerEntry> drivers;
    if (reportsVistaOrLater) {
        drivers = ReadDrivers(spooler, 8);
    }
    SpoolerBuffer buffer = FetchTwice(
        spooler, [&spooler](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* returned) {
            return spooler.EnumPrintersW(kPrinterEnumLocal | kPrinterEnumConnections, 2, bytes,
                                         size, needed, returned);
        });
    uint32_t count = 0;
    const PrinterInfo2* records = buffer.Records<PrinterInfo2>(&count);
    for (uint32_t i = 0; i < count; ++i) {
        SpoolerEntry entry{Text(records[i].pPrinterName), Text(records[i].pDriverName), u""};
        for (const SpoolerEntry& driver : drivers) {
            if (driver.driverName == entry.driverName) {
                entry.infPath = driver.infPath;
                break;
            }
        }
        installedPrinters.push_back(std::move(entry));
    }
}

bool IsDriverInstalled(Spooler& spooler, const PrinterModel& model) {
    SpoolerBuffer buffer = FetchTwice(
        spooler, [&spooler](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* returned) {
            return spooler.EnumPrinterDriversW(1, bytes, size, needed, returned);
        });
    uint32_t count = 0;
    const DriverInfo1* records = buffer.Records<DriverInfo1>(&count);
    for (uint32_t i = 0; i < count; ++i) {
        if (records[i].pName != nullptr &&
            CompareDriverNames(records[i].pName, model.driverName) == 0) {
            return true;
        }
    }
    return false;
}

bool IsPrinterInstalled(Spooler& spooler, std::u16string_view queueName) {
    SpoolerBuffer buffer = FetchTwice(
        spooler,
        [&spooler](uint8_t* bytes, uint32_t size, uint32_t* needed, uint32_t* returned) {
            return spooler.EnumPrintersW(
                kPrinterEnumLocal | kPrinterEnumConnections | kPrinterEnumNetwork, 2, bytes, size,
                needed, returned);
        },
        /*zeroFill=*/true);
    uint32_t count = 0;
    const PrinterInfo2* records = buffer.Records<PrinterInfo2>(&count);
    for (uint32_t i = 0; i < count; ++i) {
        if (records[i].pPrinterName != nullptr && queueName == records[i].pPrinterName) {
            return true;
        }
    }
    return false;
}

}  // namespace tde
