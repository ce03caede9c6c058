// The plug-in's volume export: the one way the simulation's fields leave the effect. A host that
// wants them (minihost for `cindel render --vdb`) resolves the exported cindelSetVolumeSink and
// installs a sink; the effect then calls it once per smart render, after the simulation reached
// the frame and before the ray march, with the fields the frame is rendered from. Without a sink
// the effect reads nothing back (one pointer test per frame), so the host application, which
// never installs one, sees no change.
//
// Plain C layout with fixed-size members: the record crosses a library boundary whose two sides
// may be built apart. The pointers belong to the effect and are valid only during the call.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// One frame's fields as the simulation holds them, with where the grid lies in the composition.
struct CindelVolumeFields {
    uint32_t recordBytes;  // sizeof(CindelVolumeFields) as the effect was built; grows only at the end
    int32_t side;          // N: N × N × N cells
    int32_t requestedFrame;  // the frame the render was asked for
    // The frame whose state the fields hold; it differs from requestedFrame only when the 600-step
    // cap of one request stopped the simulation short of it.
    int32_t heldFrame;
    int32_t compWidth;  // the composition size the grid is stretched over (after the effect's
    int32_t compHeight; // fallback of 1920 × 1080 for a size that is not positive)
    uint64_t instanceId;
    // Composition pixels per cell along x, y and z (compWidth / N, compHeight / N, compWidth / N),
    // and the composition position of the centre of cell (0, 0, 0). Cell (i, j, k) lies at
    // compFromCellOrigin + (i, j, k) · compPerCell: x right, y down, z (depth) away from the viewer
    // with 0 on the composition plane, as the effect's mapping places the grid.
    double compPerCell[3];
    double compFromCellOrigin[3];
    // N³ values each, cell (x, y, z) at z·N² + y·N + x.
    const float* density;
    const float* temperatureKelvin;
    const float* fuel;
    const float* velocityCellsPerSecond;  // N³ × 4: x, y, z, and 0
};

typedef void (*CindelVolumeSink)(const CindelVolumeFields* fields, void* context);

// With this flag the effect steps the simulation and hands the fields over, but does not ray-march:
// the output is left transparent black, for hosts that want only the volumes.
enum : uint32_t { kCindelVolumeSkipRender = 1u };

// The exported entry: a null sink turns the export off (the default).
typedef void (*CindelSetVolumeSinkFunc)(CindelVolumeSink sink, void* context, uint32_t flags);

}  // extern "C"

static_assert(sizeof(CindelVolumeFields) == 112, "the record's layout is part of the export");
static_assert(offsetof(CindelVolumeFields, instanceId) == 24);
static_assert(offsetof(CindelVolumeFields, compPerCell) == 32);
static_assert(offsetof(CindelVolumeFields, density) == 80);
