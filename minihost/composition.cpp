// Layer stack queries, transforms and cameras of the composition model.
#include "minihost/composition.h"

#include <cmath>

#include "minihost/host_error.h"

namespace minihost {

namespace {

Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double length(Vec3 v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

Vec3 normalised(Vec3 v) {
    double n = length(v);
    return n > 0 ? v * (1.0 / n) : v;
}

void setRow(Matrix4& matrix, int row, Vec3 v) {
    matrix.m[row][0] = v.x;
    matrix.m[row][1] = v.y;
    matrix.m[row][2] = v.z;
}

// Rows right, down, forward, position of a camera at `eye` looking at `target`. The host's up is -y,
// so "down" (+y on the screen) is the second axis; looking straight up or down falls back to the
// x axis as right.
Matrix4 lookAt(Vec3 eye, Vec3 target) {
    Vec3 forward = normalised(target - eye);
    if (length(forward) == 0) forward = Vec3{0, 0, 1};
    Vec3 right = cross(Vec3{0, 1, 0}, forward);
    right = length(right) < 1e-12 ? Vec3{1, 0, 0} : normalised(right);
    Vec3 down = cross(forward, right);
    Matrix4 matrix;
    setRow(matrix, 0, right);
    setRow(matrix, 1, down);
    setRow(matrix, 2, forward);
    setRow(matrix, 3, eye);
    return matrix;
}

}  // namespace

const char* layerTypeName(LayerType type) {
    switch (type) {
        case LayerType::Image:
            return "image";
        case LayerType::Solid:
            return "solid";
        case LayerType::Effect:
            return "effect";
        case LayerType::Light:
            return "light";
        case LayerType::Camera:
            return "camera";
    }
    return "unknown";
}

int Mask::segmentCount() const {
    int n = static_cast<int>(vertices.size());
    if (n < 2) return 0;
    return isClosed ? n : n - 1;
}

ObjectType Layer::objectType() const {
    switch (type) {
        case LayerType::Light:
            return ObjectType::Light;
        case LayerType::Camera:
            return ObjectType::Camera;
        case LayerType::Image:
            return isText ? ObjectType::Text : ObjectType::AudioVisual;
        default:
            return ObjectType::AudioVisual;
    }
}

Layer& Composition::addLayer(Layer layer) {
    layer.id = nextId_++;
    layers_.push_back(std::move(layer));
    return layers_.back();
}

Layer& Composition::layer(int index) {
    if (index < 0 || index >= layerCount())
        throw HostError("composition: no layer " + std::to_string(index) + " (it has " + std::to_string(layerCount()) +
                        ")");
    return layers_[static_cast<std::size_t>(index)];
}

const Layer& Composition::layer(int index) const {
    return const_cast<Composition*>(this)->layer(index);
}

const Layer* Composition::layerById(int id) const {
    int index = indexOf(id);
    return index < 0 ? nullptr : &layers_[static_cast<std::size_t>(index)];
}

Layer* Composition::layerById(int id) {
    int index = indexOf(id);
    return index < 0 ? nullptr : &layers_[static_cast<std::size_t>(index)];
}

int Composition::indexOf(int id) const {
    for (std::size_t i = 0; i < layers_.size(); ++i)
        if (layers_[i].id == id && id != 0) return static_cast<int>(i);
    return -1;
}

const Layer* Composition::findByName(const std::string& name) const {
    for (const Layer& l : layers_)
        if (l.name == name) return &l;
    return nullptr;
}

const Layer* Composition::effectLayer() const {
    for (const Layer& l : layers_)
        if (l.type == LayerType::Effect) return &l;
    return nullptr;
}

Layer* Composition::effectLayer() {
    for (Layer& l : layers_)
        if (l.type == LayerType::Effect) return &l;
    return nullptr;
}

std::vector<const Layer*> Composition::lights() const {
    std::vector<const Layer*> found;
    for (const Layer& l : layers_)
        if (l.type == LayerType::Light) found.push_back(&l);
    return found;
}

Matrix4 Composition::layerToWorld(const Layer& layer, double compSeconds) const {
    Vec3 position = layer.position.at(compSeconds);
    if (layer.type == LayerType::Camera) return lookAt(position, layer.pointOfInterest.at(compSeconds));
    Matrix4 matrix;
    if (layer.type == LayerType::Light) {
        setRow(matrix, 3, position);
        return matrix;
    }
    Vec3 anchor = layer.anchor.at(compSeconds);
    Vec3 scale = layer.scale.at(compSeconds) * 0.01;
    matrix.m[0][0] = scale.x;
    matrix.m[1][1] = scale.y;
    matrix.m[2][2] = scale.z;
    setRow(matrix, 3,
           Vec3{position.x - anchor.x * scale.x, position.y - anchor.y * scale.y, position.z - anchor.z * scale.z});
    return matrix;
}

Vec3 Composition::defaultCameraPosition() const {
    return Vec3{width / 2.0, height / 2.0, -defaultZoom()};
}

Vec3 Composition::defaultPointOfInterest() const {
    return Vec3{width / 2.0, height / 2.0, 0.0};
}

EffectCamera Composition::defaultCamera() const {
    EffectCamera camera;
    camera.matrix = lookAt(defaultCameraPosition(), defaultPointOfInterest());
    camera.distance = defaultZoom();
    camera.planeWidth = width;
    camera.planeHeight = height;
    return camera;
}

EffectCamera Composition::cameraOf(const Layer& camera, double compSeconds) const {
    EffectCamera result;
    result.matrix = layerToWorld(camera, compSeconds);
    result.distance = camera.zoom.at(compSeconds);
    result.planeWidth = width;
    result.planeHeight = height;
    return result;
}

const Layer* Composition::effectCameraLayer(double compSeconds) const {
    for (const Layer& l : layers_)
        if (l.type == LayerType::Camera && l.isActiveAt(compSeconds)) return &l;
    return nullptr;
}

EffectCamera Composition::effectCamera(double compSeconds) const {
    const Layer* camera = effectCameraLayer(compSeconds);
    return camera ? cameraOf(*camera, compSeconds) : defaultCamera();
}

void Composition::resize(int newWidth, int newHeight) {
    if (newWidth <= 0 || newHeight <= 0)
        throw HostError("composition: size " + std::to_string(newWidth) + " x " + std::to_string(newHeight) +
                        " is not positive");
    const double sx = double(newWidth) / width;
    const double sy = double(newHeight) / height;
    auto scalePoint = [&](Vec3 v) { return Vec3{v.x * sx, v.y * sy, v.z * sx}; };
    for (Layer& l : layers_) {
        l.position.transform(scalePoint);
        switch (l.type) {
            case LayerType::Image:
                // The file's pixels keep their size; the layer's scale grows instead.
                l.scale.transform([&](Vec3 s) { return Vec3{s.x * sx, s.y * sy, s.z * sx}; });
                break;
            case LayerType::Solid:
            case LayerType::Effect:
                l.width = static_cast<int>(std::lround(l.width * sx));
                l.height = static_cast<int>(std::lround(l.height * sy));
                l.anchor.transform(scalePoint);
                for (Mask& mask : l.masks) {
                    for (MaskVertex& v : mask.vertices) {
                        v.x *= sx, v.inTangentX *= sx, v.outTangentX *= sx;
                        v.y *= sy, v.inTangentY *= sy, v.outTangentY *= sy;
                    }
                }
                break;
            case LayerType::Camera:
                l.pointOfInterest.transform(scalePoint);
                l.zoom.transform([&](double z) { return z * sx; });
                break;
            case LayerType::Light:
                break;
        }
    }
    width = newWidth;
    height = newHeight;
}

}  // namespace minihost
