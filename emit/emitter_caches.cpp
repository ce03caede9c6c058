// Global set-down empties the emitter's process-wide caches, so that a later set-up starts from
// nothing. The composition-map cache of the source-layer capture joins this when that capture
// arrives.
#include "emit/emitter_caches.h"

#include "emit/source_position.h"

namespace cindel {

void releaseEmitterCaches() {
    resetSourcePositionCache();
}

}  // namespace cindel
