// Process-wide caches of the emitter (source-position table, composition map). Global set-down
// releases them.
#pragma once

namespace cindel {

void releaseEmitterCaches();

}  // namespace cindel
