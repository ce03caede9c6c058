// Output settings, frame ranges and backgrounds as text, and resizing a scene.
#include "tools/scene.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "tools/errors.h"

namespace cli {

namespace {

bool parseWhole(const std::string& text, int* value) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    *value = std::atoi(text.c_str());
    return true;
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

OutputFormat parseOutputFormat(const std::string& text) {
    std::string t = lowered(text);
    if (t == "png") return OutputFormat::Png8;
    if (t == "png16") return OutputFormat::Png16;
    if (t == "exr") return OutputFormat::ExrHalf;
    if (t == "exr32") return OutputFormat::ExrFloat;
    if (t == "none") return OutputFormat::None;
    throw UsageError("unknown format \"" + text +
                     "\"; expected png, png16, exr (half float), exr32 (float) or none (volumes only)");
}

const char* formatName(OutputFormat format) {
    switch (format) {
        case OutputFormat::Png8:
            return "png";
        case OutputFormat::Png16:
            return "png16";
        case OutputFormat::ExrHalf:
            return "exr";
        case OutputFormat::ExrFloat:
            return "exr32";
        case OutputFormat::None:
            return "none";
    }
    return "?";
}

const char* fileExtension(OutputFormat format) {
    if (format == OutputFormat::None) return "";
    return format == OutputFormat::Png8 || format == OutputFormat::Png16 ? "png" : "exr";
}

int bitsPerChannel(OutputFormat format) {
    switch (format) {
        case OutputFormat::Png8:
            return 8;
        case OutputFormat::Png16:
            return 16;
        case OutputFormat::None:  // nothing is drawn: the smallest world
            return 8;
        default:
            return 32;
    }
}

FrameRange parseFrameRange(const std::string& text, const std::string& what) {
    FrameRange range;
    std::size_t dash = text.find('-');
    bool isValid = dash == std::string::npos ? parseWhole(text, &range.first) && parseWhole(text, &range.last)
                                             : parseWhole(text.substr(0, dash), &range.first) &&
                                                   parseWhole(text.substr(dash + 1), &range.last);
    if (!isValid) throw UsageError(what + ": expected frames as A-B or A (whole numbers from 0), got \"" + text + "\"");
    if (range.last < range.first) throw UsageError(what + ": the range " + text + " ends before it starts");
    return range;
}

std::optional<minihost::Rgb> parseBackground(const std::string& text, const std::string& what) {
    std::string t = lowered(text);
    if (t == "none" || t == "transparent") return std::nullopt;
    if (t == "black") return minihost::Rgb{0, 0, 0};
    if (t == "white") return minihost::Rgb{1, 1, 1};
    if (t == "gray" || t == "grey") return minihost::Rgb{0.5, 0.5, 0.5};
    std::string hex = !t.empty() && t[0] == '#' ? t.substr(1) : t;
    const bool isHex =
        std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    if (isHex && (hex.size() == 6 || hex.size() == 3)) {
        if (hex.size() == 3) hex = {hex[0], hex[0], hex[1], hex[1], hex[2], hex[2]};
        auto channel = [&](int i) { return std::strtol(hex.substr(2 * i, 2).c_str(), nullptr, 16) / 255.0; };
        return minihost::Rgb{channel(0), channel(1), channel(2)};
    }
    throw UsageError(what + ": expected a colour (\"#RRGGBB\", \"#RGB\", black, white, gray) or none, got \"" + text +
                     "\"");
}

void Scene::resize(int width, int height) {
    const double sx = double(width) / composition->width;
    const double sy = double(height) / composition->height;
    composition->resize(width, height);
    pointScaleX *= sx;
    pointScaleY *= sy;
}

}  // namespace cli
