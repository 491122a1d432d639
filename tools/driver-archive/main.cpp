// driver-archive: packs, lists, prints, extracts and verifies driver archives
// the way the installer reads them, for release engineering and tests. The
// options are in options.cpp, each command in its own file (pack.cpp;
// inspect.cpp for list, cat and verify; extract.cpp).
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "commands.h"
#include "options.h"
#include "support.h"

namespace tde::tool {
namespace {

int Run(int argc, char** argv) {
    Options o;
    if (const std::optional<int> exitCode = ParseOptions(argc, argv, o)) {
        return *exitCode;
    }
    // Each command with the number of words it takes, itself included.
    struct Command {
        const char* name;
        size_t words;
        int (*run)(const Options&);
    };
    static const Command kCommands[] = {{"pack", 3, Pack},
                                        {"list", 2, List},
                                        {"cat", 3, Cat},
                                        {"extract", 3, Extract},
                                        {"verify", 2, Verify}};
    const std::string& command = o.arguments[0];
    for (const Command& c : kCommands) {
        if (command == c.name) {
            if (o.arguments.size() != c.words) {
                std::fputs(kUsage, stderr);
                return kUsageError;
            }
            return c.run(o);
        }
    }
    Report("unknown command " + command);
    std::fputs(kUsage, stderr);
    return kUsageError;
}

}  // namespace
}  // namespace tde::tool

int main(int argc, char** argv) {
    try {
        return tde::tool::Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "driver-archive: %s\n", e.what());
        return 1;
    }
}
