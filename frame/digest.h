// FNV-1a digests, the one hashing scheme of the effect: 32 bits for maps, tables and caches, 64 bits
// for the simulation key. Callers feed values through the typed helpers, which take every scalar's
// bytes least significant first whatever the machine's byte order, so a digest depends only on the
// values fed, never on struct layout or padding.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace cindel {

constexpr uint32_t kFnv32Basis = 2166136261u;
constexpr uint32_t kFnv32Prime = 16777619u;
constexpr uint64_t kFnv64Basis = 0xcbf29ce484222325ull;
constexpr uint64_t kFnv64Prime = 0x100000001b3ull;

constexpr uint32_t fnv1a32Byte(uint32_t h, uint8_t byte) {
    return (h ^ byte) * kFnv32Prime;
}
constexpr uint64_t fnv1a64Byte(uint64_t h, uint8_t byte) {
    return (h ^ byte) * kFnv64Prime;
}

constexpr uint32_t fnv1a32U32(uint32_t h, uint32_t v) {
    for (int i = 0; i < 4; ++i) h = fnv1a32Byte(h, uint8_t(v >> (8 * i)));
    return h;
}
inline uint32_t fnv1a32Float(uint32_t h, float v) {
    return fnv1a32U32(h, std::bit_cast<uint32_t>(v));
}

constexpr uint64_t fnv1a64U32(uint64_t h, uint32_t v) {
    for (int i = 0; i < 4; ++i) h = fnv1a64Byte(h, uint8_t(v >> (8 * i)));
    return h;
}
constexpr uint64_t fnv1a64U64(uint64_t h, uint64_t v) {
    for (int i = 0; i < 8; ++i) h = fnv1a64Byte(h, uint8_t(v >> (8 * i)));
    return h;
}
constexpr uint64_t fnv1a64I32(uint64_t h, int32_t v) {
    return fnv1a64U32(h, uint32_t(v));
}
inline uint64_t fnv1a64Float(uint64_t h, float v) {
    return fnv1a64U32(h, std::bit_cast<uint32_t>(v));
}

}  // namespace cindel
