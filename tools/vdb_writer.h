// OpenVDB files of the simulation's fields, one per frame, from the record the effect's volume
// export hands over (host/volume_export.h; docs/volume-export.md says what the files hold and
// where the grid lies in them).
//
// Only Linux builds with OpenVDB have the writer (Debian ships no MinGW OpenVDB); elsewhere
// hasVdbWriter() is false and the command refuses --vdb before anything is rendered. The files are
// written like the frames: into a temporary file beside the target, then renamed over it, so a
// failed write (a full disk, a folder that turned read-only) leaves no partial .vdb.
#pragma once

#include <cstdint>
#include <string>

#include "host/volume_export.h"

namespace cli {

// Voxels whose magnitude is at most this are inactive and read as the background 0. It is the
// level below which the effect's own ray march counts a block of cells as empty, so nothing the
// effect would draw is dropped, while the files stay sparse.
constexpr float kVdbActiveThreshold = 1e-4f;

bool hasVdbWriter();

struct VdbOptions {
    // OpenVDB's default: Blosc over each leaf's active values. Off writes the values as they are
    // (still only the active ones), for readers without Blosc or for measuring.
    bool isCompressed = true;
};

// What one file write took, for the measurements of docs/volume-export.md.
struct VdbWriteTimes {
    double buildMs = 0;   // the sparse grids from the dense fields
    double encodeMs = 0;  // serialising (and compressing) into memory
    double writeMs = 0;   // the temporary file, its sync to disk and the rename
    std::uint64_t bytes = 0;
};

// The file's bytes for one frame (composition frame `frame`).
std::string encodeVdb(const CindelVolumeFields& fields, int frame, const VdbOptions& options = {},
                      VdbWriteTimes* times = nullptr);

// Writes the frame to `path` atomically; throws RuntimeFailure naming the file and the system's
// reason.
void writeVdbAtomically(const CindelVolumeFields& fields, int frame, const std::string& path,
                        const VdbOptions& options = {}, VdbWriteTimes* times = nullptr);

}  // namespace cli
