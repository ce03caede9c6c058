// ffmpeg lookup and invocation.
#include "tools/video.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/errors.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace cli {

namespace {

#ifdef _WIN32
constexpr char kPathSeparator = ';';
constexpr const char* kFfmpegName = "\\ffmpeg.exe";
constexpr const char* kDefaultPath = "";
bool isExecutable(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One argument of a command line as the Microsoft C runtime splits it again: quoted, with
// backslashes doubled only where they precede a quote.
void appendQuoted(std::string& line, const std::string& argument) {
    line += '"';
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

// Runs the program and waits; returns its exit status, or throws naming what failed.
int runAndWait(const std::string& program, const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        if (!line.empty()) line += ' ';
        appendQuoted(line, a);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        throw RuntimeFailure("cannot run " + program + ": Windows error " + std::to_string(GetLastError()));
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(status);
}
#else
constexpr char kPathSeparator = ':';
constexpr const char* kFfmpegName = "/ffmpeg";
constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin";
bool isExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

int runAndWait(const std::string& program, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawnError = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawnError != 0) throw RuntimeFailure("cannot run " + program + ": " + std::strerror(spawnError));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw RuntimeFailure("waiting for ffmpeg: " + std::string(std::strerror(errno)));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace

std::string findFfmpeg() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : kDefaultPath;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t separator = dirs.find(kPathSeparator, start);
        std::string dir = dirs.substr(start, separator - start);
        if (!dir.empty()) {
            std::string candidate = dir + kFfmpegName;
            if (isExecutable(candidate)) return candidate;
        }
        if (separator == std::string::npos) break;
        start = separator + 1;
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
    const int status = runAndWait(job.ffmpeg, args);
    if (status != 0)
        throw RuntimeFailure("ffmpeg could not encode " + job.output + " (exit status " + std::to_string(status) + ")");
}

}  // namespace cli
