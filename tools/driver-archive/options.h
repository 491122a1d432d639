// driver-archive's command line: the options every command reads, the usage
// text and the exit codes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tde::tool {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;
constexpr char kProgramPassword[] = "kdw20190304";

extern const char kUsage[];

struct Options {
    std::vector<std::string> arguments;
    std::string password = kProgramPassword;
    std::string requireList;
    unsigned jobs = 0;   // worker threads; 0: one per processor
    unsigned lanes = 4;  // items in flight per worker
};

// Reads the options and the command's words. An exit code when the run ends
// here (--help, an unknown option, no command), after the usage text;
// nothing when the command is to run.
std::optional<int> ParseOptions(int argc, char** argv, Options& o);

}  // namespace tde::tool
