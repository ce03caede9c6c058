// What the effect and the hosts that load it share beyond the host's published declarations: the
// entry point's type and the four-character codes hosts identify themselves with.
#pragma once

#include "AE_Effect.h"

typedef PF_Err(EffectMainFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                               PF_LayerDef* output, void* extra);

namespace cindel {

// 'PrMr' as the host writes such a code into an A_long: the first character in the high byte.
constexpr A_long fourCharCode(char a, char b, char c, char d) {
    return static_cast<A_long>((static_cast<A_u_long>(static_cast<unsigned char>(a)) << 24) |
                               (static_cast<A_u_long>(static_cast<unsigned char>(b)) << 16) |
                               (static_cast<A_u_long>(static_cast<unsigned char>(c)) << 8) |
                               static_cast<A_u_long>(static_cast<unsigned char>(d)));
}

}  // namespace cindel
