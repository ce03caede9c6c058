// Frame quantisation for PNG, the atomic write of frames and the output-folder check; the
// encoding itself is the platform's codec (tools/image_codec.h).
#include "tools/image_io.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/errors.h"
#include "tools/image_codec.h"
#include "tools/image_limits.h"

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <process.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace cli {

#ifdef CINDEL_PORTABLE_IMAGE_CODEC
namespace codec = portable_codec;
#else
namespace codec = libpng_codec;
#endif

namespace {

// ---- The few file operations that differ between POSIX and Windows

#ifdef _WIN32
int processId() { return _getpid(); }
bool isProcessAlive(int pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's, still running
    DWORD code = 0;
    const bool isRunning = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return isRunning;
}
int createExclusive(const char* path) { return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE); }
int openForSync(const char* path) { return _open(path, _O_RDWR); }
int flushToDisk(int fd) { return _commit(fd); }
int closeFile(int fd) { return _close(fd); }
// std::rename refuses an existing target on Windows; a frame rendered again must replace the old one.
bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}
#else
int processId() { return int(getpid()); }
bool isProcessAlive(int pid) { return kill(pid, 0) == 0 || errno == EPERM; }
int createExclusive(const char* path) { return open(path, O_WRONLY | O_CREAT | O_EXCL, 0644); }
int openForSync(const char* path) { return open(path, O_RDONLY); }
int flushToDisk(int fd) { return fsync(fd); }
int closeFile(int fd) { return close(fd); }
bool replaceFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
#endif

std::string systemReason(int error) {
    return std::strerror(error);
}

// ---- Removing a half-written temporary file when the run is interrupted

// The temporary file being written, for the signal handler; empty when none.
char gTempPath[4096];

void removeTempAndReraise(int signal) {
    if (gTempPath[0]) std::remove(gTempPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class TempFileGuard {
public:
    explicit TempFileGuard(const std::string& path) : path_(path) {
        std::snprintf(gTempPath, sizeof gTempPath, "%s", path.c_str());
        static const bool isInstalled = [] {
            std::signal(SIGINT, &removeTempAndReraise);
            std::signal(SIGTERM, &removeTempAndReraise);
#ifdef SIGHUP
            std::signal(SIGHUP, &removeTempAndReraise);
#endif
            return true;
        }();
        (void)isInstalled;
    }
    ~TempFileGuard() {
        if (!isKept_) std::remove(path_.c_str());
        gTempPath[0] = '\0';
    }
    void keep() { isKept_ = true; }

private:
    std::string path_;
    bool isKept_ = false;
};

// A run killed outright (SIGKILL, a power cut) leaves its hidden ".<name>.tmp-<pid>" behind: the
// next run into the folder removes those whose writer is gone. A live pid's file may be another
// run's write in progress, so it stays.
void removeStaleTemporaries(const std::filesystem::path& directory) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        const std::size_t mark = name.rfind(".tmp-");
        if (name.size() < 2 || name[0] != '.' || mark == std::string::npos || mark + 5 == name.size()) continue;
        const std::string digits = name.substr(mark + 5);
        if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int pid = std::stoi(digits);
        if (pid == processId() || isProcessAlive(pid) || !entry.is_regular_file(error)) continue;
        std::filesystem::remove(entry.path(), error);
    }
}

// ---- Writers into a temporary path

void writePngFile(const minihost::RgbaImage& image, int bitDepth, const std::string& tempPath,
                  const std::string& target) {
    const std::size_t count = std::size_t(image.width) * image.height;
    std::vector<std::uint8_t> bytes(count * 4 * (bitDepth / 8));
    for (std::size_t i = 0; i < count; ++i) {
        const float* p = &image.pixels[i * 4];
        if (bitDepth == 8) {
            straightPixel8(p, &bytes[i * 4]);
        } else {
            std::uint16_t v[4];
            straightPixel16(p, v);
            for (int c = 0; c < 4; ++c) {  // PNG stores 16-bit samples big-endian
                bytes[i * 8 + 2 * c] = static_cast<std::uint8_t>(v[c] >> 8);
                bytes[i * 8 + 2 * c + 1] = static_cast<std::uint8_t>(v[c] & 0xFF);
            }
        }
    }
    codec::writePng(tempPath, bytes.data(), image.width, image.height, bitDepth, target);
}

void writeExrFile(const minihost::RgbaImage& image, bool isHalf, const std::string& tempPath,
                  const std::string& target) {
    codec::writeExr(image, isHalf, tempPath, target);
}

// Data on disk before the rename, so that a crash right after it cannot leave an empty file
// under the final name.
void syncFile(const std::string& tempPath, const std::string& target) {
    int fd = openForSync(tempPath.c_str());
    if (fd < 0) throw RuntimeFailure(target + ": cannot reopen the written file: " + systemReason(errno));
    const int result = flushToDisk(fd);
    const int error = errno;
    closeFile(fd);
    if (result != 0) throw RuntimeFailure(target + ": cannot write the file to disk: " + systemReason(error));
}

}  // namespace

namespace {

// Round half away from zero of `unit` × `full` for unit in 0 … 1: std::lround's result, without its
// library call per sample (four calls a pixel were the largest host cost of writing a frame).
// Truncation is the floor here and the fraction is exact.
std::uint32_t scaleToInteger(double unit, double full) {
    const double x = unit * full;
    const auto whole = static_cast<std::uint32_t>(x);
    return x - whole >= 0.5 ? whole + 1 : whole;
}

// Straight colour and alpha as fractions of full scale: colour ÷ alpha clamped to 0 … 1, no
// coverage (or NaN) black and transparent.
template <typename Sample>
void straightPixel(const float premultiplied[4], Sample out[4], double full) {
    const double a = std::isnan(premultiplied[3]) ? 0.0 : std::clamp(double(premultiplied[3]), 0.0, 1.0);
    for (int c = 0; c < 3; ++c) {
        const double v = a > 0 ? premultiplied[c] / a : 0.0;
        out[c] = static_cast<Sample>(scaleToInteger(std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0), full));
    }
    out[3] = static_cast<Sample>(scaleToInteger(a, full));
}

}  // namespace

void straightPixel8(const float premultiplied[4], std::uint8_t out[4]) { straightPixel(premultiplied, out, 255.0); }

void straightPixel16(const float premultiplied[4], std::uint16_t out[4]) {
    straightPixel(premultiplied, out, 65535.0);
}

// The header first, on every platform: a file that declares more than the budget, or more than it
// can hold, is refused before a decoder allocates for it.
PngPixels readPng(const std::string& path) {
    checkPngHeader(path);
    return codec::readPng(path);
}

minihost::RgbaImage readPngImage(const std::string& path) {
    PngPixels png = readPng(path);
    minihost::RgbaImage image(png.width, png.height);
    const float scale = png.bitDepth == 16 ? 1.0f / 65535.0f : 1.0f / 255.0f;
    for (std::size_t i = 0; i < std::size_t(png.width) * png.height; ++i) {
        const float alpha = png.samples[i * 4 + 3] * scale;
        for (int c = 0; c < 3; ++c) image.pixels[i * 4 + c] = png.samples[i * 4 + c] * scale * alpha;
        image.pixels[i * 4 + 3] = alpha;
    }
    return image;
}

ExrPixels readExr(const std::string& path) {
    checkExrHeader(path);
    return codec::readExr(path);
}

void writeImageAtomically(const minihost::RgbaImage& image, OutputFormat format, const std::string& path) {
    const std::filesystem::path target(path);
    // Hidden and unique to this process. Built by appending: GCC 12 warns falsely (-Wrestrict)
    // about "." + std::string.
    std::string tempName = ".";
    tempName += target.filename().string();
    tempName += ".tmp-";
    tempName += std::to_string(processId());
    const std::string tempPath = (target.parent_path() / tempName).string();
    TempFileGuard guard(tempPath);
    switch (format) {
        case OutputFormat::Png8:
            writePngFile(image, 8, tempPath, path);
            break;
        case OutputFormat::Png16:
            writePngFile(image, 16, tempPath, path);
            break;
        case OutputFormat::ExrHalf:
            writeExrFile(image, true, tempPath, path);
            break;
        case OutputFormat::ExrFloat:
            writeExrFile(image, false, tempPath, path);
            break;
        case OutputFormat::None:
            throw RuntimeFailure(path + ": no image format to write it in");
    }
    syncFile(tempPath, path);
    if (!replaceFile(tempPath, path))
        throw RuntimeFailure(path + ": cannot put the written file in place: " + systemReason(errno));
    guard.keep();
}

void prepareOutputDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw RuntimeFailure("output folder \"" + directory + "\": cannot create it: " + error.message());
    if (!std::filesystem::is_directory(directory, error))
        throw RuntimeFailure("output folder \"" + directory + "\": not a folder");
    // The permission bits do not tell (root ignores them, read-only mounts do not show): try.
    std::string probeName = ".cindel-probe-";
    probeName += std::to_string(processId());
    const std::string probe = (std::filesystem::path(directory) / probeName).string();
    int fd = createExclusive(probe.c_str());
    if (fd < 0) throw RuntimeFailure("output folder \"" + directory + "\": cannot write in it: " + systemReason(errno));
    closeFile(fd);
    std::remove(probe.c_str());
    removeStaleTemporaries(directory);
}

}  // namespace cli
