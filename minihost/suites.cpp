// The registry behind SPBasicSuite, and the stack that decides which registry is active.
#include "minihost/suites.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace minihost {

namespace {

std::vector<SuiteRegistry*>& activeStack() {
    static std::vector<SuiteRegistry*> stack;
    return stack;
}

SPBoolean isEqual(const char* token1, const char* token2) {
    if (!token1 || !token2) return token1 == token2;
    return std::strcmp(token1, token2) == 0;
}

SPErr allocateBlock(size_t size, void** block) {
    if (!block) return A_Err_PARAMETER;
    *block = std::malloc(size > 0 ? size : 1);
    return *block ? SPErr{kSPNoError} : SPErr{A_Err_ALLOC};
}

SPErr freeBlock(void* block) {
    std::free(block);
    return kSPNoError;
}

SPErr reallocateBlock(void* block, size_t newSize, void** newBlock) {
    if (!newBlock) return A_Err_PARAMETER;
    void* moved = std::realloc(block, newSize > 0 ? newSize : 1);
    if (!moved) return A_Err_ALLOC;
    *newBlock = moved;
    return kSPNoError;
}

SPErr undefinedFunction() {
    return kSuiteNotFoundError;
}

}  // namespace

SuiteRegistry::SuiteRegistry(Host* owner) : owner_(owner) {
    basic_.AcquireSuite = &SuiteRegistry::acquireThunk;
    basic_.ReleaseSuite = &SuiteRegistry::releaseThunk;
    basic_.IsEqual = &isEqual;
    basic_.AllocateBlock = &allocateBlock;
    basic_.FreeBlock = &freeBlock;
    basic_.ReallocateBlock = &reallocateBlock;
    basic_.Undefined = &undefinedFunction;
    activeStack().push_back(this);
}

SuiteRegistry::~SuiteRegistry() {
    auto& stack = activeStack();
    stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
}

SuiteRegistry* SuiteRegistry::active() {
    auto& stack = activeStack();
    return stack.empty() ? nullptr : stack.back();
}

SuiteRegistry::Activation::Activation(SuiteRegistry& registry) {
    activeStack().push_back(&registry);
}

SuiteRegistry::Activation::~Activation() {
    activeStack().pop_back();
}

void SuiteRegistry::provide(const std::string& name, int32 version, const void* suite) {
    entries_[{name, version}].suite = suite;
}

void SuiteRegistry::withhold(const std::string& name, int32 version) {
    entries_[{name, version}].withheld = true;
}

void SuiteRegistry::restore(const std::string& name, int32 version) {
    entries_[{name, version}].withheld = false;
}

void SuiteRegistry::restoreAll() {
    for (auto& [key, entry] : entries_) entry.withheld = false;
}

bool SuiteRegistry::isOffered(const std::string& name, int32 version) const {
    auto it = entries_.find({name, version});
    return it != entries_.end() && it->second.suite && !it->second.withheld;
}

int SuiteRegistry::acquireCount(const std::string& name, int32 version) const {
    auto it = entries_.find({name, version});
    return it == entries_.end() ? 0 : it->second.acquired;
}

int SuiteRegistry::failedAcquireCount(const std::string& name, int32 version) const {
    auto it = entries_.find({name, version});
    return it == entries_.end() ? 0 : it->second.failedAcquires;
}

int SuiteRegistry::releaseCount(const std::string& name, int32 version) const {
    auto it = entries_.find({name, version});
    return it == entries_.end() ? 0 : it->second.released;
}

int SuiteRegistry::outstanding(const std::string& name, int32 version) const {
    return acquireCount(name, version) - releaseCount(name, version);
}

std::vector<std::pair<std::string, int32>> SuiteRegistry::unbalanced() const {
    std::vector<Key> result;
    for (const auto& [key, entry] : entries_)
        if (entry.acquired != entry.released) result.push_back(key);
    return result;
}

std::vector<std::pair<std::string, int32>> SuiteRegistry::used() const {
    std::vector<Key> result;
    for (const auto& [key, entry] : entries_)
        if (entry.acquired + entry.failedAcquires > 0) result.push_back(key);
    return result;
}

void SuiteRegistry::resetCounts() {
    for (auto& [key, entry] : entries_) entry.acquired = entry.failedAcquires = entry.released = 0;
}

SPErr SuiteRegistry::acquire(const char* name, int32 version, const void** suite) {
    if (!name || !suite) return A_Err_PARAMETER;
    Entry& entry = entries_[{name, version}];
    if (!entry.suite || entry.withheld) {
        *suite = nullptr;
        ++entry.failedAcquires;
        return kSuiteNotFoundError;
    }
    *suite = entry.suite;
    ++entry.acquired;
    return kSPNoError;
}

SPErr SuiteRegistry::release(const char* name, int32 version) {
    if (!name) return A_Err_PARAMETER;
    // Counted even for a suite that is not offered, so that a release without an acquire shows
    // up as an imbalance.
    Entry& entry = entries_[{name, version}];
    ++entry.released;
    return entry.suite ? kSPNoError : kSuiteNotFoundError;
}

SPErr SuiteRegistry::acquireThunk(const char* name, int32 version, const void** suite) {
    SuiteRegistry* registry = active();
    if (!registry) {
        if (suite) *suite = nullptr;
        return kSuiteNotFoundError;
    }
    return registry->acquire(name, version, suite);
}

SPErr SuiteRegistry::releaseThunk(const char* name, int32 version) {
    SuiteRegistry* registry = active();
    return registry ? registry->release(name, version) : kSuiteNotFoundError;
}

}  // namespace minihost
