// The host's suite registry and its SPBasicSuite. Every suite the host offers is registered here
// under its name and version; an effect reaches it with AcquireSuite and gives it back with
// ReleaseSuite. Tests can withhold any (name, version) so that AcquireSuite fails as on a host
// that lacks the suite, and read per-suite acquire and release counts to check that the effect
// gives back what it takes.
//
// SPBasicSuite's functions carry no context, so the registry that answers is the active one:
// the registry of the Host that is sending a command, else the most recently created one still
// alive. Suite implementations that need host state reach their Host through owner().
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "SPBasic.h"

namespace minihost {

class Host;

// Returned by AcquireSuite and ReleaseSuite for a suite that is not offered ('!Fnd').
constexpr SPErr kSuiteNotFoundError = 0x21466e64;

class SuiteRegistry {
public:
    explicit SuiteRegistry(Host* owner = nullptr);
    ~SuiteRegistry();
    SuiteRegistry(const SuiteRegistry&) = delete;
    SuiteRegistry& operator=(const SuiteRegistry&) = delete;

    // Offers a suite record; it must outlive the registry. Replaces an earlier record of the same
    // name and version.
    void provide(const std::string& name, int32 version, const void* suite);
    void withhold(const std::string& name, int32 version);
    void restore(const std::string& name, int32 version);
    void restoreAll();
    bool isOffered(const std::string& name, int32 version) const;

    // Successful acquisitions, failed attempts and releases of one suite, and how many of its
    // acquisitions are not yet released.
    int acquireCount(const std::string& name, int32 version) const;
    int failedAcquireCount(const std::string& name, int32 version) const;
    int releaseCount(const std::string& name, int32 version) const;
    int outstanding(const std::string& name, int32 version) const;
    // The (name, version) pairs whose acquisitions and releases do not balance.
    std::vector<std::pair<std::string, int32>> unbalanced() const;
    // The (name, version) pairs anyone tried to acquire since the counts were last reset.
    std::vector<std::pair<std::string, int32>> used() const;
    void resetCounts();

    SPBasicSuite* basicSuite() { return &basic_; }
    Host* owner() const { return owner_; }

    // The registry that answers SPBasicSuite calls now; null when none exists.
    static SuiteRegistry* active();

    // Makes a registry the active one for its lifetime (the Host holds one around each command).
    class Activation {
    public:
        explicit Activation(SuiteRegistry& registry);
        ~Activation();
        Activation(const Activation&) = delete;
        Activation& operator=(const Activation&) = delete;
    };

private:
    using Key = std::pair<std::string, int32>;
    struct Entry {
        const void* suite = nullptr;
        bool withheld = false;
        int acquired = 0;
        int failedAcquires = 0;
        int released = 0;
    };

    SPErr acquire(const char* name, int32 version, const void** suite);
    SPErr release(const char* name, int32 version);
    static SPErr acquireThunk(const char* name, int32 version, const void** suite);
    static SPErr releaseThunk(const char* name, int32 version);

    Host* owner_;
    std::map<Key, Entry> entries_;
    SPBasicSuite basic_;
};

}  // namespace minihost
