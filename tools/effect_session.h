// Loading the effect for a command: finding the plug-in, opening it through minihost exactly as
// the host does, and sending global and parameter set-up. The effect's diagnostic lines are
// captured (so that the render can read its per-frame timing line) and echoed to stderr in
// verbose mode.
//
// The plug-in is looked for, in order: the --plugin option; plugin/Cindel.so beside the cindel
// binary (the build tree's layout); Cindel.so beside the binary; the plug-in this binary was built
// with. On Windows the file is Cindel.aex, in the same places. No environment variable is read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "minihost/host.h"

namespace cli {

// The path of the plug-in to load; throws RuntimeFailure listing the places tried.
std::string locatePlugin(const std::string& option);

// "error 512 (internal structure damaged)".
std::string describeEffectError(PF_Err error);

// "1.0.2" from the effect's packed version.
std::string describeEffectVersion(A_u_long version);

class EffectSession {
public:
    // Loads the plug-in and starts the effect; throws RuntimeFailure when either fails.
    EffectSession(const std::string& pluginPath, bool isVerbose);
    ~EffectSession();
    EffectSession(const EffectSession&) = delete;
    EffectSession& operator=(const EffectSession&) = delete;

    minihost::Host& host() { return *host_; }
    const std::string& pluginPath() const { return pluginPath_; }
    double globalSetupMilliseconds() const { return globalSetupMs_; }
    // The effect's lines since the last call (echoed to stderr when verbose).
    std::vector<std::string> takeLog();
    // Sends sequence and global set-down; the first error, if any, is returned.
    PF_Err shutDown();

private:
    std::unique_ptr<minihost::Host> host_;
    std::string pluginPath_;
    bool isVerbose_;
    bool isShutDown_ = false;
    double globalSetupMs_ = 0;
};

double nowMilliseconds();

}  // namespace cli
