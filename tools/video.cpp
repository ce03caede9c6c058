// ffmpeg lookup and invocation.
#include "tools/video.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/errors.h"

extern char** environ;

namespace cli {

std::string findFfmpeg() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon - start);
        if (!dir.empty()) {
            std::string candidate = dir + "/ffmpeg";
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return {};
}

void encodeVideo(const VideoJob& job) {
    const std::string rate = std::to_string(job.timeScale) + "/" + std::to_string(job.timeStep);
    std::vector<std::string> args{job.ffmpeg,
                                  "-hide_banner",
                                  "-loglevel",
                                  "error",
                                  "-y",
                                  "-framerate",
                                  rate,
                                  "-start_number",
                                  std::to_string(job.firstFrame),
                                  "-i",
                                  job.framePattern};
    // Even sizes for 4:2:0 chroma.
    std::string filter = "pad=ceil(iw/2)*2:ceil(ih/2)*2";
    if (job.hasAlpha) {
        args.insert(args.end(),
                    {"-f", "lavfi", "-i",
                     "color=c=black:s=" + std::to_string(job.width) + "x" + std::to_string(job.height) + ":r=" + rate});
        filter = "[1:v][0:v]overlay=shortest=1," + filter;
    } else {
        filter = "[0:v]" + filter;
    }
    args.insert(args.end(), {"-filter_complex", filter, "-frames:v", std::to_string(job.frameCount), "-c:v", "libx264",
                             "-pix_fmt", "yuv420p", "-movflags", "+faststart", job.output});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawnError = posix_spawn(&pid, job.ffmpeg.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawnError != 0) throw RuntimeFailure("cannot run " + job.ffmpeg + ": " + std::strerror(spawnError));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw RuntimeFailure("waiting for ffmpeg: " + std::string(std::strerror(errno)));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw RuntimeFailure("ffmpeg could not encode " + job.output + " (exit status " +
                             std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")");
}

}  // namespace cli
