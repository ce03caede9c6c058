// Global set-down empties the emitter's process-wide caches (the Source Position table and the
// source layer's composition map), so that a later set-up starts from nothing and no host memory
// outlives the effect's use.
#include "emit/emitter_caches.h"

#include "emit/layer_capture.h"
#include "emit/source_position.h"

namespace cindel {

void releaseEmitterCaches() {
    resetSourcePositionCache();
    releaseCompositionMapCache();
}

}  // namespace cindel
