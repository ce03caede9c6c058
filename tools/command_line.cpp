// The command line of cindel: subcommands, options and the usage text.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "minihost/host_error.h"
#include "tools/commands.h"
#include "tools/errors.h"
#include "tools/render_command.h"
#include "tools/scene.h"

namespace cli {

namespace {

const char kUsage[] =
    "cindel: renders the Cindel fire effect without the compositing application.\n"
    "\n"
    "usage:\n"
    "  cindel render [SCENE] [options]   render a scene file (or the built-in default scene)\n"
    "  cindel params [--json]            the effect's parameter table as it registers it, hidden ones marked\n"
    "  cindel presets [--json]           the presets and what each changes from Custom\n"
    "  cindel info                       OpenCL platforms and devices, the effect's device, kernel build time\n"
    "  cindel scene                      print the built-in default scene (a starting point for your own)\n"
    "  cindel help                       this text\n"
    "\n"
    "render options:\n"
    "  --frames A-B           composition frames to render, from 0 (default: the scene's, else all)\n"
    "  --size WxH             composition size; every position in the scene scales with it\n"
    "  --quality Q            Draft, Normal, High or Ultra (the effect's Quality parameter)\n"
    "  --preset NAME          choose a preset (see cindel presets) before --quality and --set apply\n"
    "  --set \"Name=value\"     set an effect parameter (repeatable; by name, group path or #index)\n"
    "  --out DIR              output folder (default: the scene's, else out)\n"
    "  --format F             png (8-bit), png16, exr (half float), exr32 (float), or none with --vdb\n"
    "  --background C|none    colour under the frame (#RRGGBB, black, white, gray) or none for alpha\n"
    "  --video FILE           also encode an MP4 with ffmpeg\n"
    "  --vdb DIR              also write each frame's simulation as DIR/frame_NNNN.vdb (OpenVDB)\n"
    "\n"
    "every command:\n"
#ifdef _WIN32
    "  --plugin PATH          the plug-in to load (default: Cindel.aex beside this program)\n"
#else
    "  --plugin PATH          the plug-in to load (default: plugin/Cindel.so beside this program)\n"
#endif
    "  --verbose              show the effect's own diagnostic lines\n"
    "\n"
    "exit status: 0 success, 2 bad usage or scene, 1 failure while rendering\n";

std::pair<int, int> parseSize(const std::string& text) {
    std::size_t x = text.find_first_of("xX");
    int width = 0, height = 0;
    bool isValid = x != std::string::npos && x > 0;
    if (isValid) {
        char* end = nullptr;
        width = static_cast<int>(std::strtol(text.c_str(), &end, 10));
        isValid = end == text.c_str() + x;
        height = static_cast<int>(std::strtol(text.c_str() + x + 1, &end, 10));
        isValid = isValid && *end == '\0' && end != text.c_str() + x + 1;
    }
    if (!isValid || width < 1 || height < 1 || width > 30000 || height > 30000)
        throw UsageError("--size \"" + text + "\": expected WIDTHxHEIGHT, for example 960x540");
    return {width, height};
}

class Arguments {
public:
    explicit Arguments(std::vector<std::string> args) : args_(std::move(args)) {}
    bool hasMore() const { return next_ < args_.size(); }
    const std::string& take() { return args_[next_++]; }
    const std::string& valueOf(const std::string& option) {
        if (!hasMore()) throw UsageError(option + " needs a value (see cindel help)");
        return take();
    }

private:
    std::vector<std::string> args_;
    std::size_t next_ = 0;
};

int dispatch(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string& command = args[0];
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    if (command == "scene") {
        std::fputs(defaultSceneText().c_str(), stdout);
        return kExitSuccess;
    }
    if (command != "render" && command != "params" && command != "presets" && command != "info")
        throw UsageError("unknown command \"" + command +
                         "\"; the commands are render, params, presets, info, scene and help");

    RenderOptions render;
    bool isJson = false;
    Arguments arguments(std::vector<std::string>(args.begin() + 1, args.end()));
    while (arguments.hasMore()) {
        const std::string& arg = arguments.take();
        const bool isRender = command == "render";
        if (arg == "--plugin") {
            render.plugin = arguments.valueOf(arg);
        } else if (arg == "--verbose" || arg == "-v") {
            render.isVerbose = true;
        } else if (arg == "--json" && (command == "params" || command == "presets")) {
            isJson = true;
        } else if (isRender && arg == "--frames") {
            render.frames = parseFrameRange(arguments.valueOf(arg), "--frames");
        } else if (isRender && arg == "--size") {
            render.size = parseSize(arguments.valueOf(arg));
        } else if (isRender && arg == "--quality") {
            render.quality = arguments.valueOf(arg);
        } else if (isRender && arg == "--preset") {
            render.preset = arguments.valueOf(arg);
        } else if (isRender && arg == "--set") {
            render.sets.push_back(arguments.valueOf(arg));
        } else if (isRender && arg == "--out") {
            render.outDirectory = arguments.valueOf(arg);
        } else if (isRender && arg == "--format") {
            render.format = parseOutputFormat(arguments.valueOf(arg));
        } else if (isRender && arg == "--background") {
            render.hasBackground = true;
            render.background = parseBackground(arguments.valueOf(arg), "--background");
        } else if (isRender && arg == "--video") {
            render.video = arguments.valueOf(arg);
        } else if (isRender && arg == "--vdb") {
            render.vdbDirectory = arguments.valueOf(arg);
            if (render.vdbDirectory->empty()) throw UsageError("--vdb needs a folder");
        } else if (isRender && !arg.empty() && arg[0] != '-' && !render.scenePath) {
            render.scenePath = arg;
        } else {
            throw UsageError("cindel " + command + ": unknown option \"" + arg + "\" (see cindel help)");
        }
    }
    if (command == "render") return runRender(render);
    if (command == "params") return runParams(render.plugin, isJson, render.isVerbose);
    if (command == "presets") return runPresets(render.plugin, isJson, render.isVerbose);
    return runInfo(render.plugin, render.isVerbose);
}

}  // namespace

int runCommandLine(const std::vector<std::string>& args) {
    try {
        return dispatch(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "cindel: %s\n", e.what());
        return kExitUsage;
    } catch (const RuntimeFailure& e) {
        std::fprintf(stderr, "cindel: %s\n", e.what());
        return kExitRuntimeFailure;
    } catch (const minihost::HostError& e) {
        std::fprintf(stderr, "cindel: %s\n", e.what());
        return kExitRuntimeFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cindel: %s\n", e.what());
        return kExitRuntimeFailure;
    }
}

}  // namespace cli
