// Encoding the rendered frames into an MP4 with ffmpeg, when it is installed. ffmpeg is looked up
// on PATH and run directly (no shell); frames with transparency are laid over black first, since
// H.264 has no alpha and straight-alpha colours on their own would show the fire's transparent
// fringes at full brightness.
#pragma once

#include <string>

namespace cli {

// The path of ffmpeg on PATH, or empty when it is not installed.
std::string findFfmpeg();

struct VideoJob {
    std::string ffmpeg;
    std::string framePattern;  // "out/demo/frame_%04d.png"
    int firstFrame = 0;
    int frameCount = 0;
    unsigned long timeScale = 30;  // frame rate = timeScale / timeStep
    long timeStep = 1;
    int width = 0;  // the frames' size, for the black layer under transparent frames
    int height = 0;
    bool hasAlpha = false;
    std::string output;
};

// Runs ffmpeg; throws RuntimeFailure with its exit status when it fails.
void encodeVideo(const VideoJob& job);

}  // namespace cli
