// The subcommands of cindel, each returning its exit code. They throw UsageError (exit 2) and
// RuntimeFailure (exit 1); main turns those into a message on stderr and the code.
#pragma once

#include <string>
#include <vector>

namespace cli {

int runParams(const std::string& plugin, bool isJson, bool isVerbose);
int runInfo(const std::string& plugin, bool isVerbose);
// Each preset and what choosing it changes from "Custom" (see presets_command.cpp).
int runPresets(const std::string& plugin, bool isJson, bool isVerbose);

// Parses the command line and runs the subcommand: what main does, callable from tests.
int runCommandLine(const std::vector<std::string>& args);

}  // namespace cli
