// The three things the effect takes from the host's 3-D composition at render time: the effect
// camera (the ray march looks through it), the key light (a composition light that lights the
// smoke) and the light tracks (composition lights whose paths carry the emitter). All are read
// through the host's AEGP suites and stored as plain numbers in composition world pixels; mapping
// them into the grid is the simulation's and the renderer's business.
//
// The composition lights are the first four light layers from the top of the stack; lights further
// down are never seen. Nothing is read in Premiere Pro; the lights also need the AEGP plug-in id,
// the camera does not. Each read catches a missing suite or a failed host call itself and leaves
// its fields at their initial values.
#pragma once

#include "AE_Effect.h"
#include "frame/frame_settings.h"

namespace cindel {

struct KeyLightReading {
    float x = 0, y = 0, z = 0;
    float red = 1, green = 1, blue = 1;
    float intensity = 1;  // 100 % is 1.0
};

// Clears, then fills cameraValid, cameraMatrix, cameraDistance and the plane size at the effect's
// current time converted to composition time.
void readCamera(PF_InData* inData, FrameSettings& fs);

// Light `lightIndex` (0 ... 3) of the composition lights at the current time taken as composition
// time. False (and `out` untouched) outside 0 ... 3, in Premiere Pro, without the plug-in id, when
// the light does not exist or its transform cannot be read, and when a suite it needs is missing
// (the stream suite included). A failed colour or intensity read keeps its preset 1.
bool readKeyLight(PF_InData* inData, int lightIndex, KeyLightReading& out);

// Light Source (popup value: 1 Off, 2 Auto, 3-6 Light 1-4): fills up to four tracks of
// clamp(frameCount, 1, 600) positions into lightTrackX/Y/Z (track t at t × 600) and the current
// positions into lightCurrentX/Y/Z; returns the number of tracks (0 when off or nothing found).
// A frame whose position the host does not give repeats the previous frame's (the origin at frame
// 0); a refused time conversion uses the host time as composition time.
// The caller stores the count and frame number and digests the tracks.
int readLightTracks(PF_InData* inData, int lightSource, int frameCount, FrameSettings& fs);

// Motion Blur "Comp Settings": the composition's shutter angle ÷ 180° when both the effect layer's
// and its composition's motion-blur switches are on; 0 otherwise, in Premiere Pro, without the
// plug-in id, or when any host read fails.
float readCompMotionBlurScale(PF_InData* inData);

}  // namespace cindel
