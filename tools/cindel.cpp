// cindel, the command-line renderer: the effect driven through minihost, for everyone without the
// compositing application (Linux users, render farms, pipelines). See command_line.cpp for the
// commands and README.md for scene files.
#include <string>
#include <vector>

#include "tools/commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return cli::runCommandLine(args);
}
