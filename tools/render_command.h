// `cindel render`: renders a scene's frames in order through minihost (smart pre-render, then
// smart render of each frame), composites the composition's layers over the background and writes
// each frame atomically. Progress goes to stderr, one line per frame, then a summary.
//
// Frames are composition frame numbers from 0. A run that starts at frame A > 0 makes the effect
// simulate from frame 0 for its first frame, so a range rendered on its own equals the same frames
// of a run over the whole shot on the same device: a shot can be split over machines with
// --frames.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/scene.h"

namespace cli {

struct RenderOptions {
    std::optional<std::string> scenePath;  // the built-in default scene when empty
    std::optional<FrameRange> frames;
    std::optional<std::pair<int, int>> size;
    std::optional<std::string> quality;
    // A choice of the "Preset" popup, chosen as the host does after the scene's own choice and
    // before --quality and --set, which therefore win over what it writes.
    std::optional<std::string> preset;
    std::vector<std::string> sets;  // "Name=value", applied after the scene's parameters
    std::optional<std::string> outDirectory;
    std::optional<OutputFormat> format;
    bool hasBackground = false;
    std::optional<minihost::Rgb> background;
    std::optional<std::string> video;
    std::optional<std::string> vdbDirectory;
    std::string plugin;
    bool isVerbose = false;
};

// Returns the exit code; throws UsageError and RuntimeFailure.
int runRender(const RenderOptions& options);

// "1m 05s", "12.3 s".
std::string formatDuration(double seconds);

}  // namespace cli
