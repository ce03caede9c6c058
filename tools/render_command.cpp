// The render loop: scene, effect start-up, parameters, then per frame the effect's render and the
// composite, handed to a writer thread for the atomic write, with progress and a summary on stderr. With a volume folder the
// effect's volume export is switched on and each frame's fields are written as OpenVDB during its
// render (tools/vdb_writer.h); with format none only the volumes are made.
#include "tools/render_command.h"

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "minihost/compositor.h"
#include "minihost/host.h"
#include "minihost/param_lookup.h"
#include "minihost/rgba_image.h"
#include "tools/effect_session.h"
#include "tools/errors.h"
#include "tools/image_io.h"
#include "tools/param_apply.h"
#include "tools/vdb_writer.h"
#include "tools/video.h"
#include "tools/work_estimate.h"

namespace cli {

namespace {

using minihost::Composition;
using minihost::Layer;

std::string framePath(const std::string& directory, const std::string& prefix, int frame, const char* extension) {
    char name[64];
    std::snprintf(name, sizeof name, "_%04d.", frame);
    return (std::filesystem::path(directory) / (prefix + name + extension)).string();
}

std::string framePath(const std::string& directory, const std::string& prefix, int frame, OutputFormat format) {
    return framePath(directory, prefix, frame, fileExtension(format));
}

// Receives the effect's fields during each frame's render and writes them where the frame's
// volume goes. A frame whose render handed nothing over (no GPU runtime, a failed read-back) is a
// failure of the run: a pipeline asking for volumes must not get a folder with holes in it.
class VolumeFiles {
public:
    VolumeFiles(std::string directory, std::string prefix) : directory_(std::move(directory)), prefix_(std::move(prefix)) {}

    void expect(int frame) {
        frame_ = frame;
        isWritten_ = false;
    }
    void receive(const CindelVolumeFields& fields) {
        const double start = nowMilliseconds();
        writeVdbAtomically(fields, frame_, path(frame_), VdbOptions{}, &times_);
        milliseconds_ = nowMilliseconds() - start;
        isWritten_ = true;
    }
    // The last file's write (inside the effect's render call) and its size.
    double milliseconds() const { return milliseconds_; }
    double megabytes() const { return double(times_.bytes) / (1024.0 * 1024.0); }
    void check(minihost::Host& host) const {
        host.rethrowVolumeFailure();
        if (!isWritten_)
            throw RuntimeFailure("frame " + std::to_string(frame_) + ": the effect handed over no volume for " +
                                 path(frame_) + " (no GPU device, or its fields could not be read back; see --verbose)");
    }
    std::string path(int frame) const { return framePath(directory_, prefix_, frame, "vdb"); }

private:
    std::string directory_;
    std::string prefix_;
    int frame_ = -1;
    bool isWritten_ = false;
    double milliseconds_ = 0;
    VdbWriteTimes times_;
};

// The renderer's own time for the frame, from the effect's "[FRAME] … render=12.3ms" line; a
// negative value when the effect wrote none (it renders no volume without a GPU runtime).
double renderMillisecondsFromLog(const std::vector<std::string>& lines) {
    double ms = -1;
    for (const std::string& line : lines) {
        if (line.find("[FRAME]") == std::string::npos) continue;
        std::size_t at = line.find("render=");
        if (at != std::string::npos) ms = std::atof(line.c_str() + at + 7);
    }
    return ms;
}

// The pixels of the layers that layer parameters point at, at the effect's depth, with the layer
// each came from. Image and solid layers do not change over time, so each is made once. A layer
// whose content reaches past its bounds (a content margin) gets a world of its whole content and
// a maximum rectangle that extends past its own size by the margin.
class LayerWorlds {
public:
    LayerWorlds(const Composition& comp, int bits) : comp_(comp), bits_(bits) {}

    minihost::LayerSource sourceOf(int layerId) {
        const Layer* layer = comp_.layerById(layerId);
        minihost::LayerSource source;
        source.world = &worldOf(*layer);
        const A_long margin = layer->contentMargin;
        if (margin > 0) source.maxRect = PF_LRect{-margin, -margin, layer->width + margin, layer->height + margin};
        source.refWidth = layer->width;
        source.refHeight = layer->height;
        source.layerId = layer->id;
        return source;
    }

private:
    minihost::World& worldOf(const Layer& layer) {
        auto it = worlds_.find(layer.id);
        if (it != worlds_.end()) return *it->second;
        auto world =
            std::make_unique<minihost::World>(minihost::worldFromImage(minihost::layerContentPixels(layer), bits_));
        return *worlds_.emplace(layer.id, std::move(world)).first->second;
    }

    const Composition& comp_;
    int bits_;
    std::map<int, std::unique_ptr<minihost::World>> worlds_;
};

// Encodes and writes the frames on its own thread while the effect renders the next one. One
// thread, first in first out, so frames land in order, each atomically. The queue holds at most
// `kMaxQueued` frames, so a disk slower than the renderer holds the renderer back instead of
// filling memory. The first failure stops the writing: later frames are dropped, and the render
// loop gets the failure at its next hand-over or at finish().
class FrameWriter {
public:
    explicit FrameWriter(OutputFormat format) : format_(format), thread_([this] { run(); }) {}
    // Writes what was handed over unless a write failed; never throws.
    ~FrameWriter() {
        close();
        thread_.join();
    }

    void write(minihost::RgbaImage image, std::string path) {
        std::unique_lock<std::mutex> lock(mutex_);
        hasRoom_.wait(lock, [this] { return jobs_.size() < kMaxQueued || error_; });
        if (error_) std::rethrow_exception(error_);
        jobs_.push_back(Job{std::move(image), std::move(path)});
        hasJob_.notify_one();
    }
    // Waits until every frame is on disk; throws the first write's failure.
    void finish() {
        close();
        std::unique_lock<std::mutex> lock(mutex_);
        isIdle_.wait(lock, [this] { return (jobs_.empty() && !isWriting_) || error_; });
        if (error_) std::rethrow_exception(error_);
    }

private:
    static constexpr std::size_t kMaxQueued = 2;
    struct Job {
        minihost::RgbaImage image;
        std::string path;
    };

    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        isClosed_ = true;
        hasJob_.notify_one();
    }
    void run() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            hasJob_.wait(lock, [this] { return !jobs_.empty() || isClosed_; });
            if (jobs_.empty() || error_) break;
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            isWriting_ = true;
            hasRoom_.notify_one();
            lock.unlock();
            std::exception_ptr failure;
            try {
                writeImageAtomically(job.image, format_, job.path);
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            isWriting_ = false;
            if (failure) error_ = failure;
            hasRoom_.notify_one();
            isIdle_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        isIdle_.notify_all();
        hasRoom_.notify_all();
    }

    const OutputFormat format_;
    std::mutex mutex_;
    std::condition_variable hasJob_, hasRoom_, isIdle_;
    std::deque<Job> jobs_;
    bool isClosed_ = false;
    bool isWriting_ = false;
    std::exception_ptr error_;
    std::thread thread_;  // last: starts once the members it uses exist
};

struct Totals {
    double simulationMs = 0;
    double renderMs = 0;
    double wallMs = 0;
    bool hasRenderTimes = false;
};

}  // namespace

std::string formatDuration(double seconds) {
    char text[64];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else {
        long whole = std::lround(seconds);
        if (whole >= 3600)
            std::snprintf(text, sizeof text, "%ldh %02ldm %02lds", whole / 3600, (whole / 60) % 60, whole % 60);
        else
            std::snprintf(text, sizeof text, "%ldm %02lds", whole / 60, whole % 60);
    }
    return text;
}

int runRender(const RenderOptions& options) {
    // ---- Everything that can be refused before the effect loads.
    Scene scene = options.scenePath ? loadSceneFile(*options.scenePath) : defaultScene();
    if (options.size) scene.resize(options.size->first, options.size->second);
    Composition& comp = *scene.composition;
    const FrameRange frames = options.frames        ? *options.frames
                              : scene.output.frames ? *scene.output.frames
                                                    : FrameRange{0, comp.durationFrames - 1};
    if (frames.last >= comp.durationFrames)
        throw UsageError("--frames " + std::to_string(frames.first) + "-" + std::to_string(frames.last) +
                         ": the composition has frames 0 to " + std::to_string(comp.durationFrames - 1));
    const OutputFormat format = options.format.value_or(scene.output.format);
    const std::string directory = options.outDirectory.value_or(scene.output.directory);
    const std::optional<minihost::Rgb> background = options.hasBackground        ? options.background
                                                    : scene.output.hasBackground ? scene.output.background
                                                                                 : std::nullopt;
    const std::string video = options.video.value_or(scene.output.video);
    const std::string vdbDirectory = options.vdbDirectory.value_or(scene.output.vdbDirectory);
    const bool hasImages = format != OutputFormat::None;
    if (!vdbDirectory.empty() && !hasVdbWriter())
        throw UsageError("--vdb: this build of cindel has no OpenVDB writer (the Windows build has none); write "
                         "the volumes with the Linux cindel");
    if (!hasImages && vdbDirectory.empty())
        throw UsageError("--format none writes no images, so there would be nothing to write: give --vdb DIR too");
    if (!hasImages && !video.empty())
        throw UsageError("--format none writes no images to make a video from: drop --video or choose a format");

    std::vector<ParamSetting> settings = scene.params;
    if (options.preset) {
        ParamSetting preset;
        preset.reference = "Preset";
        preset.where = "--preset \"" + *options.preset + "\"";
        preset.constant = minihost::ParamInput::ofText(*options.preset);
        settings.push_back(preset);
    }
    if (options.quality) {
        ParamSetting quality;
        quality.reference = "Quality";
        quality.where = "--quality " + *options.quality;
        quality.constant = minihost::ParamInput::ofText(*options.quality);
        settings.push_back(quality);
    }
    for (const std::string& set : options.sets) settings.push_back(parseSetOption(set));

    // ---- The output folders and ffmpeg before any long work.
    if (hasImages) prepareOutputDirectory(directory);
    if (!vdbDirectory.empty()) prepareOutputDirectory(vdbDirectory);
    std::string ffmpeg;
    if (!video.empty()) {
        ffmpeg = findFfmpeg();
        if (ffmpeg.empty())
            std::fprintf(stderr,
                         "cindel: ffmpeg is not installed, so no video will be made (the frames will be); "
                         "install it with: apt-get install ffmpeg\n");
    }

    // ---- The effect, its instance on the effect layer, the host's times and the parameters.
    EffectSession session(locatePlugin(options.plugin), options.isVerbose);
    minihost::Host& host = session.host();
    Layer& effectLayer = *comp.effectLayer();
    minihost::HostSettings& hostSettings = host.settings();
    hostSettings.timeScale = comp.timeScale;
    hostSettings.timeStep = comp.timeStep;
    hostSettings.totalTime = comp.durationFrames * comp.timeStep;
    hostSettings.shutterAngle = static_cast<PF_Fixed>(std::lround(comp.shutterAngleDegrees / 360.0 * 65536.0));
    hostSettings.shutterPhase = static_cast<PF_Fixed>(std::lround(comp.shutterPhaseDegrees / 360.0 * 65536.0));
    host.setComposition(scene.composition);
    minihost::Instance& instance = host.addInstance(effectLayer.width, effectLayer.height);
    instance.setLayerId(effectLayer.id);
    session.takeLog();
    const std::vector<LayerBinding> bindings = applyParamSettings(host, instance, scene, settings);
    const int bits = bitsPerChannel(format);
    LayerWorlds layerWorlds(comp, bits);
    for (const LayerBinding& binding : bindings)
        instance.setLayer(binding.index, layerWorlds.sourceOf(binding.layerId));
    std::optional<VolumeFiles> volumes;
    if (!vdbDirectory.empty()) {
        volumes.emplace(vdbDirectory, scene.output.prefix);
        if (!host.setVolumeReceiver([&volumes](const CindelVolumeFields& fields) { volumes->receive(fields); },
                                    !hasImages))
            throw RuntimeFailure(session.pluginPath() + ": this plug-in offers no volume export, so --vdb cannot be "
                                 "written; use the plug-in built with this cindel");
    }

    // ---- A run that cannot finish is refused before its first frame, one that is long is warned about.
    RenderWork work;
    work.firstFrame = frames.first;
    work.lastFrame = frames.last;
    work.width = effectLayer.width;
    work.height = effectLayer.height;
    {
        const minihost::ParamLookup lookup(host.definitions());
        const minihost::HostTime start{
            static_cast<A_long>(std::lround(effectLayer.layerSeconds(comp.secondsOfFrame(frames.first)) * comp.timeScale)),
            comp.timeScale};
        work.quality = static_cast<int>(instance.valueAt(lookup.find("Quality").index, start).asDouble());
        work.voxelSize = static_cast<int>(instance.valueAt(lookup.find("Voxel Size").index, start).asDouble());
    }
    const WorkEstimate estimate = estimateWork(work);
    const std::string workText = describeWork(work, estimate);
    if (estimate.leastSeconds > kRefusedWorkSeconds)
        throw UsageError(scene.source + ": " + workText +
                         "; refused (more than a day at any speed): render fewer frames, a smaller size, a lower "
                         "Quality or a larger Voxel Size");
    if (!workText.empty()) std::fprintf(stderr, "cindel: warning: %s\n", workText.c_str());

    std::fprintf(stderr, "cindel: %s, %d x %d at %g fps, frames %d-%d as %s into %s/%s%s%s (kernel build %s)\n",
                 scene.source.c_str(), comp.width, comp.height, comp.framesPerSecond(), frames.first, frames.last,
                 hasImages ? formatName(format) : "OpenVDB volumes", hasImages ? directory.c_str() : vdbDirectory.c_str(),
                 hasImages && volumes ? ", volumes into " : "", hasImages && volumes ? vdbDirectory.c_str() : "",
                 hasImages && volumes ? "/" : "", formatDuration(session.globalSetupMilliseconds() / 1000).c_str());

    // ---- Frames in order.
    std::optional<FrameWriter> writer;
    if (hasImages) writer.emplace(format);
    Totals totals;
    std::vector<double> frameMs;
    for (int frame = frames.first; frame <= frames.last; ++frame) {
        const double frameStart = nowMilliseconds();
        const double compSeconds = comp.secondsOfFrame(frame);
        std::optional<minihost::RgbaImage> effectImage;
        double effectMs = 0, renderMs = -1, volumeMs = -1;
        // A hidden or not yet started effect layer is not rendered, as the host would not ask.
        if (effectLayer.isVisible && effectLayer.isActiveAt(compSeconds)) {
            hostSettings.currentTime =
                static_cast<A_long>(std::lround(effectLayer.layerSeconds(compSeconds) * comp.timeScale));
            minihost::World output(effectLayer.width, effectLayer.height, bits);
            if (volumes) volumes->expect(frame);
            const double start = nowMilliseconds();
            const PF_Err err = host.renderFrame(instance, output);
            effectMs = nowMilliseconds() - start;
            renderMs = renderMillisecondsFromLog(session.takeLog());
            if (err)
                throw RuntimeFailure("frame " + std::to_string(frame) + ": the effect failed with " +
                                     describeEffectError(err));
            if (volumes) {
                volumes->check(host);
                volumeMs = volumes->milliseconds();
                effectMs -= volumeMs;  // the file is written inside the render call
            }
            if (hasImages) effectImage = minihost::imageFromWorld(output);
        }
        if (hasImages) {
            minihost::RgbaImage composite =
                minihost::compositeFrame(comp, compSeconds, effectImage ? &*effectImage : nullptr, background);
            writer->write(std::move(composite), framePath(directory, scene.output.prefix, frame, format));
        }

        const double wallMs = nowMilliseconds() - frameStart;
        const double simulationMs = renderMs >= 0 ? std::max(0.0, effectMs - renderMs) : effectMs;
        totals.simulationMs += simulationMs;
        totals.renderMs += std::max(0.0, renderMs);
        totals.hasRenderTimes = totals.hasRenderTimes || renderMs >= 0;
        totals.wallMs += wallMs;
        frameMs.push_back(wallMs);

        // The first frame of a range that does not start at 0 re-simulates from frame 0; later
        // frames predict the rest better without it.
        const int done = frame - frames.first + 1;
        const int left = frames.count() - done;
        double average = totals.wallMs / done;
        if (done > 1) average = (totals.wallMs - frameMs.front()) / (done - 1);
        char timing[96];
        if (renderMs >= 0)
            std::snprintf(timing, sizeof timing, "simulation %.0f ms, render %.0f ms", simulationMs, renderMs);
        else
            std::snprintf(timing, sizeof timing, "effect %.0f ms", effectMs);
        char volume[64] = "";
        if (volumeMs >= 0)
            std::snprintf(volume, sizeof volume, ", volume %.0f ms (%.1f MB)", volumeMs, volumes->megabytes());
        std::fprintf(stderr, "frame %d/%d (#%d): %s%s, total %.0f ms; %s left\n", done, frames.count(), frame, timing,
                     volume, wallMs, left ? ("about " + formatDuration(average * left / 1000)).c_str() : "nothing");
    }

    if (writer) {
        const double start = nowMilliseconds();
        writer->finish();
        totals.wallMs += nowMilliseconds() - start;
    }
    std::fprintf(stderr, "cindel: %d frame%s in %s (%.0f ms a frame", frames.count(), frames.count() == 1 ? "" : "s",
                 formatDuration(totals.wallMs / 1000).c_str(), totals.wallMs / frames.count());
    if (totals.hasRenderTimes)
        std::fprintf(stderr, "; simulation %s, render %s", formatDuration(totals.simulationMs / 1000).c_str(),
                     formatDuration(totals.renderMs / 1000).c_str());
    const char* extension = hasImages ? fileExtension(format) : "vdb";
    const std::string& folder = hasImages ? directory : vdbDirectory;
    const std::string firstPath = framePath(folder, scene.output.prefix, frames.first, extension);
    if (frames.count() == 1)
        std::fprintf(stderr, "): %s\n", firstPath.c_str());
    else
        std::fprintf(stderr, "): %s … %s\n", firstPath.c_str(),
                     std::filesystem::path(framePath(folder, scene.output.prefix, frames.last, extension))
                         .filename()
                         .string()
                         .c_str());
    if (hasImages && volumes)
        std::fprintf(stderr, "cindel: volumes %s … %s\n", volumes->path(frames.first).c_str(),
                     std::filesystem::path(volumes->path(frames.last)).filename().string().c_str());

    if (PF_Err err = session.shutDown())
        std::fprintf(stderr, "cindel: warning: the effect's set-down returned %s\n", describeEffectError(err).c_str());

    if (!video.empty()) {
        if (ffmpeg.empty()) {
            std::fprintf(stderr,
                         "cindel: no video: ffmpeg is not installed (apt-get install ffmpeg); the frames are in %s/\n",
                         directory.c_str());
            return kExitRuntimeFailure;
        }
        VideoJob job;
        job.ffmpeg = ffmpeg;
        job.framePattern =
            (std::filesystem::path(directory) / (scene.output.prefix + "_%04d." + fileExtension(format))).string();
        job.firstFrame = frames.first;
        job.frameCount = frames.count();
        job.timeScale = comp.timeScale;
        job.timeStep = comp.timeStep;
        job.width = comp.width;
        job.height = comp.height;
        job.hasAlpha = !background.has_value();
        job.output = video;
        encodeVideo(job);
        std::fprintf(stderr, "cindel: video %s\n", video.c_str());
    }
    return kExitSuccess;
}

}  // namespace cli
