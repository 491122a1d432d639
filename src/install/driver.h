// The driver-level steps of an installation: removing an earlier driver and its
// package, trusting the publisher's certificate, copying the driver files into
// the spooler's driver directory, registering the driver and the INF package
// route.
#pragma once

#include "install/clock.h"
#include "install/model.h"
#include "install/service.h"
#include "install/shell.h"
#include "install/staging.h"
#include "spooler/spooler.h"
#include "system/system.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tde {

// Deletes the driver (unused files, version 3); when the spooler says it is in
// use, restarts the spooler once and tries once more; after a successful
// deletion removes its driver-store package when the INF path is known.
// Failures are silent.
void RemoveInstalledDriver(Spooler& spooler, ServiceControl& services, Clock& clock,
                           std::u16string_view driverName, std::u16string_view infPath);

// "-addstore "TrustedPublisher" "<path>"".
std::u16string CertificateParameters(std::u16string_view certificatePath);

// Runs certutil.exe from the system folder, hidden and without a console, to add
// the certificate to the "TrustedPublisher" store, and waits for it without a
// time limit. Nothing starts when the system folder is unknown; the outcome is
// not checked.
void TrustCertificate(Shell& shell, std::u16string_view certificatePath);

// The spooler's driver directory followed by a backslash; empty when unknown.
std::u16string GetDriverDirectory(Spooler& spooler);

// The model's driver-directory list for the architecture.
const std::vector<std::u16string>& DriverItemsFor(const PrinterModel& model,
                                                  InstallArchitecture architecture);

// The archive items that go into the driver directory: the architecture's list,
// then the GPD item "driver\pos\" + dataFile.
std::vector<std::u16string> DriverDirectoryItems(const PrinterModel& model,
                                                 std::u16string_view dataFile,
                                                 InstallArchitecture architecture);

struct DriverFileFailure {
    std::u16string item;  // the archive item
    uint32_t error = 0;   // the last error after the failure
};

// Rebuilds dependentFiles from the architecture's driver items and the GPD item
// "driver\pos\" + dataFile, extracted into the driver directory; each name
// NUL-terminated, the list ended by one more NUL. Without a driver directory
// nothing is written: each file fails with 3. Answers the failures in order.
std::vector<DriverFileFailure> CopyDriverFiles(Spooler& spooler, StagingFiles& files,
                                               const PrinterModel& model,
                                               std::u16string_view dataFile,
                                               InstallArchitecture architecture,
                                               std::u16string& dependentFiles);

// The DRIVER_INFO_6W record: version 3, the model's names, "ZNW" as manufacturer
// and provider, the install time as driver version, no driver date. Points into
// its arguments, which must outlive it.
DriverInfo6 MakeDriverRecord(const PrinterModel& model, const std::u16string& dataFile,
                             const std::u16string& dependentFiles, uint64_t installTime);

// AddPrinterDriverExW with the record and APD_COPY_ALL_FILES, last error cleared
// first: 0 when the spooler took it, else its error (1287 when it set none).
uint32_t RegisterDriver(Spooler& spooler, const DriverInfo6& record);

// Uploads the INF package silently and installs the driver from it: 0 on success
// or when nothing could be tried, else the last error after the failing call.
uint32_t InstallDriverPackage(Spooler& spooler, WindowHandle owner, std::u16string_view infPath,
                              std::u16string_view driverName);

}  // namespace tde
