// Linked into every test program: a program whose effect called a suite slot or callback that
// minihost fills only to catch mistakes fails at the end, naming each such call.
#include <gtest/gtest.h>

#include "minihost/unexpected_slot.h"

namespace {

class UnexpectedSlotGuard : public ::testing::Environment {
public:
    void TearDown() override {
        for (const std::string& call : minihost::unexpectedSlotCalls())
            ADD_FAILURE() << "the effect called " << call << ", a slot it is not expected to use";
    }
};

[[maybe_unused]] ::testing::Environment* const gGuard = ::testing::AddGlobalTestEnvironment(new UnexpectedSlotGuard);

}  // namespace
