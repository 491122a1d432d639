// The check before an installation or removal: whether Windows would let it
// work at all, decided before anything is changed. It reads only, except that
// an install or removal starts a stopped spooler once. Each finding carries
// what is wrong and, in its text, what to do about it.
#pragma once

#include "archive/archive.h"
#include "base/errors.h"
#include "install/clock.h"
#include "install/model.h"
#include "install/service.h"
#include "install/shell.h"
#include "spooler/spooler.h"
#include "system/system.h"
#include "text/text.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tde {

inline constexpr uint32_t kServiceDisabled = 4;  // SERVICE_DISABLED start type
// Windows 11 24H2, the first build where Protected Print Mode can be switched
// on from Settings without leaving a policy value.
inline constexpr uint32_t kProtectedPrintSettingsBuild = 26100;

// What the archive pass found for a list of items.
struct PayloadCheck {
    std::vector<std::u16string> damaged;  // missing, or not unpacking with a good CRC-32
    uint64_t unpackedBytes = 0;           // the items' sizes, each counted once
};

// The platform facts the check reads besides the spooler and the service manager.
class PreflightQueries {
  public:
    virtual ~PreflightQueries() = default;
    // HKLM\Software\Policies\Microsoft\Windows NT\Printers\WPP, value
    // WindowsProtectedPrintGroupPolicyState, in the 64-bit view; nullopt when absent.
    virtual std::optional<uint32_t> ProtectedPrintPolicy() = 0;
    // TokenElevation of the process token; nullopt when it cannot be read.
    virtual std::optional<bool> ProcessElevated() = 0;
    // Bytes free to this user on the volume of the folder; nullopt when unknown.
    virtual std::optional<uint64_t> FreeBytes(std::u16string_view folder) = 0;
    // The "Spooler" service's start type; nullopt when it cannot be read.
    virtual std::optional<uint32_t> SpoolerStartType() = 0;
    // Each item (backslash path) read in full from the program's archive once.
    virtual PayloadCheck VerifyItems(const std::vector<std::u16string>& items) = 0;
    // The build number RtlGetVersion reports (not capped by the manifest).
    virtual std::optional<uint32_t> BuildNumber() = 0;
};

// Settable answers; every item verifies unless it is listed as damaged.
class FakePreflightQueries final : public PreflightQueries {
  public:
    std::optional<uint32_t> protectedPrintPolicy;
    std::optional<bool> elevated = true;
    uint64_t freeBytes = uint64_t{1} << 40;
    std::u16string lowDrive;  // when set, only this drive has just lowDriveBytes free
    uint64_t lowDriveBytes = 0;
    std::optional<uint32_t> startType = 2;  // automatic
    std::vector<std::u16string> damagedItems;
    uint64_t itemBytes = 100000;  // each item's unpacked size
    std::optional<uint32_t> build = 19045;
    std::vector<std::vector<std::u16string>> verified;  // every list handed to VerifyItems

    std::optional<uint32_t> ProtectedPrintPolicy() override { return protectedPrintPolicy; }
    std::optional<bool> ProcessElevated() override { return elevated; }
    std::optional<uint64_t> FreeBytes(std::u16string_view folder) override;
    std::optional<uint32_t> SpoolerStartType() override { return startType; }
    PayloadCheck VerifyItems(const std::vector<std::u16string>& items) override;
    std::optional<uint32_t> BuildNumber() override { return build; }
};

#ifdef _WIN32
std::unique_ptr<PreflightQueries> CreateWin32PreflightQueries();
#endif

// Reads each item of the list once, several side by side, from the open archive
// (VerifyItemData); a missing, empty or oversized item counts as damaged.
PayloadCheck VerifyArchiveItems(ArchiveReader* reader, const std::vector<std::u16string>& items);

enum class CheckScope {
    Install,  // before an installation: every check; a stopped spooler is started once
    Removal,  // before a removal: the spooler and elevation only
    Report,   // /check: every check and the ARM64 note; nothing is started
};

enum class FindingKind {
    SpoolerUnreachable,
    SpoolerDisabled,
    SpoolerStopped,  // /check only: an installation would start it
    ProtectedPrint,
    NotElevated,
    PayloadDamaged,
    LowDiskSpace,
    Arm64WithoutModules,  // /check only: the run goes on without modules
};

struct Finding {
    Finding(FindingKind kind, bool blocking = true, std::u16string subject = {},
            uint64_t bytesNeeded = 0)
        : kind(kind), blocking(blocking), subject(std::move(subject)), bytesNeeded(bytesNeeded) {}
    FindingKind kind;
    bool blocking = true;
    std::u16string subject;    // the damaged item, or the drive that is short of space
    uint64_t bytesNeeded = 0;  // LowDiskSpace
};

struct CheckPlatform {
    Spooler& spooler;
    ServiceControl& services;
    Clock& clock;
    Shell& shell;
    const SystemFacts& facts;
    PreflightQueries& queries;
};

// The archive items an installation extracts on this architecture, each once:
// the staging items, then the driver-directory items and the GPD.
std::vector<std::u16string> ItemsToExtract(const PrinterModel& model, std::u16string_view dataFile,
                                           InstallArchitecture architecture);

std::vector<Finding> RunPreflight(CheckPlatform& platform, const PrinterModel& model,
                                  std::u16string_view dataFile, CheckScope scope);
bool AnyBlocking(const std::vector<Finding>& findings);

// The finding as the user reads it, from the text table.
std::u16string FindingText(const TextTable& texts, const Finding& finding);
// One box for the blocking findings: a heading, then each finding's text.
std::u16string BlockedInstallText(const TextTable& texts, const std::vector<Finding>& findings);

}  // namespace tde
