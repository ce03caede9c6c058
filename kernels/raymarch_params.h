/* The ray march's parameter block: the one definition read by both the C++ host
 * (render/raymarch.cpp) and the kernel (it is joined into the kernel library before raymarch.cl).
 * It holds every scalar of the march's argument list, in that list's order and under its names,
 * including the slots the kernel does not read (tempMin, tempMax, the tail colour, innerWisps,
 * shutterTime), so that a field's position tells which argument it is. The buffers are kernel
 * arguments of their own and have no field here.
 *
 * Only 32-bit ints and floats: no bool, size_t or float3 (a device pads float3 to 16 bytes), so
 * the layout is the same naive packing on every compiler and device. The host pins sizes and
 * offsets with static_asserts; a probe kernel in the tests writes the device's offsets for the
 * test to compare. */
#ifndef CINDEL_RAYMARCH_PARAMS_H
#define CINDEL_RAYMARCH_PARAMS_H

#if defined(__OPENCL_VERSION__) || defined(__OPENCL_C_VERSION__)
typedef int cd_i32;
typedef float cd_f32;
#else
#include <cstdint>
typedef int32_t cd_i32;
typedef float cd_f32;
#endif

typedef struct CdRaymarchParams {
    /* Output and grid. */
    cd_i32 W;
    cd_i32 H;
    cd_i32 N;
    /* Camera, world (composition pixel) space; up points down the image (+y). */
    cd_f32 camPosX, camPosY, camPosZ;
    cd_f32 camFwdX, camFwdY, camFwdZ;
    cd_f32 camRightX, camRightY, camRightZ;
    cd_f32 camUpX, camUpY, camUpZ;
    cd_f32 camZoom; /* focal length in composition pixels */
    cd_i32 compW;
    cd_i32 compH;
    /* World to grid: g = p * gridFactor + (gridOffsetXY, gridOffsetXY, N / 2). */
    cd_f32 gridFactorX, gridFactorY, gridFactorZ;
    cd_f32 gridOffsetXY;
    cd_f32 densityMul;
    cd_f32 emissionMul;
    cd_f32 tempMin; /* not read */
    cd_f32 tempMax; /* not read */
    cd_i32 sampleCount;
    cd_f32 detailStrength;
    cd_f32 detailScale; /* cells */
    cd_f32 detailTime;
    cd_f32 emberGlow;
    cd_i32 ssaaCount;
    cd_i32 useBicubic;
    cd_i32 colorMode; /* 1 blackbody, 2 custom ramp */
    cd_f32 minK, maxK;
    cd_f32 fireGamma;
    cd_f32 fireIntensity;
    cd_f32 srcR, srcG, srcB;
    cd_f32 midR, midG, midB;
    cd_f32 tailR, tailG, tailB; /* not read */
    cd_f32 scaR, scaG, scaB;
    cd_f32 smokeDensityMul; /* percent */
    cd_f32 smkBright;
    cd_f32 burnCutoffCenter, burnCutoffWidth;
    cd_i32 mbEnable;
    cd_f32 velCellToScreenX, velCellToScreenY;
    /* Grading. */
    cd_f32 tintR, tintG, tintB;
    cd_f32 brightnessFlicker;
    cd_f32 hueShift; /* radians */
    cd_f32 saturation;
    cd_f32 exposure;  /* stops */
    cd_f32 gradeTime; /* seconds */
    /* Shading and sampling. */
    cd_f32 scatterAnisotropy;
    cd_f32 selfShadow;
    cd_i32 detailOctaves;
    cd_f32 densityContrast;
    cd_f32 opacityThreshold;
    cd_i32 edgeSharp; /* 0 B-spline, 1 Catmull-Rom, 2 unsharp */
    cd_f32 fbmFlow;
    cd_f32 innerWisps; /* not read */
    cd_f32 volumeDensity;
    cd_f32 shutterTime; /* not read */
    cd_i32 blendMode;   /* 1 normal, 2 additive fire */
    cd_f32 blendStrength;
    /* Lights: positions in grid space. */
    cd_i32 rimActive;
    cd_f32 rimLightX, rimLightY, rimLightZ;
    cd_f32 rimColorR, rimColorG, rimColorB;
    cd_f32 rimIntensity;
    cd_f32 rimStrength;
    cd_i32 keyActive;
    cd_f32 keyLightX, keyLightY, keyLightZ;
    cd_f32 keyColorR, keyColorG, keyColorB;
    cd_f32 keyIntensity;
    cd_f32 fireLightStrength;
    cd_f32 volumetricDepth;
    cd_f32 ambColorR, ambColorG, ambColorB;
    cd_f32 ambientStrength;
    /* Macrocell counts per side; 0: that level is absent and its buffer is a stand-in. */
    cd_i32 macroN;
    cd_i32 macroN_L1;
    cd_f32 lifeSoftness;
} CdRaymarchParams;

#endif
