// PF suites reached through the basic suite. The effect uses the world suite's pixel-format query.
#pragma once

#include "AE_Effect.h"
#include "AE_EffectPixelFormat.h"

#pragma pack(push, 8)

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2

typedef struct {
    PF_Err (*PF_NewWorld)(PF_ProgPtr, A_long, A_long, PF_Boolean, PF_PixelFormat, PF_EffectWorld*);
    PF_Err (*PF_DisposeWorld)(PF_ProgPtr, PF_EffectWorld*);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld*, PF_PixelFormat*);
} PF_WorldSuite2;

#pragma pack(pop)
