// Image buffers as the host hands them to the effect. A World owns the pixels of one
// PF_EffectWorld at 8, 16 or 32 bits per channel (alpha, red, green, blue; 16-bit full scale is
// 32768) with rows that may be padded. Every byte that is not a pixel, the row padding and a guard
// after the last row, holds kSentinel, so a test can tell whether the effect wrote outside the
// image. The same class makes the awkward worlds of bad-input tests: 0 × 0, and rows shorter than
// their pixels (the guard then catches the overrun).
//
// Live Worlds are known process-wide by their PF_EffectWorld and by their pixel address, which is
// how the world suite's pixel-format query tells a 16-bit world from a 32-bit one (both are DEEP)
// even when the effect passes a copy of the PF_EffectWorld.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectPixelFormat.h"

namespace minihost {

class World {
public:
    static constexpr std::uint8_t kSentinel = 0xA5;
    static constexpr std::size_t kGuardBytes = 64;

    // rowPaddingBytes are added after each row's pixels; rowbytes = width × pixel size + padding.
    World(A_long width, A_long height, int bitsPerChannel, A_long rowPaddingBytes = 0);

    // Any rowbytes, including one smaller than width × pixel size, for tests of bad worlds.
    // The buffer is sized for whichever of the two is larger, so a faulty effect overruns into
    // sentinel bytes rather than into the heap.
    static World withRowBytes(A_long width, A_long height, int bitsPerChannel, A_long rowbytes);

    ~World();
    World(World&& other) noexcept;
    World& operator=(World&& other) noexcept;
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    PF_EffectWorld* get() { return world_.get(); }
    const PF_EffectWorld* get() const { return world_.get(); }

    A_long width() const { return world_->width; }
    A_long height() const { return world_->height; }
    A_long rowBytes() const { return world_->rowbytes; }
    int bitsPerChannel() const { return bits_; }
    std::size_t pixelSize() const { return pixelSizeFor(bits_); }
    PF_PixelFormat pixelFormat() const;

    // Bounds- and depth-checked pixel access; a wrong depth or position throws HostError.
    PF_Pixel8& pixel8(A_long x, A_long y);
    PF_Pixel16& pixel16(A_long x, A_long y);
    PF_PixelFloat& pixel32(A_long x, A_long y);
    const PF_Pixel8& pixel8(A_long x, A_long y) const;
    const PF_Pixel16& pixel16(A_long x, A_long y) const;
    const PF_PixelFloat& pixel32(A_long x, A_long y) const;
    // Row y's `width()` pixels of type PF_Pixel8, PF_Pixel16 or PF_PixelFloat, the depth and the row
    // checked once: converting a frame through the checked pixel accessors spent most of its time
    // in their checks.
    template <typename Pixel>
    const Pixel* row(A_long y) const {
        constexpr int bits = sizeof(Pixel) == sizeof(PF_Pixel8) ? 8 : sizeof(Pixel) == sizeof(PF_Pixel16) ? 16 : 32;
        return reinterpret_cast<const Pixel*>(pixelAddress(0, y, bits));
    }

    // Fills every pixel (not the padding) with one colour given as floats 0 … 1 and converted to
    // the world's depth the way the host converts: 8 bits × 255, 16 bits × 32768, rounded.
    void fill(float alpha, float red, float green, float blue);

    // True while every padding and guard byte still holds kSentinel.
    bool paddingIntact() const;
    // Number of padding and guard bytes that no longer hold kSentinel.
    std::size_t paddingBytesChanged() const;

    static std::size_t pixelSizeFor(int bitsPerChannel);
    // Bits per channel of a live World's PF_EffectWorld, matched by address or by pixel pointer;
    // 0 when the world is not one of ours.
    static int bitsOf(const PF_EffectWorld* world);

private:
    World() = default;
    void allocate(A_long width, A_long height, int bits, A_long rowbytes);
    void registerLive();
    void unregisterLive();
    std::byte* pixelAddress(A_long x, A_long y, int bits) const;
    bool isPixelByte(std::size_t offset) const;

    std::unique_ptr<PF_EffectWorld> world_;
    std::vector<std::byte> storage_;
    int bits_ = 8;
};

}  // namespace minihost
