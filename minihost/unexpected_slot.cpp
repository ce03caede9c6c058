#include "minihost/unexpected_slot.h"

#include <cstdio>
#include <mutex>

#include "minihost/aegp_suites.h"
#include "minihost/host.h"

namespace minihost {

namespace {

std::mutex gMutex;
std::vector<std::string>& calls() {
    static std::vector<std::string> recorded;
    return recorded;
}

}  // namespace

void recordUnexpectedSlotCall(const char* table, const char* slot) {
    std::string name = std::string(table) + "." + slot;
    std::fprintf(stderr, "minihost: the effect called %s, a slot it is not expected to use\n", name.c_str());
    std::lock_guard<std::mutex> lock(gMutex);
    calls().push_back(std::move(name));
}

std::vector<std::string> unexpectedSlotCalls() {
    std::lock_guard<std::mutex> lock(gMutex);
    return calls();
}

bool implementedSlotFails(const char* table, const char* slot) {
    Host* host = Host::active();
    if (!host) return false;
    const std::string name = std::string(table) + "." + slot;
    host->aegp().noteSlotCall(name);
    return name == host->faults().failingSlot;
}

void clearUnexpectedSlotCalls() {
    std::lock_guard<std::mutex> lock(gMutex);
    calls().clear();
}

}  // namespace minihost
