// Reading a scene file into the composition model, the effect's parameter settings and the output
// settings, refusing anything malformed with the file, the field path and what was expected.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tools/image_io.h"
#include "tools/json_field.h"
#include "tools/scene.h"

namespace cli {

namespace {

using minihost::Animated;
using minihost::Composition;
using minihost::Interpolation;
using minihost::Layer;
using minihost::LayerType;
using minihost::ParamInput;
using minihost::Rgb;
using minihost::Vec3;

// Frame rates are stored as the host's time scale and time step. Whole rates are exact; the NTSC
// family (29.97, 23.976, 59.94) becomes n × 1000 / 1001; anything else is kept to 1/1000 frame.
void setFrameRate(const JsonField& field, Composition& comp) {
    if (field.isArray()) {
        std::vector<double> ratio = field.numbers(2, 2);
        if (ratio[0] != std::floor(ratio[0]) || ratio[1] != std::floor(ratio[1]) || ratio[0] < 1 || ratio[1] < 1 ||
            ratio[0] > 1e6 || ratio[1] > 1e6)
            throw field.expected("a frame rate as a number or as [time scale, time step] of whole positive numbers");
        comp.timeScale = static_cast<A_u_long>(ratio[0]);
        comp.timeStep = static_cast<A_long>(ratio[1]);
        return;
    }
    double fps = field.numberIn(0.01, 1000);
    if (fps == std::floor(fps)) {
        comp.timeScale = static_cast<A_u_long>(fps);
        comp.timeStep = 1;
    } else if (double n = fps * 1001.0 / 1000.0; std::fabs(n - std::round(n)) < 0.01) {
        comp.timeScale = static_cast<A_u_long>(std::lround(n) * 1000);
        comp.timeStep = 1001;
    } else {
        comp.timeScale = static_cast<A_u_long>(std::lround(fps * 1000));
        comp.timeStep = 1000;
    }
}

double keyTimeSeconds(const JsonField& key, const Composition& comp) {
    const bool hasFrame = key.has("frame");
    const bool hasTime = key.has("time");
    if (hasFrame == hasTime)
        throw key.error("a key needs exactly one of \"frame\" (composition frames) and \"time\" (seconds)");
    return hasFrame ? comp.secondsOfFrame(key.at("frame").number()) : key.at("time").number();
}

Interpolation parseInterpolation(const JsonField& key) {
    auto field = key.find("interpolation");
    if (!field) return Interpolation::Linear;
    std::string text = field->string();
    if (text == "linear") return Interpolation::Linear;
    if (text == "hold") return Interpolation::Hold;
    throw field->expected("\"linear\" or \"hold\", got \"" + text + "\"");
}

bool isKeyed(const JsonField& field) {
    return field.isObject() && field.has("keys");
}

// A constant or {"keys": [{"frame" | "time", "value", "interpolation"}, …]}.
template <typename T, typename Parse>
Animated<T> parseAnimated(const JsonField& field, const Composition& comp, Parse parse) {
    if (!isKeyed(field)) return Animated<T>(parse(field));
    field.requireObject({"keys"});
    Animated<T> animated;
    std::vector<JsonField> keys = field.at("keys").items();
    if (keys.empty()) throw field.at("keys").expected("at least one key");
    for (const JsonField& key : keys) {
        key.requireObject({"frame", "time", "value", "interpolation"});
        animated.addKey(keyTimeSeconds(key, comp), parse(key.at("value")), parseInterpolation(key));
    }
    return animated;
}

Vec3 parseVec(const JsonField& field, double defaultZ) {
    std::vector<double> v = field.numbers(2, 3);
    return Vec3{v[0], v[1], v.size() > 2 ? v[2] : defaultZ};
}

Vec3 parseScale(const JsonField& field) {
    if (field.isNumber()) {
        double s = field.number();
        return Vec3{s, s, s};
    }
    if (!field.isArray()) throw field.expected("a scale in percent: one number or 2 or 3 numbers");
    return parseVec(field, 100.0);
}

Rgb parseColour(const JsonField& field) {
    if (field.isString()) {
        std::optional<Rgb> colour = parseBackground(field.string(), field.where());
        if (!colour) throw field.expected("a colour, not \"none\"");
        return *colour;
    }
    if (!field.isArray()) throw field.expected("a colour \"#RRGGBB\" or 3 numbers from 0 to 1");
    std::vector<double> c = field.numbers(3, 3);
    for (double v : c)
        if (!(v >= 0 && v <= 1)) throw field.expected("3 numbers from 0 to 1");
    return Rgb{c[0], c[1], c[2]};
}

ParamInput parseParamInput(const JsonField& field) {
    const Json& v = field.json();
    if (v.is_number()) return ParamInput::ofNumber(v.get<double>());
    if (v.is_string()) return ParamInput::ofText(v.get<std::string>());
    if (v.is_boolean()) return ParamInput::ofBoolean(v.get<bool>());
    if (v.is_array() && std::all_of(v.begin(), v.end(), [](const Json& e) { return e.is_number(); }))
        return ParamInput::ofNumbers(v.get<std::vector<double>>());
    throw field.expected("a number, a text, true or false, a list of numbers, or {\"keys\": [...]}");
}

ParamSetting parseParamSetting(const std::string& reference, const JsonField& field, const Composition& comp) {
    ParamSetting setting;
    setting.reference = reference;
    setting.where = field.where();
    if (!isKeyed(field)) {
        setting.constant = parseParamInput(field);
        return setting;
    }
    field.requireObject({"keys"});
    std::vector<JsonField> keys = field.at("keys").items();
    if (keys.empty()) throw field.at("keys").expected("at least one key");
    for (const JsonField& key : keys) {
        key.requireObject({"frame", "time", "value", "interpolation"});
        setting.keys.push_back(
            ParamKey{keyTimeSeconds(key, comp), parseParamInput(key.at("value")), parseInterpolation(key)});
    }
    return setting;
}

minihost::MaskVertex parseVertex(const JsonField& field) {
    minihost::MaskVertex vertex;
    if (field.isArray()) {
        std::vector<double> p = field.numbers(2, 2);
        vertex.x = p[0], vertex.y = p[1];
        return vertex;
    }
    field.requireObject({"point", "in", "out"});
    std::vector<double> p = field.at("point").numbers(2, 2);
    vertex.x = p[0], vertex.y = p[1];
    if (auto in = field.find("in")) {
        std::vector<double> t = in->numbers(2, 2);
        vertex.inTangentX = t[0], vertex.inTangentY = t[1];
    }
    if (auto out = field.find("out")) {
        std::vector<double> t = out->numbers(2, 2);
        vertex.outTangentX = t[0], vertex.outTangentY = t[1];
    }
    return vertex;
}

minihost::Mask parseMask(const JsonField& field, int number) {
    field.requireObject({"name", "closed", "vertices"});
    minihost::Mask mask;
    mask.name = field.has("name") ? field.at("name").string() : "Mask " + std::to_string(number);
    if (auto closed = field.find("closed")) mask.isClosed = closed->boolean();
    JsonField vertices = field.at("vertices");
    for (const JsonField& v : vertices.items()) mask.vertices.push_back(parseVertex(v));
    if (mask.vertices.size() < 2) throw vertices.expected("at least 2 vertices");
    return mask;
}

// The layer's type and whether it is a text layer: a text layer is an image layer whose file holds
// the rendered text.
void parseLayerType(const JsonField& field, Layer& layer) {
    std::string text = field.string();
    layer.isText = text == "text";
    if (text == "image" || text == "text")
        layer.type = LayerType::Image;
    else if (text == "solid")
        layer.type = LayerType::Solid;
    else if (text == "effect")
        layer.type = LayerType::Effect;
    else if (text == "light")
        layer.type = LayerType::Light;
    else if (text == "camera")
        layer.type = LayerType::Camera;
    else
        throw field.expected("\"image\", \"text\", \"solid\", \"effect\", \"light\" or \"camera\", got \"" + text +
                             "\"");
}

std::vector<std::string> knownLayerFields(LayerType type) {
    std::vector<std::string> common{"type", "name", "start"};
    std::vector<std::string> visual{"visible", "motionBlur", "position", "anchor", "scale"};
    auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    switch (type) {
        case LayerType::Image:
            return join(join(common, visual), {"file", "contentMargin"});
        case LayerType::Solid:
            return join(join(common, visual), {"color", "width", "height"});
        case LayerType::Effect:
            return join(join(common, visual), {"width", "height", "params", "masks"});
        case LayerType::Light:
            return join(common, {"position", "color", "intensity"});
        case LayerType::Camera:
            return join(common, {"position", "pointOfInterest", "zoom"});
    }
    return common;
}

int layerSize(const JsonField& layer, const char* key, int fallback) {
    auto field = layer.find(key);
    if (!field) return fallback;
    int v = field->integerAtLeast(1);
    if (v > 30000) throw field->expected("a size of at most 30000 pixels");
    return v;
}

Layer parseLayer(const JsonField& field, int index, const Composition& comp, const std::string& baseDirectory,
                 Scene& scene) {
    if (!field.isObject()) throw field.expected("a layer object with a \"type\"");
    Layer layer;
    parseLayerType(field.at("type"), layer);
    field.requireObject(knownLayerFields(layer.type));
    std::string typeWord = layer.isText ? "text" : minihost::layerTypeName(layer.type);
    typeWord[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(typeWord[0])));
    layer.name = field.has("name") ? field.at("name").string() : typeWord + " " + std::to_string(index + 1);
    if (auto start = field.find("start")) layer.startSeconds = comp.secondsOfFrame(start->number());
    if (auto visible = field.find("visible")) layer.isVisible = visible->boolean();
    if (auto blur = field.find("motionBlur")) layer.hasMotionBlur = blur->boolean();

    switch (layer.type) {
        case LayerType::Image: {
            JsonField file = field.at("file");
            std::filesystem::path path(file.string());
            if (path.is_relative() && !baseDirectory.empty()) path = std::filesystem::path(baseDirectory) / path;
            layer.imagePath = path.string();
            try {
                layer.image = std::make_shared<minihost::RgbaImage>(readPngImage(layer.imagePath));
            } catch (const RuntimeFailure& failure) {
                throw file.error(failure.what());
            }
            layer.width = layer.image->width;
            layer.height = layer.image->height;
            if (auto margin = field.find("contentMargin")) {
                // The content, margin included, is one world; keep it within the sizes layers may have.
                layer.contentMargin = margin->integerAtLeast(0);
                if (layer.contentMargin > 10000 ||
                    std::max(layer.width, layer.height) + 2 * layer.contentMargin > 30000)
                    throw margin->expected(
                        "a margin of at most 10000 pixels that keeps the content within 30000 pixels");
            }
            break;
        }
        case LayerType::Solid:
            layer.solidColor = parseColour(field.at("color"));
            layer.width = layerSize(field, "width", comp.width);
            layer.height = layerSize(field, "height", comp.height);
            break;
        case LayerType::Effect:
            layer.width = layerSize(field, "width", comp.width);
            layer.height = layerSize(field, "height", comp.height);
            if (auto masks = field.find("masks")) {
                int number = 1;
                for (const JsonField& m : masks->items()) layer.masks.push_back(parseMask(m, number++));
            }
            if (auto params = field.find("params")) {
                for (const auto& [key, value] : params->members())
                    scene.params.push_back(parseParamSetting(key, value, comp));
            }
            break;
        case LayerType::Light:
            if (auto colour = field.find("color")) layer.lightColor = parseColour(*colour);
            if (auto intensity = field.find("intensity"))
                layer.lightIntensity =
                    parseAnimated<double>(*intensity, comp, [](const JsonField& f) { return f.numberIn(0, 100000); });
            break;
        case LayerType::Camera:
            layer.pointOfInterest = comp.defaultPointOfInterest();
            layer.zoom = comp.defaultZoom();
            if (auto poi = field.find("pointOfInterest"))
                layer.pointOfInterest =
                    parseAnimated<Vec3>(*poi, comp, [](const JsonField& f) { return parseVec(f, 0.0); });
            if (auto zoom = field.find("zoom"))
                layer.zoom = parseAnimated<double>(*zoom, comp, [](const JsonField& f) { return f.numberIn(1, 1e6); });
            break;
    }

    // Placement defaults: a visual layer's anchor at its centre and its position at the
    // composition's centre; a light in front of the centre; a camera where the default camera is.
    const bool isVisual = layer.isAudioVisual();
    layer.anchor = Vec3{layer.width / 2.0, layer.height / 2.0, 0};
    if (layer.type == LayerType::Camera)
        layer.position = comp.defaultCameraPosition();
    else if (layer.type == LayerType::Light)
        layer.position = Vec3{comp.width / 2.0, comp.height / 2.0, -comp.width / 2.0};
    else
        layer.position = Vec3{comp.width / 2.0, comp.height / 2.0, 0};
    auto vec = [](const JsonField& f) { return parseVec(f, 0.0); };
    if (auto position = field.find("position")) layer.position = parseAnimated<Vec3>(*position, comp, vec);
    if (isVisual) {
        if (auto anchor = field.find("anchor")) layer.anchor = parseAnimated<Vec3>(*anchor, comp, vec);
        if (auto scale = field.find("scale")) layer.scale = parseAnimated<Vec3>(*scale, comp, parseScale);
    }
    return layer;
}

void parseComposition(const JsonField& field, Composition& comp) {
    field.requireObject({"width", "height", "frameRate", "duration", "motionBlur", "shutterAngle", "shutterPhase"});
    auto size = [&](const char* key, int fallback) {
        auto f = field.find(key);
        if (!f) return fallback;
        int v = f->integerAtLeast(1);
        // The host reports the camera's image plane in 16-bit numbers.
        if (v > 30000) throw f->expected("a size of at most 30000 pixels");
        return v;
    };
    comp.width = size("width", comp.width);
    comp.height = size("height", comp.height);
    if (auto rate = field.find("frameRate")) setFrameRate(*rate, comp);
    if (auto duration = field.find("duration")) comp.durationFrames = duration->integerAtLeast(1);
    if (auto blur = field.find("motionBlur")) comp.hasMotionBlur = blur->boolean();
    if (auto angle = field.find("shutterAngle")) comp.shutterAngleDegrees = angle->numberIn(0, 720);
    if (auto phase = field.find("shutterPhase")) comp.shutterPhaseDegrees = phase->numberIn(-360, 360);
}

void parseOutput(const JsonField& field, OutputSettings& output) {
    field.requireObject({"frames", "format", "directory", "prefix", "background", "video", "vdb"});
    if (auto frames = field.find("frames")) {
        if (frames->isArray()) {
            std::vector<double> range = frames->numbers(2, 2);
            output.frames = parseFrameRange(
                std::to_string(std::lround(range[0])) + "-" + std::to_string(std::lround(range[1])), frames->where());
        } else {
            output.frames = parseFrameRange(frames->isNumber() ? std::to_string(frames->integer()) : frames->string(),
                                            frames->where());
        }
    }
    if (auto format = field.find("format")) {
        try {
            output.format = parseOutputFormat(format->string());
        } catch (const UsageError& e) {
            throw format->error(e.what());
        }
    }
    if (auto directory = field.find("directory")) output.directory = directory->string();
    if (auto prefix = field.find("prefix")) {
        output.prefix = prefix->string();
        if (output.prefix.empty() || output.prefix.find('/') != std::string::npos ||
            output.prefix.find('%') != std::string::npos)
            throw prefix->expected("a file name prefix without '/' or '%'");
    }
    if (auto background = field.find("background")) {
        output.hasBackground = true;
        output.background = background->isArray() ? std::optional<Rgb>(parseColour(*background))
                                                  : parseBackground(background->string(), background->where());
    }
    if (auto video = field.find("video")) output.video = video->string();
    if (auto vdb = field.find("vdb")) {
        output.vdbDirectory = vdb->string();
        if (output.vdbDirectory.empty()) throw vdb->expected("a folder for the OpenVDB volumes");
    }
}

}  // namespace

Scene parseScene(const std::string& text, const std::string& source, const std::string& baseDirectory) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        // The library's message carries the line and column of the fault. A number too large for a
        // double ("1e400") is reported as out_of_range rather than parse_error, and is as much a bad
        // file: both are the scene's fault, exit status 2, not a failure while rendering.
        std::string message = e.what();
        std::size_t detail = message.find("parse error");
        if (detail == std::string::npos) detail = message.find("] ") == std::string::npos ? 0 : message.find("] ") + 2;
        throw UsageError(source + ": not valid JSON: " + message.substr(detail));
    }
    Scene scene;
    scene.source = source;
    JsonField top(root, source);
    top.requireObject({"description", "composition", "preset", "layers", "output"});
    Composition& comp = *scene.composition;
    if (auto composition = top.find("composition")) parseComposition(*composition, comp);

    if (auto layers = top.find("layers")) {
        std::vector<JsonField> items = layers->items();
        std::set<std::string> names;
        for (std::size_t i = 0; i < items.size(); ++i) {
            Layer layer = parseLayer(items[i], static_cast<int>(i), comp, baseDirectory, scene);
            if (!names.insert(layer.name).second)
                throw items[i].error("the name \"" + layer.name +
                                     "\" is already another layer's; layer names must differ");
            comp.addLayer(std::move(layer));
        }
        int effects = static_cast<int>(std::count_if(comp.layers().begin(), comp.layers().end(),
                                                     [](const Layer& l) { return l.type == LayerType::Effect; }));
        if (effects != 1)
            throw layers->expected("exactly one layer of type \"effect\" (the layer the effect is applied to), found " +
                                   std::to_string(effects));
    } else {
        Layer effect;
        effect.type = LayerType::Effect;
        effect.name = "Effect 1";
        effect.width = comp.width;
        effect.height = comp.height;
        effect.anchor = Vec3{comp.width / 2.0, comp.height / 2.0, 0};
        effect.position = Vec3{comp.width / 2.0, comp.height / 2.0, 0};
        comp.addLayer(std::move(effect));
    }
    if (auto preset = top.find("preset")) {
        // The preset goes first, so that the effect layer's own parameters, applied after it,
        // win over what it writes.
        if (!preset->isString()) throw preset->expected("the name of a preset (see cindel presets)");
        ParamSetting setting;
        setting.reference = "Preset";
        setting.where = preset->where();
        setting.constant = minihost::ParamInput::ofText(preset->string());
        scene.params.insert(scene.params.begin(), setting);
    }
    if (auto output = top.find("output")) parseOutput(*output, scene.output);
    if (scene.output.frames && scene.output.frames->last >= comp.durationFrames)
        throw JsonField(root, source, "output.frames")
            .error("frame " + std::to_string(scene.output.frames->last) + " is past the composition's last frame " +
                   std::to_string(comp.durationFrames - 1));
    return scene;
}

Scene loadSceneFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError(path + ": cannot open the scene file: " + std::strerror(errno));
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw UsageError(path + ": cannot read the scene file: " + std::strerror(errno));
    std::string base = std::filesystem::path(path).parent_path().string();
    return parseScene(text.str(), path, base);
}

Scene defaultScene() {
    return parseScene(defaultSceneText(), "built-in default scene", "");
}

}  // namespace cli
