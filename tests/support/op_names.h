// The calls of the in-memory fakes by name, for failure messages that say
// "DeletePrinter" where they would say "op 10". The switches name every
// operation, so a new one does not compile until it has a name here.
#pragma once

#include "install/memory_staging_files.h"
#include "install/service.h"
#include "spooler/memory_spooler.h"

#include <ostream>

namespace tde {

// clang-format off
inline const char* NameOf(SpoolerOp op) {
    switch (op) {
        case SpoolerOp::EnumPortsW: return "EnumPortsW";
        case SpoolerOp::EnumPrintersW: return "EnumPrintersW";
        case SpoolerOp::EnumPrinterDriversW: return "EnumPrinterDriversW";
        case SpoolerOp::GetPrinterDriverDirectoryW: return "GetPrinterDriverDirectoryW";
        case SpoolerOp::AddPrinterDriverExW: return "AddPrinterDriverExW";
        case SpoolerOp::DeletePrinterDriverExW: return "DeletePrinterDriverExW";
        case SpoolerOp::DeletePrinterDriverPackageW: return "DeletePrinterDriverPackageW";
        case SpoolerOp::UploadPrinterDriverPackageW: return "UploadPrinterDriverPackageW";
        case SpoolerOp::InstallPrinterDriverFromPackageW: return "InstallPrinterDriverFromPackageW";
        case SpoolerOp::OpenPrinterW: return "OpenPrinterW";
        case SpoolerOp::DeletePrinter: return "DeletePrinter";
        case SpoolerOp::ClosePrinter: return "ClosePrinter";
        case SpoolerOp::GetPrinterW: return "GetPrinterW";
        case SpoolerOp::SetPrinterW: return "SetPrinterW";
        case SpoolerOp::AddPrinterW: return "AddPrinterW";
        case SpoolerOp::SetDefaultPrinterW: return "SetDefaultPrinterW";
        case SpoolerOp::DeletePrinterConnectionW: return "DeletePrinterConnectionW";
        case SpoolerOp::GetDefaultPrinterW: return "GetDefaultPrinterW";
    }
    return "an unknown spooler call";
}

inline const char* NameOf(ServiceOp op) {
    switch (op) {
        case ServiceOp::OpenSCManagerW: return "OpenSCManagerW";
        case ServiceOp::OpenServiceW: return "OpenServiceW";
        case ServiceOp::ControlService: return "ControlService";
        case ServiceOp::StartServiceW: return "StartServiceW";
        case ServiceOp::QueryServiceStatusEx: return "QueryServiceStatusEx";
        case ServiceOp::CloseServiceHandle: return "CloseServiceHandle";
    }
    return "an unknown service call";
}

inline const char* NameOf(FileOp op) {
    switch (op) {
        case FileOp::GetCurrentDirectoryA: return "GetCurrentDirectoryA";
        case FileOp::CreateDirectoryA: return "CreateDirectoryA";
        case FileOp::CheckFolder: return "CheckFolder";
        case FileOp::FindEntries: return "FindEntries";
        case FileOp::DeleteFileW: return "DeleteFileW";
        case FileOp::RemoveDirectoryW: return "RemoveDirectoryW";
        case FileOp::ExtractArchiveItem: return "ExtractArchiveItem";
    }
    return "an unknown file call";
}
// clang-format on

// GoogleTest prints the operations by name in its own messages too.
inline void PrintTo(SpoolerOp op, std::ostream* out) {
    *out << NameOf(op);
}
inline void PrintTo(ServiceOp op, std::ostream* out) {
    *out << NameOf(op);
}
inline void PrintTo(FileOp op, std::ostream* out) {
    *out << NameOf(op);
}

}  // namespace tde
