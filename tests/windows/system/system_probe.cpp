// Prints the raw system facts and the decisions over them, one "key=value" a line.
#include "system/system.h"

#include <cstdio>
#include <string>

int main() {
    using namespace tde;
    const Win32SystemFacts facts;

    const std::optional<bool> wow64 = facts.QueryWow64();
    std::printf("wow64=%s\n", wow64 ? (*wow64 ? "1" : "0") : "failed");
    const std::optional<std::uint16_t> machine = facts.QueryNativeMachine();
    if (machine) {
        std::printf("nativeMachine=0x%04X\n", *machine);
    } else {
        std::printf("nativeMachine=none\n");
    }
    std::printf("processorArchitecture=%u\n", facts.QueryNativeProcessorArchitecture());
    const std::optional<ReportedVersion> version = facts.QueryReportedVersion();
    if (version) {
        std::printf("version=%u.%u\nbuild=%u\n", version->major, version->minor, version->build);
    } else {
        std::printf("version=failed\n");
    }

    const std::u16string_view folder = ArchitectureFolderName(DetectInstallArchitecture(facts));
    std::printf("architecture=%s\n", std::string(folder.begin(), folder.end()).c_str());
    std::printf("vistaOrLater=%d\n", ReportsVistaOrLater(facts) ? 1 : 0);
    std::printf("windows8OrLater=%d\n", ReportsWindows8OrLater(facts) ? 1 : 0);
    std::printf("radio=%s\n", PreselectedSystemRadio(facts) == SystemRadio::Bits64 ? "64" : "32");
    return 0;
}
