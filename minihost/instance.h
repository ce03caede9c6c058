// One applied effect as the host keeps it: its sequence data handle, its layer (size, input
// pixels), the layers chosen in its layer parameters, a value stream per parameter, and the log
// of what the effect checked out. A Host owns its Instances; tests reach them by reference.
//
// The checkout log is how tests see how the effect reads the host: every checkout_param call with
// the time it asked for and its result, every checkin, and which checkouts were never checked in.
// The layer log does the same for pre-render's checkout_layer and smart render's pixel checkouts.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "AE_EffectCB.h"
#include "minihost/param_stream.h"
#include "minihost/world.h"

namespace minihost {

class Host;
class Instance;

// What a layer parameter (or the effect's own input, index 0) points at. The World is not owned
// and must outlive its use. maxRect is the layer's extent in the effect layer's coordinates; left
// empty it is the world's bounds. A world as large as maxRect holds the whole extent, and a
// smart render then gets the part of it that the checkout's result_rect covers (a layer whose
// content reaches past its bounds has a maxRect larger than its own size). refWidth and refHeight
// are the layer's size before effects; 0 means the world's size. layerId is the composition layer
// the pixels came from, the value the host gives for the parameter's stream (0: none).
struct LayerSource {
    World* world = nullptr;
    PF_LRect maxRect{0, 0, 0, 0};
    A_long refWidth = 0;
    A_long refHeight = 0;
    int layerId = 0;

    PF_LRect extent() const;
    A_long referenceWidth() const;
    A_long referenceHeight() const;
};

struct ParamCheckout {
    PF_ParamIndex index = 0;
    A_long whatTime = 0;
    A_long timeStep = 0;
    A_u_long timeScale = 0;
    PF_Err result = PF_Err_NONE;
};

class CheckoutLog {
public:
    int checkouts(PF_ParamIndex index) const;  // every call for the index, failed ones included
    int failedCheckouts(PF_ParamIndex index) const;
    int checkins(PF_ParamIndex index) const;
    int totalCheckouts() const { return static_cast<int>(calls_.size()); }
    int totalCheckins() const { return totalCheckins_; }
    // Successful checkouts not yet checked in, for one index or all.
    int outstanding(PF_ParamIndex index) const;
    int outstanding() const { return static_cast<int>(open_.size()); }
    // checkin_param calls with a PF_ParamDef that no open checkout filled.
    int unmatchedCheckins() const { return unmatchedCheckins_; }
    std::vector<HostTime> times(PF_ParamIndex index) const;  // the times asked, in call order
    const std::vector<ParamCheckout>& calls() const { return calls_; }
    void clear();

    void recordCheckout(const ParamCheckout& call, const PF_ParamDef* filled);
    void recordCheckin(const PF_ParamDef* param);

private:
    std::vector<ParamCheckout> calls_;
    std::multimap<const PF_ParamDef*, PF_ParamIndex> open_;
    std::map<PF_ParamIndex, int> checkins_;
    int totalCheckins_ = 0;
    int unmatchedCheckins_ = 0;
};

// One checkout_layer call of a pre-render, with the host's answer.
struct LayerCheckout {
    PF_ParamIndex index = 0;
    A_long checkoutId = 0;
    PF_RenderRequest request{};
    A_long whatTime = 0;
    A_long timeStep = 0;
    A_u_long timeScale = 0;
    PF_Err result = PF_Err_NONE;
    PF_CheckoutResult answer{};
};

// One checkout_layer_pixels call of a smart render. The world covers exactly the checkout's
// result_rect: the layer's own World when that is the whole extent, else a copy of the part.
struct PixelCheckout {
    A_long checkoutId = 0;
    PF_Err result = PF_Err_NONE;
    const PF_EffectWorld* world = nullptr;  // what the effect was given; null for no pixels
    bool checkedIn = false;
};

// What the host's effect_ref points at: which Host and which instance a callback is about. A
// callback given any other pointer answers PF_Err_BAD_CALLBACK_PARAM.
struct EffectRef {
    static constexpr std::uint32_t kMagic = 0x6d686f73;
    std::uint32_t magic = kMagic;
    Host* host = nullptr;
    Instance* instance = nullptr;  // null for commands that concern no instance
};

class Instance {
public:
    Instance(Host& host, int id, A_long layerWidth, A_long layerHeight);
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    int id() const { return id_; }  // 1, 2, 3 … in the order the host made its instances
    A_long layerWidth() const { return layerWidth_; }
    A_long layerHeight() const { return layerHeight_; }
    void setLayerSize(A_long width, A_long height);
    // The id of the composition layer the effect is applied to (0: none); see Host::composition().
    int layerId() const { return layerId_; }
    void setLayerId(int id) { layerId_ = id; }

    PF_Handle sequenceData() const { return sequenceData_; }
    void setSequenceData(PF_Handle handle) { sequenceData_ = handle; }
    // The sequence data's bytes, for tests that read what the effect stored (empty without data).
    std::vector<std::uint8_t> sequenceBytes() const;

    // Parameter streams. Indices are the host's; an unknown index throws HostError.
    ParamStream& param(PF_ParamIndex index);
    void set(PF_ParamIndex index, const ParamValue& value) { param(index).set(value); }
    void setUnchecked(PF_ParamIndex index, const ParamValue& value) { param(index).setUnchecked(value); }
    void addKeyframe(PF_ParamIndex index, HostTime time, const ParamValue& value,
                     Interpolation interpolation = Interpolation::Linear) {
        param(index).addKeyframe(time, value, interpolation);
    }
    void setFloat(PF_ParamIndex index, double value) { set(index, ParamValue::floatSlider(value)); }
    void setPopup(PF_ParamIndex index, A_long choice) { set(index, ParamValue::popup(choice)); }
    void setCheckbox(PF_ParamIndex index, bool checked) { set(index, ParamValue::checkbox(checked)); }
    void setAngle(PF_ParamIndex index, double degrees) { set(index, ParamValue::angleDegrees(degrees)); }
    void setColor(PF_ParamIndex index, A_u_char red, A_u_char green, A_u_char blue) {
        set(index, ParamValue::color(red, green, blue));
    }
    void setPoint3D(PF_ParamIndex index, double x, double y, double z) { set(index, ParamValue::point3D(x, y, z)); }
    // The stream's value at a time, in full-resolution layer pixels.
    ParamValue valueAt(PF_ParamIndex index, HostTime time);

    // Fills a PF_ParamDef as checkout_param does: the registered definition with the value at
    // the time, points scaled by the downsample factors, layers as their worlds.
    void fillCheckedOut(PF_ParamIndex index, HostTime time, const PF_RationalScale& downsampleX,
                        const PF_RationalScale& downsampleY, PF_ParamDef* out);
    // Takes a value the effect wrote into a PF_ParamDef back into the stream at a time (keyframed
    // streams get a key there), undoing the downsample scaling of points.
    void takeChangedValue(PF_ParamIndex index, HostTime time, const PF_RationalScale& downsampleX,
                          const PF_RationalScale& downsampleY, const PF_ParamDef& changed);

    // Layers. Index 0 is the effect's own input; without one the host gives a transparent 8-bit
    // world of the layer's size.
    void setInputLayer(World& world);
    void setLayer(PF_ParamIndex index, World& world);
    void setLayer(PF_ParamIndex index, const LayerSource& source);
    void clearLayer(PF_ParamIndex index);
    const LayerSource* layer(PF_ParamIndex index);  // null when the parameter has no layer

    // The AEGP dynamic stream flags the effect set on a parameter (AEGP_DynStreamFlag_HIDDEN and
    // the like); 0 for a parameter it never touched.
    std::uint32_t dynamicStreamFlags(PF_ParamIndex index) const;
    void setDynamicStreamFlag(PF_ParamIndex index, std::uint32_t flag, bool isSet);
    bool isHidden(PF_ParamIndex index) const;
    // Parameters whose keyframes the effect edited through the AEGP Keyframe Suite in the command
    // in flight; their keyframes then win over a value handed back in the parameter array.
    void noteKeyframeEdit(PF_ParamIndex index) { keyframeEdits_.push_back(index); }

    CheckoutLog& checkouts() { return checkouts_; }
    const std::vector<LayerCheckout>& layerCheckouts() const { return layerCheckouts_; }
    const std::vector<PixelCheckout>& pixelCheckouts() const { return pixelCheckouts_; }
    int outputCheckouts() const { return outputCheckouts_; }
    // Pixel checkouts of the last smart render that were not checked in.
    int pixelCheckoutsOutstanding() const;

private:
    friend class Host;
    friend struct HostCallbacks;

    void syncStreams();
    void resetStreams() { streams_.clear(); }

    Host& host_;
    int id_;
    int layerId_ = 0;
    EffectRef ref_;
    A_long layerWidth_;
    A_long layerHeight_;
    PF_Handle sequenceData_ = nullptr;
    std::vector<ParamStream> streams_;
    std::map<PF_ParamIndex, LayerSource> layers_;
    std::unique_ptr<World> defaultInput_;
    LayerSource defaultInputSource_;
    CheckoutLog checkouts_;
    std::map<PF_ParamIndex, std::uint32_t> dynamicFlags_;
    std::vector<PF_ParamIndex> keyframeEdits_;

    // The frame in progress: what pre-render checked out and handed back, for the smart render.
    std::vector<LayerCheckout> layerCheckouts_;
    std::vector<PixelCheckout> pixelCheckouts_;
    // Worlds made for pixel checkouts that cover only part of a layer's world; they live until
    // the next frame, as long as the effect may hold them.
    std::vector<std::unique_ptr<World>> partialPixels_;
    int outputCheckouts_ = 0;
    PF_RenderRequest lastRequest_{};
    void* preRenderData_ = nullptr;
    PF_DeletePreRenderDataFunc deletePreRenderData_ = nullptr;
};

}  // namespace minihost
