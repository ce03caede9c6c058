// A scene: what `cindel render` renders. The composition (minihost's model: size, frame rate,
// duration, the layer stack with the effect's layer, lights, camera and masks), the effect's
// parameter settings as the scene wrote them, and the output settings.
//
// Parameter settings stay as written (a name or index and a value or keyframes) until the plug-in
// is loaded: only its registered table can say what a name means and which range a value must
// keep. Each setting carries where it came from, so a refusal then still names the scene file and
// the field. Keyframe times are composition seconds.
//
// Scene files are JSON; docs for the format are in README.md and examples/. Relative image paths
// are resolved against the scene file's folder; the output folder against the working directory.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "minihost/composition.h"
#include "minihost/param_lookup.h"

namespace cli {

// None writes no images: with a volume folder, the frames are simulated and exported only.
enum class OutputFormat { Png8, Png16, ExrHalf, ExrFloat, None };

// "png", "png16", "exr", "exr32", "none"; throws UsageError for anything else.
OutputFormat parseOutputFormat(const std::string& text);
const char* formatName(OutputFormat format);
const char* fileExtension(OutputFormat format);
int bitsPerChannel(OutputFormat format);  // the depth the effect renders at for the format

struct FrameRange {
    int first = 0;
    int last = 0;  // inclusive
    int count() const { return last - first + 1; }
};

// "A-B" or a single frame "A"; throws UsageError naming `what` otherwise.
FrameRange parseFrameRange(const std::string& text, const std::string& what);

// A background: an opaque colour, or none (transparent). "#RRGGBB", "#RGB", a few names
// ("black", "white", "gray", "grey") or "none"; throws UsageError naming `what` otherwise.
std::optional<minihost::Rgb> parseBackground(const std::string& text, const std::string& what);

struct ParamKey {
    double seconds = 0;
    minihost::ParamInput value;
    minihost::Interpolation interpolation = minihost::Interpolation::Linear;
};

struct ParamSetting {
    std::string reference;  // the name, group path or index as written
    std::string where;      // "fire.json: layers[1].params["Burn Progress"]", "--set" …
    minihost::ParamInput constant;
    std::vector<ParamKey> keys;  // keyframed when not empty
    bool isKeyframed() const { return !keys.empty(); }
};

struct OutputSettings {
    std::optional<FrameRange> frames;  // all frames of the composition when empty
    OutputFormat format = OutputFormat::Png8;
    std::string directory = "out";
    std::string prefix = "frame";
    bool hasBackground = false;  // false: the scene said nothing, the command's default applies
    std::optional<minihost::Rgb> background;
    std::string video;  // an MP4 to encode after the frames; empty for none
    std::string vdbDirectory;  // a folder for each frame's OpenVDB volume; empty for none
};

struct Scene {
    std::string source;  // the scene file, or "built-in default scene"
    std::shared_ptr<minihost::Composition> composition = std::make_shared<minihost::Composition>();
    std::vector<ParamSetting> params;  // the effect layer's, in file order
    OutputSettings output;
    // Explicit point values of effect parameters are multiplied by these (set by resize()).
    double pointScaleX = 1.0;
    double pointScaleY = 1.0;

    // A new composition size with everything in it scaled to match (see Composition::resize).
    void resize(int width, int height);
};

// Reads and validates a scene file; throws UsageError naming the file, the field path and what was
// expected, or the image file and the reason it cannot be read.
Scene loadSceneFile(const std::string& path);
// The same from text; `source` names it in messages and `baseDirectory` resolves image files.
Scene parseScene(const std::string& text, const std::string& source, const std::string& baseDirectory);
// The built-in default scene (fire rising from near the bottom centre of a 960 × 540, 30 fps
// composition) and its JSON text.
Scene defaultScene();
const std::string& defaultSceneText();

}  // namespace cli
