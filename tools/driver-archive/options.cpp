#include "options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support.h"

namespace tde::tool {

const char kUsage[] =
    "usage: driver-archive COMMAND ARGS [--password PW]\n"
    "  pack PAYLOAD_DIR OUT.zip [--require LIST]  pack every file below the folder\n"
    "  list ARCHIVE                               size, tab, name of every item\n"
    "  cat ARCHIVE ITEM                           the item's bytes on standard output\n"
    "  extract ARCHIVE DEST_DIR [--jobs N] [--lanes N]\n"
    "                                             every item below DEST_DIR: N threads,\n"
    "                                             N items in flight in each\n"
    "  verify ARCHIVE                             read every item, check sizes and CRC-32\n"
    "The password defaults to the installer's. --require names a file listing items\n"
    "(one a line) that must be in the payload.\n";

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--password" || a == "--require" || a == "--jobs" || a == "--lanes") &&
            i + 1 < argc) {
            const std::string value = argv[++i];
            if (a == "--password") {
                o.password = value;
            } else if (a == "--require") {
                o.requireList = value;
            } else if (a == "--jobs") {
                o.jobs = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
            } else {
                o.lanes =
                    std::max(1u, static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10)));
            }
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.rfind("--", 0) == 0) {
            Report("unknown option " + a);
            std::fputs(kUsage, stderr);
            return kUsageError;
        } else {
            o.arguments.push_back(a);
        }
    }
    if (o.arguments.empty()) {
        std::fputs(kUsage, stderr);
        return kUsageError;
    }
    return std::nullopt;
}

}  // namespace tde::tool
