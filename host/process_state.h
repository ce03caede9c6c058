// Process-wide state of the effect: one copy per loaded library, no lock (the host sends one
// command at a time). Global set-up and set-down own its life cycle.
#pragma once

#include <cstdint>

#include "AE_GeneralPlug.h"
#include "host/entry_point.h"

namespace cindel {

struct ProcessState {
    bool gpuAvailable = false;        // start-up has run since the last set-down
    AEGP_PluginID aegpPluginId = 0;   // 0: not registered; AEGP-based work is skipped
    uint64_t nextInstanceId = 1;      // never reset in the life of the process
};

ProcessState& processState();

// Premiere Pro poses as the host but has no AEGP layer.
constexpr A_long kPremiereApplId = cindel::fourCharCode('P', 'r', 'M', 'r');
inline bool isPremiere(const PF_InData* inData) { return inData->appl_id == kPremiereApplId; }

}  // namespace cindel
