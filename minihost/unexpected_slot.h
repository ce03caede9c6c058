// Every suite table and callback record minihost hands the effect is complete: the slots the
// effect is expected to call hold minihost's implementations, every other slot a stub that records
// the call and answers an error. The host calls through these tables by position, so an effect
// that reaches a slot it never meant to (a table declared with a slot missing or out of order)
// must fail loudly here rather than crash or pass by luck. Tests fail when any call was recorded.
//
// The implemented slots go through a thin wrapper too, so that a test can see which of them the
// effect called and make any one of them answer as a failing host would (Faults::failingSlot).
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <type_traits>
#include <vector>

#include "A.h"

namespace minihost {

// A table or slot name as a template argument, so that each stub knows where it sits.
template <std::size_t N>
struct SlotName {
    char text[N];
    constexpr SlotName(const char (&s)[N]) { std::copy_n(s, N, text); }
};

void recordUnexpectedSlotCall(const char* table, const char* slot);
// The calls recorded in this process, as "table.slot", oldest first.
std::vector<std::string> unexpectedSlotCalls();
void clearUnexpectedSlotCalls();

template <typename R>
R unexpectedSlotAnswer() {
    if constexpr (std::is_void_v<R>) {
        return;
    } else if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else {
        return static_cast<R>(A_Err_GENERIC);
    }
}

// Notes the call with the active Host; true when that Host is to fail this slot.
bool implementedSlotFails(const char* table, const char* slot);

template <SlotName Table, SlotName Slot, auto Impl, typename R, typename... Args>
R implementedSlot(Args... args) {
    if (implementedSlotFails(Table.text, Slot.text)) return unexpectedSlotAnswer<R>();
    return Impl(args...);
}

template <SlotName Table, SlotName Slot, auto Impl, typename R, typename... Args>
constexpr auto implementedSlotFor(R (*)(Args...)) {
    return &implementedSlot<Table, Slot, Impl, R, Args...>;
}

template <SlotName Table, SlotName Slot, typename R, typename... Args>
R unexpectedSlot(Args...) {
    recordUnexpectedSlotCall(Table.text, Slot.text);
    return unexpectedSlotAnswer<R>();
}

template <SlotName Table, SlotName Slot, typename R, typename... Args>
R unexpectedVariadicSlot(Args..., ...) {
    recordUnexpectedSlotCall(Table.text, Slot.text);
    return unexpectedSlotAnswer<R>();
}

template <SlotName Table, SlotName Slot, typename R, typename... Args>
constexpr auto unexpectedSlotFor(R (*)(Args...)) {
    return &unexpectedSlot<Table, Slot, R, Args...>;
}

template <SlotName Table, SlotName Slot, typename R, typename... Args>
constexpr auto unexpectedSlotFor(R (*)(Args..., ...)) {
    return &unexpectedVariadicSlot<Table, Slot, R, Args...>;
}

}  // namespace minihost

// A designated initializer for a slot the effect must not call.
#define MINIHOST_UNEXPECTED(TABLE, SLOT) .SLOT = ::minihost::unexpectedSlotFor<#TABLE, #SLOT>(decltype(TABLE::SLOT){})

// A designated initializer for a slot minihost implements with IMPL.
#define MINIHOST_IMPLEMENTED(TABLE, SLOT, IMPL) \
    .SLOT = ::minihost::implementedSlotFor<#TABLE, #SLOT, IMPL>(decltype(TABLE::SLOT){})
