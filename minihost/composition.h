// The composition model of minihost: what the host application knows about the composition an
// effect is applied in, kept so that every question the effect asks the host about it can be
// answered here.
//
// A Composition has a size, a frame rate (a time scale and a time step in the host's units), a
// duration in frames, motion-blur settings and a stack of layers, top first (index 0). Layers are
// image layers (pixels from a file), solids, the effect's own layer (which carries the effect's
// masks), 3-D lights and 3-D cameras. An image layer can pose as a text layer (its pixels are the
// rendered glyphs), and image layers can carry content beyond their bounds, as the host's text
// and shape layers do; the effect learns of it from the layer's maximum rectangle. Every layer
// has an id that is unique and never 0, a start time (where its own time 0 lies in the
// composition), and keyframable anchor point, position and scale; lights add a colour and an
// intensity, cameras a point of interest and a zoom.
//
// Queries answered here, in composition seconds: layers by index and by id, their object types,
// layer-to-world transforms, stream values (position, scale, anchor point, light colour and
// intensity), the effect camera, mask outlines, the effect layer's dynamic stream flags and the
// layer and composition motion-blur flags. The effect parameters' own keyframes live in the
// Instance's parameter streams.
//
// Conventions are the host's: pixels with +y down, z into the screen; scale in percent; matrices
// act on row vectors (p_world = p_layer × M), so the translation is row 3 and a camera's rows are
// its right, down and forward axes followed by its position.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "minihost/animated.h"
#include "minihost/rgba_image.h"

namespace minihost {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};
inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double k) {
    return {a.x * k, a.y * k, a.z * k};
}
inline bool operator==(Vec3 a, Vec3 b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// Linear colour channels, 1.0 = full.
struct Rgb {
    double red = 0, green = 0, blue = 0;
};

struct Matrix4 {
    double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    Vec3 translation() const { return {m[3][0], m[3][1], m[3][2]}; }
};

enum class LayerType { Image, Solid, Effect, Light, Camera };
// The host's classes of layer object; image, solid and effect layers are all audio-visual ones.
enum class ObjectType { AudioVisual, Light, Camera, Text, Vector };

const char* layerTypeName(LayerType type);

// One vertex of a mask outline, as the host hands it out: a point in layer pixels and its in and
// out tangents relative to it.
struct MaskVertex {
    double x = 0, y = 0;
    double inTangentX = 0, inTangentY = 0;
    double outTangentX = 0, outTangentY = 0;
};

struct Mask {
    std::string name;
    bool isClosed = true;
    std::vector<MaskVertex> vertices;

    // Segments as the host counts them: one per vertex when closed, one fewer when open.
    int segmentCount() const;
};

// What the host returns for the effect camera at a time: the camera-to-world matrix, the distance
// to the image plane (the zoom) and the plane's size in pixels.
struct EffectCamera {
    Matrix4 matrix;
    double distance = 0;
    int planeWidth = 0;
    int planeHeight = 0;
};

struct Layer {
    LayerType type = LayerType::Solid;
    std::string name;
    int id = 0;
    double startSeconds = 0;  // the composition time of the layer's time 0
    bool isVisible = true;
    bool hasMotionBlur = false;
    Animated<Vec3> anchor;  // layer pixels
    Animated<Vec3> position;
    Animated<Vec3> scale{Vec3{100, 100, 100}};

    // Audio-visual layers: the layer's own size (an image's file size, a solid's size, the effect
    // layer's size, which is the composition's unless set).
    int width = 0;
    int height = 0;
    std::shared_ptr<const RgbaImage> image;  // image layers
    std::string imagePath;
    bool isText = false;    // image layers: a text layer whose glyphs are the image's pixels
    int contentMargin = 0;  // image layers: pixels of (transparent) content past every edge
    Rgb solidColor;

    // Lights.
    Rgb lightColor{1, 1, 1};
    Animated<double> lightIntensity{100.0};  // percent

    // Cameras.
    Animated<Vec3> pointOfInterest;
    Animated<double> zoom;  // pixels

    // The effect's layer.
    std::vector<Mask> masks;
    std::map<int, std::uint32_t> dynamicStreamFlags;  // by effect parameter index, as the effect set them

    ObjectType objectType() const;
    // Layers with pixels. Text layers are audio-visual layers too, as in the host; only their
    // object type tells them apart.
    bool isAudioVisual() const {
        return type == LayerType::Image || type == LayerType::Solid || type == LayerType::Effect;
    }
    // The layer's time for a composition time.
    double layerSeconds(double compSeconds) const { return compSeconds - startSeconds; }
    bool isActiveAt(double compSeconds) const { return compSeconds >= startSeconds; }
};

class Composition {
public:
    static constexpr double kDefaultZoomPerWidth = 1.39;  // the default camera's zoom ÷ composition width

    int width = 960;
    int height = 540;
    A_u_long timeScale = 30;  // frames per second = timeScale / timeStep
    A_long timeStep = 1;
    int durationFrames = 90;
    bool hasMotionBlur = false;  // the composition's motion-blur switch
    double shutterAngleDegrees = 180;
    double shutterPhaseDegrees = 0;

    double framesPerSecond() const { return double(timeScale) / double(timeStep); }
    double secondsOfFrame(double frame) const { return frame * double(timeStep) / double(timeScale); }

    // Appends a layer at the bottom of the stack and gives it the next free id.
    Layer& addLayer(Layer layer);
    int layerCount() const { return static_cast<int>(layers_.size()); }
    Layer& layer(int index);  // 0 is the top; throws HostError outside the stack
    const Layer& layer(int index) const;
    const Layer* layerById(int id) const;
    Layer* layerById(int id);
    int indexOf(int id) const;  // -1 for an unknown id
    const Layer* findByName(const std::string& name) const;
    const Layer* effectLayer() const;  // the first layer of type Effect, or null
    Layer* effectLayer();
    const std::vector<Layer>& layers() const { return layers_; }
    // The light layers from the top down.
    std::vector<const Layer*> lights() const;

    // The host's layer-to-world transform: anchor point to the origin, scale, then position; a
    // camera is turned to look at its point of interest and a light keeps no rotation.
    Matrix4 layerToWorld(const Layer& layer, double compSeconds) const;

    // The camera the effect sees at a time: the topmost camera layer active then, else the default
    // camera of defaultCamera().
    EffectCamera effectCamera(double compSeconds) const;
    // That camera layer; null when the default camera applies.
    const Layer* effectCameraLayer(double compSeconds) const;
    // The composition's default camera: at (w/2, h/2, -1.39 w) looking along +z at the centre of
    // the plane z = 0, zoom 1.39 w, so that plane maps pixel for pixel onto the composition.
    EffectCamera defaultCamera() const;
    // The camera of a camera layer at a time.
    EffectCamera cameraOf(const Layer& camera, double compSeconds) const;

    // Defaults for a new camera layer that make it the default camera.
    Vec3 defaultCameraPosition() const;
    Vec3 defaultPointOfInterest() const;
    double defaultZoom() const { return kDefaultZoomPerWidth * width; }

    // Changes the size to newWidth × newHeight and scales every position in the composition with
    // it (x by the width ratio, y by the height ratio, z and zooms by the width ratio): a layer's
    // position, a solid's and the effect layer's size and anchor, the effect layer's masks, image
    // layers' scale (their pixels keep their size), lights and cameras.
    void resize(int newWidth, int newHeight);

private:
    std::vector<Layer> layers_;
    int nextId_ = 1;
};

}  // namespace minihost
