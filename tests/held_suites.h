// Host suites acquired through the basic suite the way an effect holds them for one command: what
// was acquired is released, by the same name and version, when the holder goes, so the host's
// balance counts stay meaningful. A suite the host withholds stays null.
#pragma once

#include <utility>
#include <vector>

#include "AE_Effect.h"
#include "SPBasic.h"

class HeldSuites {
public:
    explicit HeldSuites(PF_InData* in) : in_(in) {}
    ~HeldSuites() {
        for (const auto& [name, version] : acquired_) in_->pica_basicP->ReleaseSuite(name, version);
    }
    HeldSuites(const HeldSuites&) = delete;
    HeldSuites& operator=(const HeldSuites&) = delete;

protected:
    template <typename T>
    void acquire(const char* name, int32 version, const T** suite) {
        const void* found = nullptr;
        if (in_->pica_basicP->AcquireSuite(name, version, &found) == kSPNoError) {
            *suite = static_cast<const T*>(found);
            acquired_.emplace_back(name, version);
        }
    }

    PF_InData* in_;

private:
    std::vector<std::pair<const char*, int32>> acquired_;
};
