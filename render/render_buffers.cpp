#include "render/render_buffers.h"

namespace cindel {

void releaseRenderBuffers(RenderBuffers& b) {
    for (SizedBuffer* s : {&b.imageBuffer, &b.postA, &b.postB, &b.screenVelocity, &b.velocityTiles, &b.halfImage,
                           &b.raymarchParams}) {
        releaseBuffer(*s);
    }
    for (SizedBuffer& s : b.bloomLevels) releaseBuffer(s);
    b = RenderBuffers{};
}

}  // namespace cindel
