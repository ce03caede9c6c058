// The effect camera, the key light, the light tracks and the Comp Settings motion-blur scale, read
// from the host's composition through the AEGP suites.
//
// Every read builds its own SuiteHandler inside a catch: a host without one of the suites throws
// at the first use of it, and the read then ends with the fields it owns at their initial values,
// so the frame goes on without the camera or the lights instead of failing. A suite record that
// lacks a function is treated like a host call that failed.
#include "frame/camera_lights.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "frame/frame_timing.h"
#include "host/process_state.h"
#include "host/suite_handler.h"

namespace cindel {

namespace {

template <typename Fn, typename... Args>
A_Err callHost(Fn* fn, Args... args) {
    return fn ? fn(args...) : A_Err_GENERIC;
}

// A double beyond float range cannot be narrowed (undefined behaviour), and a NaN or infinity in a
// light or camera would spread through the whole grid: such values count as a failed read.
bool toFiniteFloat(double v, float& out) {
    if (!std::isfinite(v) || std::fabs(v) > double(std::numeric_limits<float>::max())) return false;
    out = float(v);
    return true;
}

// The translation row of a layer-to-world matrix (row vectors, so row 3).
bool translationOf(const A_Matrix4& m, float& x, float& y, float& z) {
    float tx, ty, tz;
    if (!toFiniteFloat(m.mat[3][0], tx) || !toFiniteFloat(m.mat[3][1], ty) || !toFiniteFloat(m.mat[3][2], tz)) {
        return false;
    }
    x = tx;
    y = ty;
    z = tz;
    return true;
}

bool hasAegpLayer(const PF_InData* inData) {
    return inData && !isPremiere(inData) && processState().aegpPluginId != 0;
}

struct CompositionLights {
    int count = 0;
    AEGP_LayerH layers[kMaxLightTracks] = {};
};

// The first four light layers from the top of the effect layer's composition. The walk stops at
// the fourth: a light further down is never seen, whatever its place. A step the host refuses ends
// the search with what was found so far (nothing when the composition itself cannot be reached).
CompositionLights findCompositionLights(PF_InData* inData, SuiteHandler& suites) {
    CompositionLights lights;
    const AEGP_PFInterfaceSuite1* pf = suites.pfInterfaceSuite1();
    const AEGP_LayerSuite8* layerSuite = suites.layerSuite14();

    AEGP_LayerH effectLayer = nullptr;
    if (callHost(pf->AEGP_GetEffectLayer, inData->effect_ref, &effectLayer) != A_Err_NONE || !effectLayer) {
        return lights;
    }
    AEGP_CompH comp = nullptr;
    if (callHost(layerSuite->AEGP_GetLayerParentComp, effectLayer, &comp) != A_Err_NONE || !comp) return lights;
    A_long layerCount = 0;
    if (callHost(layerSuite->AEGP_GetCompNumLayers, comp, &layerCount) != A_Err_NONE) return lights;

    for (A_long index = 0; index < layerCount && lights.count < kMaxLightTracks; ++index) {
        AEGP_LayerH layer = nullptr;
        if (callHost(layerSuite->AEGP_GetCompLayerByIndex, comp, index, &layer) != A_Err_NONE || !layer) break;
        AEGP_ObjectType type = AEGP_ObjectType_NONE;
        if (callHost(layerSuite->AEGP_GetLayerObjectType, layer, &type) != A_Err_NONE) break;
        if (type == AEGP_ObjectType_LIGHT) lights.layers[lights.count++] = layer;
    }
    return lights;
}

}  // namespace

void readCamera(PF_InData* inData, FrameSettings& fs) {
    fs.cameraValid = 0;
    fs.cameraDistance = 0.0f;
    fs.cameraPlaneWidth = 0;
    fs.cameraPlaneHeight = 0;
    // Unlike the lights, the camera needs no plug-in id: the PF Interface calls take the effect_ref.
    if (!inData || isPremiere(inData)) return;
    try {
        SuiteHandler suites(inData->pica_basicP);
        const AEGP_PFInterfaceSuite1* pf = suites.pfInterfaceSuite1();
        A_Time compTime{0, 1};
        if (callHost(pf->AEGP_ConvertEffectToCompTime, inData->effect_ref, inData->current_time, inData->time_scale,
                     &compTime) != A_Err_NONE) {
            return;
        }
        A_Matrix4 matrix{};
        A_FpLong distance = 0.0;
        A_short planeWidth = 0, planeHeight = 0;
        if (callHost(pf->AEGP_GetEffectCameraMatrix, inData->effect_ref, &compTime, &matrix, &distance, &planeWidth,
                     &planeHeight) != A_Err_NONE) {
            return;
        }
        float narrowed[16];
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 4; ++col) {
                if (!toFiniteFloat(matrix.mat[row][col], narrowed[row * 4 + col])) return;
            }
        }
        float narrowedDistance;
        if (!toFiniteFloat(distance, narrowedDistance)) return;
        std::copy(std::begin(narrowed), std::end(narrowed), fs.cameraMatrix);
        fs.cameraDistance = narrowedDistance;
        fs.cameraPlaneWidth = planeWidth;
        fs.cameraPlaneHeight = planeHeight;
        fs.cameraValid = 1;
    } catch (...) {
        // The camera stays invalid; the renderer falls back to its default view.
    }
}

bool readKeyLight(PF_InData* inData, int lightIndex, KeyLightReading& out) {
    if (lightIndex < 0 || lightIndex >= kMaxLightTracks || !hasAegpLayer(inData)) return false;
    try {
        SuiteHandler suites(inData->pica_basicP);
        const CompositionLights lights = findCompositionLights(inData, suites);
        if (lightIndex >= lights.count) return false;
        AEGP_LayerH light = lights.layers[lightIndex];

        // The host's current time is taken as composition time as it stands, while the light
        // tracks convert theirs: on an effect layer shifted in time the two see the lights at
        // different moments. That is the established behaviour; converting here as well would move
        // the key light of every shifted layer in existing projects.
        const A_Time compTime{inData->current_time, inData->time_scale};
        A_Matrix4 transform{};
        if (callHost(suites.layerSuite14()->AEGP_GetLayerToWorldXform, light, &compTime, &transform) != A_Err_NONE) {
            return false;
        }
        KeyLightReading reading;
        if (!translationOf(transform, reading.x, reading.y, reading.z)) return false;

        const AEGP_StreamSuite6* streams = suites.streamSuite11();
        AEGP_StreamVal2 value{};
        AEGP_StreamType type = AEGP_StreamType_NO_DATA;
        if (callHost(streams->AEGP_GetLayerStreamValue, light, AEGP_LayerStream(AEGP_LayerStream_COLOR),
                     AEGP_LTimeMode(AEGP_LTimeMode_CompTime), &compTime, A_Boolean(false), &value,
                     &type) == A_Err_NONE) {
            float r, g, b;
            if (toFiniteFloat(value.color.redF, r) && toFiniteFloat(value.color.greenF, g) &&
                toFiniteFloat(value.color.blueF, b)) {
                reading.red = r;
                reading.green = g;
                reading.blue = b;
            }
        }
        value = AEGP_StreamVal2{};
        if (callHost(streams->AEGP_GetLayerStreamValue, light, AEGP_LayerStream(AEGP_LayerStream_INTENSITY),
                     AEGP_LTimeMode(AEGP_LTimeMode_CompTime), &compTime, A_Boolean(false), &value,
                     &type) == A_Err_NONE) {
            float intensity;
            if (toFiniteFloat(value.one_d / 100.0, intensity)) reading.intensity = intensity;
        }
        out = reading;
        return true;
    } catch (...) {
        return false;
    }
}

int readLightTracks(PF_InData* inData, int lightSource, int frameCount, FrameSettings& fs) {
    if (lightSource <= 1 || !hasAegpLayer(inData)) return 0;
    const int n = std::clamp(frameCount, 1, kMaxHistoryFrames);
    try {
        SuiteHandler suites(inData->pica_basicP);
        const CompositionLights lights = findCompositionLights(inData, suites);
        if (lights.count == 0) return 0;

        AEGP_LayerH tracks[kMaxLightTracks] = {};
        int trackCount = 0;
        if (lightSource == 2) {
            std::copy(lights.layers, lights.layers + lights.count, tracks);
            trackCount = lights.count;
        } else {
            // Light k of a composition that has fewer lights follows the first one rather than none.
            const int wanted = lightSource - 3;
            tracks[0] = lights.layers[wanted < lights.count ? wanted : 0];
            trackCount = 1;
        }

        // Both suites are in hand before the first entry is written, so a throw cannot leave a
        // half-written track behind.
        const AEGP_PFInterfaceSuite1* pf = suites.pfInterfaceSuite1();
        const AEGP_LayerSuite8* layerSuite = suites.layerSuite14();
        for (int t = 0; t < trackCount; ++t) {
            const int offset = t * kMaxHistoryFrames;
            // One matrix for the whole track and the transform's status unchecked: a frame the host
            // does not answer repeats the previous frame's position (the origin for frame 0).
            A_Matrix4 transform{};
            float x = 0.0f, y = 0.0f, z = 0.0f;
            for (int f = 0; f < n; ++f) {
                const A_long hostTime = historyFrameTime(f, inData->time_step);
                // A conversion the host refuses leaves the host time as it stands, as the key
                // light takes it.
                A_Time compTime{hostTime, inData->time_scale};
                A_Time converted{};
                if (callHost(pf->AEGP_ConvertEffectToCompTime, inData->effect_ref, hostTime, inData->time_scale,
                             &converted) == A_Err_NONE) {
                    compTime = converted;
                }
                callHost(layerSuite->AEGP_GetLayerToWorldXform, tracks[t], &compTime, &transform);
                translationOf(transform, x, y, z);
                fs.lightTrackX[offset + f] = x;
                fs.lightTrackY[offset + f] = y;
                fs.lightTrackZ[offset + f] = z;
            }
            fs.lightCurrentX[t] = fs.lightTrackX[offset + n - 1];
            fs.lightCurrentY[t] = fs.lightTrackY[offset + n - 1];
            fs.lightCurrentZ[t] = fs.lightTrackZ[offset + n - 1];
        }
        return trackCount;
    } catch (...) {
        return 0;
    }
}

float readCompMotionBlurScale(PF_InData* inData) {
    if (!hasAegpLayer(inData)) return 0.0f;
    try {
        SuiteHandler suites(inData->pica_basicP);
        AEGP_LayerH layer = nullptr;
        if (callHost(suites.pfInterfaceSuite1()->AEGP_GetEffectLayer, inData->effect_ref, &layer) != A_Err_NONE ||
            !layer) {
            return 0.0f;
        }
        const AEGP_LayerSuite8* layerSuite = suites.layerSuite14();
        AEGP_LayerFlags layerFlags = 0;
        if (callHost(layerSuite->AEGP_GetLayerFlags, layer, &layerFlags) != A_Err_NONE) return 0.0f;
        if (!(layerFlags & AEGP_LayerFlag_MOTION_BLUR)) return 0.0f;
        AEGP_CompH comp = nullptr;
        if (callHost(layerSuite->AEGP_GetLayerParentComp, layer, &comp) != A_Err_NONE || !comp) return 0.0f;
        AEGP_CompFlags compFlags = 0;
        if (callHost(suites.compSuite25()->AEGP_GetCompFlags, comp, &compFlags) != A_Err_NONE) return 0.0f;
        if (!(compFlags & AEGP_CompFlag_ENABLE_MOTION_BLUR)) return 0.0f;
        // shutter_angle is 16.16 fixed point with 1.0 = 360 degrees; the scale counts 180 degrees as 1.
        return float(double(inData->shutter_angle) / 65536.0 * 2.0);
    } catch (...) {
        return 0.0f;
    }
}

}  // namespace cindel
