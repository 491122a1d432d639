#include "install/driver.h"

#include <new>

namespace tde {

namespace {

// The last error after a failed package call; its HRESULT when the call left
// none, since 0 would read as success. Only meaningful when the error was
// cleared before the call: the size query of an enumeration leaves 122 behind.
uint32_t FailureCode(Spooler& spooler, int32_t result) {
    uint32_t error = spooler.LastError();
    return error != 0 ? error : static_cast<uint32_t>(result);
}

}  // namespace

void RemoveInstalledDriver(Spooler& spooler, ServiceControl& services, Clock& clock,
                           std::u16string_view driverName, std::u16string_view infPath) {
    const std::u16string name(driverName);
    auto deleteDriver = [&]() -> uint32_t {
        // A stale 3001 would restart the spooler for nothing.
        spooler.SetLastError(0);
        return spooler.DeletePrinterDriverExW(name.c_str(),
                                              kDpdDeleteUnusedFiles | kDpdDeleteSpecificVersion, 3)
                   ? 0
                   : spooler.LastError();
    };
    uint32_t error = deleteDriver();
    if (error == kErrorPrinterDriverInUse) {
        if (!RestartSpooler(services, clock)) {
            return;
        }
        error = deleteDriver();
    }
    if (error == 0 && !infPath.empty()) {
        const std::u16string inf(infPath);
        spooler.DeletePrinterDriverPackageW(inf.c_str());
    }
}

std::u16string CertificateParameters(std::u16string_view certificatePath) {
    std::u16string parameters = u"-addstore \"TrustedPublisher\" \"";
    parameters += certificatePath;
    parameters += u"\"";
    return parameters;
}

void TrustCertificate(Shell& shell, std::u16string_view certificatePath) {
    ShellRequest request;
    if (SystemProgramRequest(shell, u"certutil.exe", CertificateParameters(certificatePath),
                             kSwHide, request)) {
        request.creationFlags = kCreateNoWindow;
        shell.ExecuteAndWait(request);
    }
}

std::u16string GetDriverDirectory(Spooler& spooler) {
    uint32_t needed = 0;
    spooler.GetPrinterDriverDirectoryW(1, nullptr, 0, &needed);
    if (needed == 0 || needed > kMaxSpoolerBufferBytes) {
        return std::u16string();
    }
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[needed]());
    if (!buffer || !spooler.GetPrinterDriverDirectoryW(1, buffer.get(), needed, &needed)) {
        return std::u16string();
    }
    // The answer is a NUL-terminated path; never read past the buffer for it.
    const auto* text = reinterpret_cast<const char16_t*>(buffer.get());
    size_t units = needed / sizeof(char16_t);
    size_t length = 0;
    while (length < units && text[length] != 0) {
        ++length;
    }
    std::u16string directory(text, length);
    directory.push_back(u'\\');
    return directory;
}

const std::vector<std::u16string>& DriverItemsFor(const PrinterModel& model,
                                                  InstallArchitecture architecture) {
    switch (architecture) {
        case InstallArchitecture::X86:
            return model.x86DriverItems;
        case InstallArchitecture::X64:
            return model.x64DriverItems;
        case InstallArchitecture::IA64:
            return model.ia64DriverItems;
        case InstallArchitecture::ARM64:
        default:
            return model.arm64DriverItems;
    }
}

std::vector<std::u16string> DriverDirectoryItems(const PrinterModel& model,
                                                 std::u16string_view dataFile,
                                                 InstallArchitecture architecture) {
    std::vector<std::u16string> items = DriverItemsFor(model, architecture);
    items.push_back(u"driver\\pos\\" + std::u16string(dataFile));
    return items;
}

std::vector<DriverFileFailure> CopyDriverFiles(Spooler& spooler, StagingFiles& files,
                                               const PrinterModel& model,
                                               std::u16string_view dataFile,
                                               InstallArchitecture architecture,
                                               std::u16string& dependentFiles) {
    dependentFiles.clear();
    const std::u16string directory = GetDriverDirectory(spooler);
    const std::vector<std::u16string> items = DriverDirectoryItems(model, dataFile, architecture);

    std::vector<DriverFileFailure> failures;
    for (const std::u16string& item : items) {
        if (directory.empty()) {
            // A bare destination would be the current directory, which is not
            // where the spooler looks and may be anyone's folder.
            size_t slash = item.rfind(u'\\');
            if (slash != std::u16string::npos) {
                dependentFiles.append(item, slash + 1);
            }
            failures.push_back({item, kErrorPathNotFound});
        } else if (!files.ExtractArchiveItem(item, directory, dependentFiles)) {
            failures.push_back({item, files.LastError()});
        }
        dependentFiles.push_back(u'\0');
    }
    dependentFiles.push_back(u'\0');
    return failures;
}

DriverInfo6 MakeDriverRecord(const PrinterModel& model, const std::u16string& dataFile,
                             const std::u16string& dependentFiles, uint64_t installTime) {
    DriverInfo6 record = {};
    record.cVersion = 3;
    record.pName = model.driverName.c_str();
    record.pEnvironment = nullptr;
    record.pDriverPath = model.driverFile.c_str();
    record.pDataFile = dataFile.c_str();
    record.pConfigFile = model.configFile.c_str();
    record.pHelpFile = model.helpFile.c_str();
    record.pDependentFiles = dependentFiles.c_str();
    record.ftDriverDate = {0, 0};
    record.dwlDriverVersion = installTime;
    record.pszMfgName = u"ZNW";
    record.pszProvider = u"ZNW";
    return record;
}

uint32_t RegisterDriver(Spooler& spooler, const DriverInfo6& record) {
    spooler.SetLastError(0);
    return spooler.AddPrinterDriverExW(record, kApdCopyAllFiles) ? kErrorSuccess
                                                                 : RefusalCode(spooler);
}

uint32_t InstallDriverPackage(Spooler& spooler, WindowHandle owner, std::u16string_view infPath,
                              std::u16string_view driverName) {
    constexpr uint32_t kDestinationChars = 1024;
    char16_t destination[kDestinationChars] = {};
    uint32_t destinationChars = kDestinationChars;
    const std::u16string inf(infPath);
    const std::u16string name(driverName);

    spooler.SetLastError(0);
    std::optional<int32_t> uploaded = spooler.UploadPrinterDriverPackageW(
        inf.c_str(), kUpdpSilentUpload | kUpdpUploadAlways, owner, destination, &destinationChars);
    if (uploaded && *uploaded != 0) {
        return FailureCode(spooler, *uploaded);
    }
    destination[kDestinationChars - 1] = 0;
    spooler.SetLastError(0);
    std::optional<int32_t> installed =
        spooler.InstallPrinterDriverFromPackageW(destination, name.c_str(), kIpdfpCopyAllFiles);
    if (installed && *installed != 0) {
        return FailureCode(spooler, *installed);
    }
    return 0;
}

}  // namespace tde
