#include "install/preflight.h"

#include "archive/verify.h"
#include "base/collation.h"
#include "install/driver.h"
#include "install/staging.h"

#include <algorithm>
#include <memory>

namespace tde {

namespace {

// "C:" of "C:\...", else the path as it is (a share, or something odd).
std::u16string DriveOf(std::u16string_view path) {
    if (path.size() >= 2 && path[1] == u':') {
        return std::u16string(path.substr(0, 2));
    }
    return std::u16string(path);
}

// The spooler answers a cheap call; when it does not and its service is stopped
// (or the call could not reach it), an install or removal starts it once.
void CheckSpooler(CheckPlatform& p, CheckScope scope, std::u16string& driverDirectory,
                  std::vector<Finding>& findings) {
    driverDirectory = GetDriverDirectory(p.spooler);
    if (!driverDirectory.empty()) {
        return;
    }
    const uint32_t error = p.spooler.LastError();
    if (p.queries.SpoolerStartType() == kServiceDisabled) {
        findings.push_back({FindingKind::SpoolerDisabled});
        return;
    }
    ServiceHandle manager = p.services.OpenSCManagerW(kScManagerAllAccess);
    ServiceHandle service =
        manager ? p.services.OpenServiceW(manager, u"Spooler", kServiceAllAccess) : nullptr;
    ServiceStatusProcess status = {};
    const bool stopped = service != nullptr && p.services.QueryServiceStatusEx(service, &status) &&
                         status.dwCurrentState == kServiceStopped;
    if (stopped && scope == CheckScope::Report) {
        findings.push_back({FindingKind::SpoolerStopped, false});
    } else {
        if ((stopped || error == kErrorRpcServerUnavailable) && scope != CheckScope::Report &&
            service != nullptr && p.services.StartServiceW(service) &&
            WaitForServiceState(p.services, p.clock, service, kServiceRunning)) {
            driverDirectory = GetDriverDirectory(p.spooler);
        }
        if (driverDirectory.empty()) {
            findings.push_back({FindingKind::SpoolerUnreachable});
        }
    }
    if (service != nullptr) {
        p.services.CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        p.services.CloseServiceHandle(manager);
    }
}

void CheckSpace(CheckPlatform& p, std::u16string_view folder, uint64_t needed,
                std::vector<Finding>& findings) {
    std::optional<uint64_t> free = p.queries.FreeBytes(folder);
    if (free && *free < needed) {
        findings.push_back({FindingKind::LowDiskSpace, true, DriveOf(folder), needed});
    }
}

}  // namespace

std::vector<std::u16string> ItemsToExtract(const PrinterModel& model, std::u16string_view dataFile,
                                           InstallArchitecture architecture) {
    std::vector<std::u16string> items;
    auto add = [&](const std::u16string& item) {
        for (const std::u16string& known : items) {
            if (SameNameIgnoringCase(known, item)) {
                return;
            }
        }
        items.push_back(item);
    };
    for (const auto* list : {&model.arm64Items, &model.ia64Items, &model.driver64Items,
                             &model.driver32Items, &model.rootItems}) {
        std::for_each(list->begin(), list->end(), add);
    }
    const std::vector<std::u16string> driverItems =
        DriverDirectoryItems(model, dataFile, architecture);
    std::for_each(driverItems.begin(), driverItems.end(), add);
    return items;
}

PayloadCheck VerifyArchiveItems(ArchiveReader* reader, const std::vector<std::u16string>& items) {
    PayloadCheck check;
    std::vector<ItemToVerify> jobs;
    std::vector<size_t> itemOfJob;
    for (size_t i = 0; i < items.size(); ++i) {
        std::u16string name = items[i];
        std::replace(name.begin(), name.end(), u'\\', u'/');
        int32_t index = -1;
        ArchiveItemInfo info;
        // The extraction refuses empty and oversized items, so they count as damaged.
        if (reader == nullptr || FindItem(reader, name, true, index, &info) != ArchiveStatus::Ok ||
            info.uncompressedSize == 0 || info.uncompressedSize > MaxResourceFileSize) {
            check.damaged.push_back(items[i]);
            continue;
        }
        check.unpackedBytes += info.uncompressedSize;
        jobs.push_back({index, info.uncompressedSize});
        itemOfJob.push_back(i);
    }
    if (jobs.empty()) {
        return check;
    }
    const std::vector<ArchiveStatus> statuses = VerifyItemData(reader, jobs);
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (statuses[j] != ArchiveStatus::Ok) {
            check.damaged.push_back(items[itemOfJob[j]]);
        }
    }
    return check;
}

std::vector<Finding> RunPreflight(CheckPlatform& p, const PrinterModel& model,
                                  std::u16string_view dataFile, CheckScope scope) {
    std::vector<Finding> findings;
    std::u16string driverDirectory;
    CheckSpooler(p, scope, driverDirectory, findings);
    if (scope != CheckScope::Removal && p.queries.ProtectedPrintPolicy() == 1u) {
        findings.push_back({FindingKind::ProtectedPrint});
    }
    if (p.queries.ProcessElevated() == false) {
        findings.push_back({FindingKind::NotElevated});
    }
    if (scope == CheckScope::Removal) {
        return findings;
    }
    const InstallArchitecture architecture = DetectInstallArchitecture(p.facts);
    const PayloadCheck payload =
        p.queries.VerifyItems(ItemsToExtract(model, dataFile, architecture));
    for (const std::u16string& item : payload.damaged) {
        findings.push_back({FindingKind::PayloadDamaged, true, item});
    }
    const uint64_t needed = 2 * payload.unpackedBytes;
    const std::u16string staging = StagingFolderPath(p.shell);
    CheckSpace(p, DriveOf(staging) + u"\\", needed, findings);
    if (!driverDirectory.empty() &&
        !SameNameIgnoringCase(DriveOf(driverDirectory), DriveOf(staging))) {
        CheckSpace(p, driverDirectory, needed, findings);
    }
    if (scope == CheckScope::Report && architecture == InstallArchitecture::ARM64 &&
        DriverItemsFor(model, architecture).empty()) {
        findings.push_back({FindingKind::Arm64WithoutModules, false});
    }
    return findings;
}

bool AnyBlocking(const std::vector<Finding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& finding) { return finding.blocking; });
}

std::u16string FindingText(const TextTable& texts, const Finding& finding) {
    switch (finding.kind) {
        case FindingKind::SpoolerUnreachable:
            return texts.GetText(textkey::kCheckSpooler);
        case FindingKind::SpoolerDisabled:
            return texts.GetText(textkey::kCheckSpoolerDisabled);
        case FindingKind::SpoolerStopped:
            return texts.GetText(textkey::kCheckSpoolerStopped);
        case FindingKind::ProtectedPrint:
            return texts.GetText(textkey::kCheckProtectedPrint);
        case FindingKind::NotElevated:
            return texts.GetText(textkey::kCheckNotAdmin);
        case FindingKind::PayloadDamaged:
            return FormatText(texts.GetText(textkey::kCheckDamaged), {finding.subject});
        case FindingKind::LowDiskSpace: {
            const uint64_t megabytes = (finding.bytesNeeded + 1048575) / 1048576;
            return FormatText(texts.GetText(textkey::kCheckDiskSpace),
                              {finding.subject, DecimalText(static_cast<int64_t>(megabytes))});
        }
        case FindingKind::Arm64WithoutModules:
            return texts.GetText(textkey::kCheckArm64);
    }
    return {};
}

std::u16string BlockedInstallText(const TextTable& texts, const std::vector<Finding>& findings) {
    std::u16string text = texts.GetText(textkey::kCheckCannotInstall);
    for (const Finding& finding : findings) {
        if (finding.blocking) {
            text += u"\n\n" + FindingText(texts, finding);
        }
    }
    return text;
}

std::optional<uint64_t> FakePreflightQueries::FreeBytes(std::u16string_view folder) {
    if (!lowDrive.empty() && DriveOf(folder) == lowDrive) {
        return lowDriveBytes;
    }
    return freeBytes;
}

PayloadCheck FakePreflightQueries::VerifyItems(const std::vector<std::u16string>& items) {
    verified.push_back(items);
    PayloadCheck check;
    for (const std::u16string& item : items) {
        if (std::find(damagedItems.begin(), damagedItems.end(), item) != damagedItems.end()) {
            check.damaged.push_back(item);
        } else {
            check.unpackedBytes += itemBytes;
        }
    }
    return check;
}

}  // namespace tde
