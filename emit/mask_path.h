// The path emitter: the mask outlines of the effect's own layer, read at the current time, turned
// into polylines in composition pixels and painted as soft strokes (1 on the path, 0 at 5 pixels)
// into an emission map of the output's size. The frame driver uploads the map in place of a source
// layer's alpha.
#pragma once

#include "AE_Effect.h"

namespace cindel {

// True with a newly allocated width × height map (the caller frees it with delete[]) when the
// layer has a mask and at least one outline was painted; false, with no map, otherwise (Premiere
// Pro, no plug-in id, no masks, only degenerate outlines, a missing suite or a failing host call).
bool buildMaskPathMap(PF_InData* inData, int width, int height, float** mapOut, int* mapW, int* mapH);

// Paints one polyline of `count` points (closed: back to the first) into the map: every pixel
// within `radius` of a point stepped along each segment at most one pixel apart gets
// max(value, 1 − d / radius). Pixels outside the map are never written.
void paintStroke(const float* xs, const float* ys, int count, bool closed, float* map, int width, int height,
                 float radius);

// One cubic Bézier segment from vertex (x0, y0) with out tangent (ox, oy) to vertex (x1, y1) with
// in tangent (ix, iy), sampled at t = k / 16 for k = 0 ... 15 into xs, ys (16 entries each).
void sampleBezierSegment(double x0, double y0, double ox, double oy, double ix, double iy, double x1, double y1,
                         double* xs, double* ys);

}  // namespace cindel
