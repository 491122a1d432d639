// The in-memory spooler. It stays one file: every operation reads and changes
// the same few tables (ports, drivers, queues, packages, handles) under the same
// checks, and splitting them would only spread those checks apart.
#include "spooler/memory_spooler.h"
#include "spooler/record_layout.h"

#include "base/collation.h"

#include <cstring>
#include <deque>
#include <initializer_list>
#include <new>

namespace tde {

namespace {

using namespace spooler_layout;

bool EqualIgnoreCase(std::u16string_view a, std::u16string_view b) {
    return CompareNamesIgnoreCase(a, b) == 0;
}

std::u16string BaseName(std::u16string_view path) {
    size_t slash = path.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

bool KnownDatatype(std::u16string_view datatype) {
    return EqualIgnoreCase(datatype, u"RAW") || EqualIgnoreCase(datatype, u"TEXT") ||
           EqualIgnoreCase(datatype, u"NT EMF 1.008");
}

}  // namespace

const MemorySpooler::Queue* MemorySpooler::FindQueue(std::u16string_view name) const {
    for (const Queue& queue : queues) {
        if (queue.name == name) {
            return &queue;
        }
    }
    return nullptr;
}

const MemorySpooler::Driver* MemorySpooler::FindDriver(std::u16string_view name) const {
    for (const Driver& driver : drivers) {
        if (driver.name == name) {
            return &driver;
        }
    }
    return nullptr;
}

bool MemorySpooler::Begin(const SpoolerCall& call) {
    if (log_.Begin(call, lastError_)) {
        return true;
    }
    if (serviceRunning && !serviceRunning()) {
        lastError_ = kErrorRpcServerUnavailable;
        return true;
    }
    return false;
}

bool MemorySpooler::Fail(uint32_t error) {
    lastError_ = error;
    return false;
}

MemorySpooler::Queue* MemorySpooler::QueueOf(PrinterHandle printer) {
    for (const auto& [handle, name] : handles_) {
        if (handle == reinterpret_cast<uintptr_t>(printer)) {
            return FindQueueIgnoreCase(name);
        }
    }
    return nullptr;
}

MemorySpooler::Queue* MemorySpooler::FindQueueIgnoreCase(std::u16string_view name) {
    for (Queue& queue : queues) {
        if (EqualIgnoreCase(queue.name, name)) {
            return &queue;
        }
    }
    return nullptr;
}

MemorySpooler::Driver* MemorySpooler::FindDriverIgnoreCase(std::u16string_view name) {
    for (Driver& driver : drivers) {
        if (EqualIgnoreCase(driver.name, name)) {
            return &driver;
        }
    }
    return nullptr;
}

bool MemorySpooler::PortExists(std::u16string_view name) const {
    for (const Port& port : ports) {
        if (EqualIgnoreCase(port.name, name)) {
            return true;
        }
    }
    return false;
}

bool MemorySpooler::EnumPortsW(uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                               uint32_t* needed, uint32_t* returned) {
    if (Begin({SpoolerOp::EnumPortsW, u"", level, 0, buffer != nullptr})) {
        return false;
    }
    if (level != 2) {
        return Fail(kErrorInvalidLevel);
    }
    std::vector<PortInfo2> records;
    for (const Port& port : ports) {
        records.push_back(
            {port.name.c_str(), OrNull(port.monitor), OrNull(port.description), port.type, 0});
    }
    uint32_t error = Answer<PortInfo2>(
        records, {{&PortInfo2::pPortName}, {&PortInfo2::pMonitorName}, {&PortInfo2::pDescription}},
        buffer, bufferSize, needed, returned);
    return error == 0 || Fail(error);
}

bool MemorySpooler::EnumPrintersW(uint32_t flags, uint32_t level, uint8_t* buffer,
                                  uint32_t bufferSize, uint32_t* needed, uint32_t* returned) {
    if (Begin({SpoolerOp::EnumPrintersW, u"", level, flags, buffer != nullptr})) {
        return false;
    }
    if (level != 2) {
        return Fail(kErrorInvalidLevel);
    }
    std::vector<PrinterInfo2> records;
    for (const Queue& queue : queues) {
        bool wanted = queue.connection ? (flags & kPrinterEnumConnections) != 0
                                       : (flags & kPrinterEnumLocal) != 0;
        if (!wanted || queue.pendingDeletion) {
            continue;
        }
        PrinterInfo2 r = {};
        r.pPrinterName = queue.name.c_str();
        r.pShareName = OrNull(queue.shareName);
        r.pPortName = queue.port.c_str();
        r.pDriverName = queue.driver.c_str();
        r.pComment = OrNull(queue.comment);
        r.pLocation = OrNull(queue.location);
        r.pSepFile = OrNull(queue.sepFile);
        r.pPrintProcessor = queue.printProcessor.c_str();
        r.pDatatype = OrNull(queue.datatype);
        r.pParameters = OrNull(queue.parameters);
        r.Attributes = queue.attributes;
        r.Priority = queue.priority;
        r.DefaultPriority = queue.defaultPriority;
        r.StartTime = queue.startTime;
        r.UntilTime = queue.untilTime;
        r.cJobs = queue.jobs;
        records.push_back(r);
    }
    uint32_t error = Answer<PrinterInfo2>(records,
                                          {{&PrinterInfo2::pServerName},
                                           {&PrinterInfo2::pPrinterName},
                                           {&PrinterInfo2::pShareName},
                                           {&PrinterInfo2::pPortName},
                                           {&PrinterInfo2::pDriverName},
                                           {&PrinterInfo2::pComment},
                                           {&PrinterInfo2::pLocation},
                                           {&PrinterInfo2::pSepFile},
                                           {&PrinterInfo2::pPrintProcessor},
                                           {&PrinterInfo2::pDatatype},
                                           {&PrinterInfo2::pParameters}},
                                          buffer, bufferSize, needed, returned);
    return error == 0 || Fail(error);
}

bool MemorySpooler::EnumPrinterDriversW(uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                                        uint32_t* needed, uint32_t* returned) {
    if (Begin({SpoolerOp::EnumPrinterDriversW, u"", level, 0, buffer != nullptr})) {
        return false;
    }
    if (level == 1) {
        std::vector<DriverInfo1> records;
        for (const Driver& driver : drivers) {
            records.push_back({driver.name.c_str()});
        }
        uint32_t error = Answer<DriverInfo1>(records, {{&DriverInfo1::pName}}, buffer, bufferSize,
                                             needed, returned);
        return error == 0 || Fail(error);
    }
    if (level != 6 && level != 8) {
        return Fail(kErrorInvalidLevel);
    }
    // Full paths and joined lists live here while the records point at them.
    std::deque<std::u16string> texts;
    auto keep = [&texts](std::u16string text) -> const char16_t* {
        texts.push_back(std::move(text));
        return texts.back().c_str();
    };
    auto inDirectory = [&](const std::u16string& file) -> const char16_t* {
        return file.empty() ? nullptr : keep(driverDirectory + u"\\3\\" + file);
    };
    std::vector<DriverInfo8> records;
    for (const Driver& driver : drivers) {
        DriverInfo8 r = {};
        r.cVersion = driver.version;
        r.pName = driver.name.c_str();
        r.pEnvironment = OrNull(driver.environment);
        r.pDriverPath = inDirectory(driver.driverPath);
        r.pDataFile = inDirectory(driver.dataFile);
        r.pConfigFile = inDirectory(driver.configFile);
        r.pHelpFile = inDirectory(driver.helpFile);
        r.pDependentFiles =
            driver.dependentFiles.empty() ? nullptr : keep(JoinMulti(driver.dependentFiles));
        r.dwlDriverVersion = driver.driverVersion;
        r.pszMfgName = OrNull(driver.mfgName);
        r.pszProvider = OrNull(driver.provider);
        r.pszInfPath = OrNull(driver.infPath);
        records.push_back(r);
    }
    if (level == 8) {
        uint32_t error = Answer<DriverInfo8>(records,
                                             {{&DriverInfo8::pName},
                                              {&DriverInfo8::pEnvironment},
                                              {&DriverInfo8::pDriverPath},
                                              {&DriverInfo8::pDataFile},
                                              {&DriverInfo8::pConfigFile},
                                              {&DriverInfo8::pHelpFile},
                                              {&DriverInfo8::pDependentFiles, true},
                                              {&DriverInfo8::pMonitorName},
                                              {&DriverInfo8::pDefaultDataType},
                                              {&DriverInfo8::pszzPreviousNames, true},
                                              {&DriverInfo8::pszMfgName},
                                              {&DriverInfo8::pszOEMUrl},
                                              {&DriverInfo8::pszHardwareID},
                                              {&DriverInfo8::pszProvider},
                                              {&DriverInfo8::pszPrintProcessor},
                                              {&DriverInfo8::pszVendorSetup},
                                              {&DriverInfo8::pszzColorProfiles, true},
                                              {&DriverInfo8::pszInfPath},
                                              {&DriverInfo8::pszzCoreDriverDependencies, true}},
                                             buffer, bufferSize, needed, returned);
        return error == 0 || Fail(error);
    }
    std::vector<DriverInfo6> level6;
    for (const DriverInfo8& r : records) {
        DriverInfo6 d = {};
        d.cVersion = r.cVersion;
        d.pName = r.pName;
        d.pEnvironment = r.pEnvironment;
        d.pDriverPath = r.pDriverPath;
        d.pDataFile = r.pDataFile;
        d.pConfigFile = r.pConfigFile;
        d.pHelpFile = r.pHelpFile;
        d.pDependentFiles = r.pDependentFiles;
        d.dwlDriverVersion = r.dwlDriverVersion;
        d.pszMfgName = r.pszMfgName;
        d.pszProvider = r.pszProvider;
        level6.push_back(d);
    }
    uint32_t error = Answer<DriverInfo6>(level6,
                                         {{&DriverInfo6::pName},
                                          {&DriverInfo6::pEnvironment},
                                          {&DriverInfo6::pDriverPath},
                                          {&DriverInfo6::pDataFile},
                                          {&DriverInfo6::pConfigFile},
                                          {&DriverInfo6::pHelpFile},
                                          {&DriverInfo6::pDependentFiles, true},
                                          {&DriverInfo6::pMonitorName},
                                          {&DriverInfo6::pDefaultDataType},
                                          {&DriverInfo6::pszzPreviousNames, true},
                                          {&DriverInfo6::pszMfgName},
                                          {&DriverInfo6::pszOEMUrl},
                                          {&DriverInfo6::pszHardwareID},
                                          {&DriverInfo6::pszProvider}},
                                         buffer, bufferSize, needed, returned);
    return error == 0 || Fail(error);
}

bool MemorySpooler::GetPrinterDriverDirectoryW(uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                                               uint32_t* needed) {
    if (Begin({SpoolerOp::GetPrinterDriverDirectoryW, u"", level, 0, buffer != nullptr})) {
        return false;
    }
    if (level != 1) {
        return Fail(kErrorInvalidLevel);
    }
    uint32_t bytes = static_cast<uint32_t>((driverDirectory.size() + 1) * sizeof(char16_t));
    if (needed != nullptr) {
        *needed = bytes;
    }
    if (buffer == nullptr || bufferSize < bytes) {
        return Fail(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, driverDirectory.c_str(), bytes);
    return true;
}

bool MemorySpooler::AddPrinterDriverExW(const DriverInfo6& record, uint32_t copyFlags) {
    if (Begin({SpoolerOp::AddPrinterDriverExW, Text(record.pName), 6, copyFlags, true})) {
        return false;
    }
    if (record.pName == nullptr || record.pName[0] == 0 || record.pDriverPath == nullptr ||
        record.pDataFile == nullptr || record.pConfigFile == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    if (record.cVersion != 3) {
        return Fail(kErrorInvalidParameter);
    }
    Driver driver;
    driver.name = record.pName;
    driver.version = record.cVersion;
    if (record.pEnvironment != nullptr) {
        driver.environment = record.pEnvironment;
    }
    driver.driverPath = BaseName(record.pDriverPath);
    driver.dataFile = BaseName(record.pDataFile);
    driver.configFile = BaseName(record.pConfigFile);
    driver.helpFile = BaseName(Text(record.pHelpFile));
    driver.dependentFiles = SplitMulti(record.pDependentFiles);
    driver.mfgName = Text(record.pszMfgName);
    driver.provider = Text(record.pszProvider);
    driver.driverVersion = record.dwlDriverVersion;
    if (driverFileExists) {
        std::vector<std::u16string> files = {record.pDriverPath, record.pDataFile,
                                             record.pConfigFile};
        if (record.pHelpFile != nullptr && record.pHelpFile[0] != 0) {
            files.push_back(record.pHelpFile);
        }
        files.insert(files.end(), driver.dependentFiles.begin(), driver.dependentFiles.end());
        for (const std::u16string& file : files) {
            if (!driverFileExists(file)) {
                return Fail(kErrorFileNotFound);
            }
        }
    }
    // A driver of the same name is replaced, as an upgrade on Windows replaces it.
    if (Driver* existing = FindDriverIgnoreCase(driver.name)) {
        driver.infPath = existing->infPath;
        *existing = std::move(driver);
    } else {
        drivers.push_back(std::move(driver));
    }
    return true;
}

bool MemorySpooler::DeletePrinterDriverExW(const char16_t* driverName, uint32_t deleteFlags,
                                           uint32_t versionFlag) {
    if (Begin({SpoolerOp::DeletePrinterDriverExW, Text(driverName), versionFlag, deleteFlags,
               false})) {
        return false;
    }
    if (driverName == nullptr || deleteFlags > (kDpdDeleteUnusedFiles | kDpdDeleteSpecificVersion |
                                                0x4 /* DPD_DELETE_ALL_FILES */)) {
        return Fail(kErrorInvalidParameter);
    }
    for (size_t i = 0; i < drivers.size(); ++i) {
        if (!EqualIgnoreCase(drivers[i].name, driverName)) {
            continue;
        }
        if ((deleteFlags & kDpdDeleteSpecificVersion) != 0 && drivers[i].version != versionFlag) {
            continue;
        }
        for (const Queue& queue : queues) {
            if (EqualIgnoreCase(queue.driver, drivers[i].name)) {
                return Fail(kErrorPrinterDriverInUse);
            }
        }
        drivers.erase(drivers.begin() + static_cast<ptrdiff_t>(i));
        return true;
    }
    return Fail(kErrorUnknownPrinterDriver);
}

std::optional<int32_t> MemorySpooler::DeletePrinterDriverPackageW(const char16_t* infPath) {
    if (!packageFunctionsPresent) {
        return std::nullopt;
    }
    if (Begin({SpoolerOp::DeletePrinterDriverPackageW, Text(infPath), 0, 0, false})) {
        return HresultFromWin32(lastError_);
    }
    for (Package& package : packages) {
        if (package.uploaded && EqualIgnoreCase(package.storeInfPath, Text(infPath))) {
            for (const Driver& driver : drivers) {
                if (EqualIgnoreCase(driver.infPath, package.storeInfPath)) {
                    Fail(kErrorPrinterDriverPackageInUse);
                    return HresultFromWin32(kErrorPrinterDriverPackageInUse);
                }
            }
            package.uploaded = false;
            package.storeInfPath.clear();
            return 0;
        }
    }
    Fail(kErrorFileNotFound);
    return HresultFromWin32(kErrorFileNotFound);
}

std::optional<int32_t> MemorySpooler::UploadPrinterDriverPackageW(const char16_t* infPath,
                                                                  uint32_t flags, WindowHandle,
                                                                  char16_t* destInfPath,
                                                                  uint32_t* destInfPathChars) {
    if (!packageFunctionsPresent) {
        return std::nullopt;
    }
    if (Begin({SpoolerOp::UploadPrinterDriverPackageW, Text(infPath), 0, flags, true})) {
        return HresultFromWin32(lastError_);
    }
    if (uploadRefusedSilently) {
        return *uploadRefusedSilently;
    }
    if (infPath == nullptr || destInfPath == nullptr || destInfPathChars == nullptr) {
        Fail(kErrorInvalidParameter);
        return HresultFromWin32(kErrorInvalidParameter);
    }
    for (Package& package : packages) {
        if (!EqualIgnoreCase(package.sourceInfPath, infPath)) {
            continue;
        }
        std::u16string file = BaseName(package.sourceInfPath);
        std::u16string folder = file.substr(0, file.find(u'.'));
        std::u16string store =
            u"C:\\Windows\\System32\\DriverStore\\FileRepository\\" + folder + u"\\" + file;
        if (*destInfPathChars < store.size() + 1) {
            *destInfPathChars = static_cast<uint32_t>(store.size() + 1);
            Fail(kErrorInsufficientBuffer);
            return HresultFromWin32(kErrorInsufficientBuffer);
        }
        std::memcpy(destInfPath, store.c_str(), (store.size() + 1) * sizeof(char16_t));
        *destInfPathChars = static_cast<uint32_t>(store.size() + 1);
        package.storeInfPath = store;
        package.uploaded = true;
        lastError_ = uploadLeavesError != 0 ? uploadLeavesError : lastError_;
        return 0;
    }
    Fail(kErrorFileNotFound);
    return HresultFromWin32(kErrorFileNotFound);
}

std::optional<int32_t> MemorySpooler::InstallPrinterDriverFromPackageW(const char16_t* infPath,
                                                                       const char16_t* driverName,
                                                                       uint32_t flags) {
    if (!packageFunctionsPresent) {
        return std::nullopt;
    }
    if (Begin({SpoolerOp::InstallPrinterDriverFromPackageW, Text(driverName), 0, flags, false})) {
        return HresultFromWin32(lastError_);
    }
    if (installRefusedSilently) {
        return *installRefusedSilently;
    }
    if (infPath == nullptr || infPath[0] == 0 || driverName == nullptr) {
        Fail(kErrorInvalidParameter);
        return HresultFromWin32(kErrorInvalidParameter);
    }
    for (const Package& package : packages) {
        if (!package.uploaded || !EqualIgnoreCase(package.storeInfPath, infPath)) {
            continue;
        }
        for (const std::u16string& name : package.driverNames) {
            if (!EqualIgnoreCase(name, driverName)) {
                continue;
            }
            Driver driver;
            driver.name = name;
            driver.infPath = package.storeInfPath;
            if (Driver* existing = FindDriverIgnoreCase(name)) {
                *existing = std::move(driver);
            } else {
                drivers.push_back(std::move(driver));
            }
            return 0;
        }
        Fail(kErrorUnknownPrinterDriver);
        return HresultFromWin32(kErrorUnknownPrinterDriver);
    }
    Fail(kErrorFileNotFound);
    return HresultFromWin32(kErrorFileNotFound);
}

bool MemorySpooler::OpenPrinterW(const char16_t* printerName, PrinterHandle* printer,
                                 uint32_t desiredAccess) {
    if (printer != nullptr) {
        *printer = nullptr;
    }
    if (Begin({SpoolerOp::OpenPrinterW, Text(printerName), 0, desiredAccess, false})) {
        return false;
    }
    if (printer == nullptr || printerName == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    Queue* queue = FindQueueIgnoreCase(printerName);
    if (queue == nullptr || !queue->openable || queue->pendingDeletion) {
        return Fail(kErrorInvalidPrinterName);
    }
    uintptr_t handle = nextHandle_++;
    handles_.emplace_back(handle, queue->name);
    *printer = reinterpret_cast<PrinterHandle>(handle);
    return true;
}

bool MemorySpooler::DeletePrinter(PrinterHandle printer) {
    Queue* queue = QueueOf(printer);
    if (Begin({SpoolerOp::DeletePrinter, queue != nullptr ? queue->name : u"", 0, 0, false})) {
        return false;
    }
    if (queue == nullptr) {
        return Fail(kErrorInvalidHandle);
    }
    if (EqualIgnoreCase(defaultPrinter, queue->name)) {
        defaultPrinter.clear();
    }
    if (queue->jobs > 0) {
        queue->pendingDeletion = true;  // gone once its jobs have printed
        return true;
    }
    queues.erase(queues.begin() + (queue - queues.data()));
    return true;
}

bool MemorySpooler::DeletePrinterConnectionW(const char16_t* printerName) {
    if (Begin({SpoolerOp::DeletePrinterConnectionW, Text(printerName), 0, 0, false})) {
        return false;
    }
    Queue* queue = FindQueueIgnoreCase(Text(printerName));
    if (queue == nullptr || !queue->connection) {
        return Fail(kErrorInvalidPrinterName);
    }
    if (EqualIgnoreCase(defaultPrinter, queue->name)) {
        defaultPrinter.clear();
    }
    queues.erase(queues.begin() + (queue - queues.data()));
    return true;
}

bool MemorySpooler::ClosePrinter(PrinterHandle printer) {
    if (Begin({SpoolerOp::ClosePrinter, u"", 0, 0, false})) {
        return false;
    }
    for (size_t i = 0; i < handles_.size(); ++i) {
        if (handles_[i].first == reinterpret_cast<uintptr_t>(printer)) {
            handles_.erase(handles_.begin() + static_cast<ptrdiff_t>(i));
            return true;
        }
    }
    return Fail(kErrorInvalidHandle);
}

bool MemorySpooler::GetPrinterW(PrinterHandle printer, uint32_t level, uint8_t* buffer,
                                uint32_t bufferSize, uint32_t* needed) {
    Queue* queue = QueueOf(printer);
    if (Begin({SpoolerOp::GetPrinterW, queue != nullptr ? queue->name : u"", level, 0,
               buffer != nullptr})) {
        return false;
    }
    if (queue == nullptr) {
        return Fail(kErrorInvalidHandle);
    }
    if (level != 2) {
        return Fail(kErrorInvalidLevel);
    }
    PrinterInfo2 r = {};
    r.pPrinterName = queue->name.c_str();
    r.pShareName = OrNull(queue->shareName);
    r.pPortName = queue->port.c_str();
    r.pDriverName = queue->driver.c_str();
    r.pComment = OrNull(queue->comment);
    r.pLocation = OrNull(queue->location);
    r.pSepFile = OrNull(queue->sepFile);
    r.pPrintProcessor = queue->printProcessor.c_str();
    r.pDatatype = OrNull(queue->datatype);
    r.pParameters = OrNull(queue->parameters);
    r.Attributes = queue->attributes;
    r.Priority = queue->priority;
    r.DefaultPriority = queue->defaultPriority;
    r.StartTime = queue->startTime;
    r.UntilTime = queue->untilTime;
    r.cJobs = queue->jobs;
    r.pDevMode = queue->devMode.empty() ? nullptr : queue->devMode.data();
    r.pSecurityDescriptor = queue->security.empty() ? nullptr : queue->security.data();
    uint32_t returned = 0;
    uint32_t error = Answer<PrinterInfo2>({r},
                                          {{&PrinterInfo2::pServerName},
                                           {&PrinterInfo2::pPrinterName},
                                           {&PrinterInfo2::pShareName},
                                           {&PrinterInfo2::pPortName},
                                           {&PrinterInfo2::pDriverName},
                                           {&PrinterInfo2::pComment},
                                           {&PrinterInfo2::pLocation},
                                           {&PrinterInfo2::pSepFile},
                                           {&PrinterInfo2::pPrintProcessor},
                                           {&PrinterInfo2::pDatatype},
                                           {&PrinterInfo2::pParameters}},
                                          buffer, bufferSize, needed, &returned);
    return error == 0 || Fail(error);
}

bool MemorySpooler::SetPrinterW(PrinterHandle printer, const PrinterInfo2& info, uint32_t command) {
    Queue* queue = QueueOf(printer);
    if (Begin({SpoolerOp::SetPrinterW, Text(info.pPortName), 2, command, true})) {
        return false;
    }
    if (queue == nullptr) {
        return Fail(kErrorInvalidHandle);
    }
    if (command != 0) {
        return true;  // pause, resume and purge leave the queue's settings alone
    }
    if (info.pPrinterName == nullptr || info.pPortName == nullptr || info.pDriverName == nullptr ||
        info.pPrintProcessor == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    if (!PortExists(info.pPortName)) {
        return Fail(kErrorUnknownPort);
    }
    if (FindDriverIgnoreCase(info.pDriverName) == nullptr) {
        return Fail(kErrorUnknownPrinterDriver);
    }
    if (info.pDatatype != nullptr && !KnownDatatype(info.pDatatype)) {
        return Fail(kErrorInvalidDatatype);
    }
    Queue* other = FindQueueIgnoreCase(info.pPrinterName);
    if (other != nullptr && other != queue) {
        return Fail(kErrorPrinterAlreadyExists);
    }
    std::u16string oldName = queue->name;
    queue->name = info.pPrinterName;
    queue->port = info.pPortName;
    queue->driver = info.pDriverName;
    queue->printProcessor = info.pPrintProcessor;
    queue->datatype = Text(info.pDatatype);
    queue->shareName = Text(info.pShareName);
    queue->comment = Text(info.pComment);
    queue->location = Text(info.pLocation);
    queue->sepFile = Text(info.pSepFile);
    queue->parameters = Text(info.pParameters);
    queue->attributes = info.Attributes;
    queue->priority = info.Priority;
    queue->defaultPriority = info.DefaultPriority;
    queue->startTime = info.StartTime;
    queue->untilTime = info.UntilTime;
    queue->devMode = Text(static_cast<const char16_t*>(info.pDevMode));
    if (info.pSecurityDescriptor != nullptr) {
        queue->security = Text(static_cast<const char16_t*>(info.pSecurityDescriptor));
        ++queue->securitySets;
    }
    for (auto& [handle, name] : handles_) {
        if (name == oldName) {
            name = queue->name;
        }
    }
    return true;
}

PrinterHandle MemorySpooler::AddPrinterW(const PrinterInfo2& info) {
    if (Begin({SpoolerOp::AddPrinterW, Text(info.pPrinterName), 2, 0, true})) {
        return nullptr;
    }
    if (info.pPrinterName == nullptr || info.pPrinterName[0] == 0 || info.pPortName == nullptr ||
        info.pDriverName == nullptr || info.pPrintProcessor == nullptr) {
        Fail(kErrorInvalidParameter);
        return nullptr;
    }
    if (FindQueueIgnoreCase(info.pPrinterName) != nullptr) {
        Fail(kErrorPrinterAlreadyExists);
        return nullptr;
    }
    if (!PortExists(info.pPortName)) {
        Fail(kErrorUnknownPort);
        return nullptr;
    }
    if (FindDriverIgnoreCase(info.pDriverName) == nullptr) {
        Fail(kErrorUnknownPrinterDriver);
        return nullptr;
    }
    if (!EqualIgnoreCase(info.pPrintProcessor, u"WinPrint")) {
        Fail(kErrorUnknownPrintProcessor);
        return nullptr;
    }
    if (info.pDatatype != nullptr && !KnownDatatype(info.pDatatype)) {
        Fail(kErrorInvalidDatatype);
        return nullptr;
    }
    Queue queue;
    queue.name = info.pPrinterName;
    queue.port = info.pPortName;
    queue.driver = info.pDriverName;
    queue.printProcessor = info.pPrintProcessor;
    queue.datatype = Text(info.pDatatype);
    queue.shareName = Text(info.pShareName);
    queue.comment = Text(info.pComment);
    queue.location = Text(info.pLocation);
    queue.sepFile = Text(info.pSepFile);
    queue.parameters = Text(info.pParameters);
    queue.attributes = info.Attributes;
    queue.priority = info.Priority;
    queue.defaultPriority = info.DefaultPriority;
    queue.startTime = info.StartTime;
    queue.untilTime = info.UntilTime;
    if (info.pDatatype == nullptr) {
        if (nullDatatype == NullDatatype::Refused) {
            // The queue is written down, but cannot be opened, and the call fails.
            queue.openable = false;
            queues.push_back(std::move(queue));
            Fail(kErrorInvalidPrinterName);
            return nullptr;
        }
        queue.datatype = u"RAW";
    }
    queues.push_back(std::move(queue));
    uintptr_t handle = nextHandle_++;
    handles_.emplace_back(handle, queues.back().name);
    return reinterpret_cast<PrinterHandle>(handle);
}

bool MemorySpooler::SetDefaultPrinterW(const char16_t* printerName) {
    if (Begin({SpoolerOp::SetDefaultPrinterW, Text(printerName), 0, 0, false})) {
        return false;
    }
    if (printerName == nullptr || printerName[0] == 0) {
        // No name: the first queue there is, as Windows picks one.
        if (queues.empty()) {
            return Fail(kErrorInvalidPrinterName);
        }
        defaultPrinter = queues.front().name;
        return true;
    }
    Queue* queue = FindQueueIgnoreCase(printerName);
    if (queue == nullptr || queue->pendingDeletion) {
        return Fail(kErrorInvalidPrinterName);
    }
    defaultPrinter = queue->name;
    return true;
}

bool MemorySpooler::GetDefaultPrinterW(char16_t* buffer, uint32_t* chars) {
    if (Begin({SpoolerOp::GetDefaultPrinterW, u"", 0, 0, buffer != nullptr})) {
        return false;
    }
    if (chars == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    if (defaultPrinter.empty()) {
        return Fail(kErrorFileNotFound);
    }
    const uint32_t size = static_cast<uint32_t>(defaultPrinter.size() + 1);
    if (buffer == nullptr || *chars < size) {
        *chars = size;
        return Fail(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, defaultPrinter.c_str(), size * sizeof(char16_t));
    *chars = size;
    return true;
}

}  // namespace tde
