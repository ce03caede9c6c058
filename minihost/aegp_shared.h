// Suite functions that more than one suite record holds: Stream Suite 11 shares its effect-stream
// functions with Stream Suite 7 (aegp_suites.cpp), and PF Interface Suite 1 (aegp_suites.cpp) holds
// the camera reads of aegp_composition_suites.cpp. Internal to minihost; tests call them through
// the registry as the effect does.
#pragma once

#include "AE_GeneralPlug.h"

namespace minihost {

class Host;
class Instance;

namespace aegp {

A_Err getNewEffectStreamByIndex(AEGP_PluginID, AEGP_EffectRefH effectHandle, PF_ParamIndex index,
                                AEGP_StreamRefH* stream);
// Disposes parameter and mask streams alike.
A_Err disposeStream(AEGP_StreamRefH streamHandle);

A_Err getEffectCamera(PF_ProgPtr effectRef, const A_Time* compTime, AEGP_LayerH* cameraLayer);
A_Err getEffectCameraMatrix(PF_ProgPtr effectRef, const A_Time* compTime, A_Matrix4* matrix, A_FpLong* distance,
                            A_short* planeWidth, A_short* planeHeight);

// The start of the instance's layer in its composition, in seconds (0 without one).
double layerStartSeconds(Host& host, const Instance& instance);

}  // namespace aegp

}  // namespace minihost
