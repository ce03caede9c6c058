// Guards for the host handles the emitter captures take (effects, streams, stream values, masks)
// and the plain 2-D read of a layer stream they share. A guard gives its handle back however the
// capture ends; the suite it calls must have been acquired before the handle existed, so giving it
// back cannot throw.
#pragma once

#include <cmath>

#include "AE_GeneralPlug.h"

namespace cindel {

struct EffectGuard {
    const AEGP_EffectSuite4* suite;
    AEGP_EffectRefH handle = nullptr;
    ~EffectGuard() {
        if (handle) suite->AEGP_DisposeEffect(handle);
    }
};

struct StreamGuard {
    const AEGP_StreamSuite6* suite;
    AEGP_StreamRefH handle = nullptr;
    ~StreamGuard() {
        if (handle) suite->AEGP_DisposeStream(handle);
    }
};

struct StreamValueGuard {
    const AEGP_StreamSuite6* suite;
    AEGP_StreamValue2 value{};
    bool isHeld = false;
    ~StreamValueGuard() {
        if (isHeld) suite->AEGP_DisposeStreamValue(&value);
    }
};

struct MaskGuard {
    const AEGP_MaskSuite6* suite;
    AEGP_MaskRefH handle = nullptr;
    ~MaskGuard() {
        if (handle) suite->AEGP_DisposeMask(handle);
    }
};

// x and y of a layer's position, scale or anchor point at a composition time. Those streams are
// 3-D; a 2-D answer shares the leading x and y. False when the host refuses or a value is not
// finite.
inline bool readLayerTwoD(const AEGP_StreamSuite6* streams, AEGP_LayerH layer, AEGP_LayerStream which,
                          const A_Time& compTime, double& x, double& y) {
    AEGP_StreamVal2 val{};
    AEGP_StreamType type = AEGP_StreamType_NO_DATA;
    if (streams->AEGP_GetLayerStreamValue(layer, which, AEGP_LTimeMode_CompTime, &compTime, false, &val, &type) !=
        A_Err_NONE) {
        return false;
    }
    x = val.three_d.x;
    y = val.three_d.y;
    return std::isfinite(x) && std::isfinite(y);
}

}  // namespace cindel
