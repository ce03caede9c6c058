// Storage behind the host's handle callbacks. Blocks are malloc'ed so that a resize can keep the
// handle while moving the block, which is what lets an effect hold a handle across calls.
#include "minihost/handles.h"

#include <cstdlib>
#include <cstring>

namespace minihost {

HandleHeap& HandleHeap::process() {
    static HandleHeap heap;
    return heap;
}

PF_Handle HandleHeap::allocate(std::uint64_t size) {
    // malloc(0) may return null; a zero-size handle is still a valid handle.
    void* data = std::malloc(size > 0 ? size : 1);
    if (!data) return nullptr;
    auto* block = new Block{data, size, 0};
    std::lock_guard<std::mutex> lock(mutex_);
    std::memset(data, fill_, size);
    auto handle = reinterpret_cast<PF_Handle>(&block->data);
    live_[handle] = block;
    ++allocated_;
    return handle;
}

void* HandleHeap::lock(PF_Handle handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) {
        ++invalidUses_;
        return nullptr;
    }
    ++it->second->locks;
    return it->second->data;
}

void HandleHeap::unlock(PF_Handle handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) {
        ++invalidUses_;
        return;
    }
    if (it->second->locks == 0)
        ++unbalancedUnlocks_;
    else
        --it->second->locks;
}

bool HandleHeap::dispose(PF_Handle handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) {
        ++invalidUses_;
        return false;
    }
    std::free(it->second->data);
    delete it->second;
    live_.erase(it);
    ++disposed_;
    return true;
}

std::uint64_t HandleHeap::size(PF_Handle handle) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) {
        ++invalidUses_;
        return 0;
    }
    return it->second->size;
}

bool HandleHeap::resize(PF_Handle handle, std::uint64_t newSize) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) {
        ++invalidUses_;
        return false;
    }
    Block* block = it->second;
    void* data = std::realloc(block->data, newSize > 0 ? newSize : 1);
    if (!data) return false;
    if (newSize > block->size) std::memset(static_cast<char*>(data) + block->size, fill_, newSize - block->size);
    block->data = data;
    block->size = newSize;
    return true;
}

bool HandleHeap::isLive(PF_Handle handle) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return live_.count(handle) != 0;
}

int HandleHeap::lockCount(PF_Handle handle) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = live_.find(handle);
    return it == live_.end() ? 0 : it->second->locks;
}

std::size_t HandleHeap::liveCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return live_.size();
}

std::uint64_t HandleHeap::allocatedTotal() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return allocated_;
}

std::uint64_t HandleHeap::disposedTotal() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return disposed_;
}

std::uint64_t HandleHeap::invalidUses() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return invalidUses_;
}

std::uint64_t HandleHeap::unbalancedUnlocks() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return unbalancedUnlocks_;
}

void HandleHeap::setNewBlockFill(std::uint8_t byte) {
    std::lock_guard<std::mutex> guard(mutex_);
    fill_ = byte;
}

}  // namespace minihost
