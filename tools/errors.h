// The two kinds of failure of the cindel command, told apart by their exit codes: a UsageError is
// the user's to fix (a bad argument, a scene file that does not parse or names something that does
// not exist, a value outside its range: exit 2); a RuntimeFailure is what goes wrong while doing
// what was asked (the plug-in does not load, the effect returns an error, a file cannot be
// written: exit 1). Messages name what failed and where: the scene file and the field path, the
// image file, the output file and the system's reason.
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

constexpr int kExitSuccess = 0;
constexpr int kExitRuntimeFailure = 1;
constexpr int kExitUsage = 2;

class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

class RuntimeFailure : public std::runtime_error {
public:
    explicit RuntimeFailure(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace cli
