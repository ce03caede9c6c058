// The build without OpenVDB (Windows, or Linux without libopenvdb-dev): no writer. The command
// asks hasVdbWriter() and refuses --vdb before anything is rendered, so the others are never
// reached; they still say why if they are.
#include "tools/errors.h"
#include "tools/vdb_writer.h"

namespace cli {

bool hasVdbWriter() { return false; }

std::string encodeVdb(const CindelVolumeFields&, int, const VdbOptions&, VdbWriteTimes*) {
    throw RuntimeFailure("this build of cindel has no OpenVDB writer");
}

void writeVdbAtomically(const CindelVolumeFields&, int, const std::string&, const VdbOptions&, VdbWriteTimes*) {
    throw RuntimeFailure("this build of cindel has no OpenVDB writer");
}

}  // namespace cli
