// Host memory handles. A PF_Handle is void**: a pointer to the host's master pointer, which points
// at the block. The heap keeps every live handle, so a handle the host never gave out, a second
// dispose or a lock left open is noticed and counted instead of corrupting memory, and tests can
// compare the number of live handles before and after a command to find leaks.
//
// The heap is process-wide, as the host's memory manager is: handles made under one Host (say,
// a sequence's data) stay valid whichever Host object is current.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "AE_Effect.h"

namespace minihost {

class HandleHeap {
public:
    static HandleHeap& process();

    PF_Handle allocate(std::uint64_t size);  // null when the system has no memory
    void* lock(PF_Handle handle);            // null for a handle that is not live
    void unlock(PF_Handle handle);
    bool dispose(PF_Handle handle);                        // false (and counted) for a handle that is not live
    std::uint64_t size(PF_Handle handle) const;            // 0 for a handle that is not live
    bool resize(PF_Handle handle, std::uint64_t newSize);  // contents kept up to the smaller size
    bool isLive(PF_Handle handle) const;
    int lockCount(PF_Handle handle) const;

    std::size_t liveCount() const;
    std::uint64_t allocatedTotal() const;  // handles ever made
    std::uint64_t disposedTotal() const;
    std::uint64_t invalidUses() const;  // lock, unlock, size, resize or dispose of a foreign handle
    std::uint64_t unbalancedUnlocks() const;

    // Byte written into every new block: the host promises nothing about a new handle's contents,
    // so a test can make them conspicuous.
    void setNewBlockFill(std::uint8_t byte);

private:
    struct Block {
        void* data = nullptr;  // the master pointer; must stay the first member (PF_Handle points at it)
        std::uint64_t size = 0;
        int locks = 0;
    };

    mutable std::mutex mutex_;
    std::unordered_map<PF_Handle, Block*> live_;
    std::uint64_t allocated_ = 0;
    std::uint64_t disposed_ = 0;
    mutable std::uint64_t invalidUses_ = 0;
    std::uint64_t unbalancedUnlocks_ = 0;
    std::uint8_t fill_ = 0;
};

}  // namespace minihost
