// The per-instance record the host keeps with the project: 32 bytes in a host handle. It holds no
// pointers, so its bytes stay valid wherever the host stores them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cindel {

struct InstanceData {
    uint64_t instanceId;
    int32_t sourceOriginX;
    int32_t sourceOriginY;
    int32_t sourceRefWidth;
    int32_t sourceRefHeight;
    int32_t sourceExpanded;  // non-zero: the Source Layer is checked out at its maximum rectangle
    uint8_t unused[4];
};

static_assert(sizeof(InstanceData) == 32, "the host keeps exactly 32 bytes per instance");
static_assert(offsetof(InstanceData, sourceOriginX) == 8);
static_assert(offsetof(InstanceData, sourceExpanded) == 24);

}  // namespace cindel
