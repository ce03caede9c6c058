// Pixel storage of the host's worlds and the process-wide table of live worlds.
#include "minihost/world.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "minihost/host_error.h"

namespace minihost {

namespace {

struct LiveWorlds {
    std::mutex mutex;
    std::unordered_map<const void*, int> bitsByWorld;
    std::unordered_map<const void*, int> bitsByPixels;
};

LiveWorlds& liveWorlds() {
    static LiveWorlds table;
    return table;
}

int checkedBits(int bits) {
    if (bits != 8 && bits != 16 && bits != 32)
        throw HostError("World: " + std::to_string(bits) + " bits per channel requested; only 8, 16 and 32 exist");
    return bits;
}

}  // namespace

std::size_t World::pixelSizeFor(int bitsPerChannel) {
    return 4 * static_cast<std::size_t>(checkedBits(bitsPerChannel) / 8);
}

World::World(A_long width, A_long height, int bitsPerChannel, A_long rowPaddingBytes) {
    if (width < 0 || height < 0 || rowPaddingBytes < 0)
        throw HostError("World: negative size " + std::to_string(width) + " x " + std::to_string(height) +
                        " or row padding " + std::to_string(rowPaddingBytes));
    A_long rowbytes = width * static_cast<A_long>(pixelSizeFor(bitsPerChannel)) + rowPaddingBytes;
    allocate(width, height, bitsPerChannel, rowbytes);
}

World World::withRowBytes(A_long width, A_long height, int bitsPerChannel, A_long rowbytes) {
    if (width < 0 || height < 0 || rowbytes < 0)
        throw HostError("World: negative size or rowbytes " + std::to_string(rowbytes));
    World world;
    world.allocate(width, height, bitsPerChannel, rowbytes);
    return world;
}

void World::allocate(A_long width, A_long height, int bits, A_long rowbytes) {
    bits_ = checkedBits(bits);
    std::size_t rowSpan =
        std::max<std::size_t>(static_cast<std::size_t>(rowbytes), static_cast<std::size_t>(width) * pixelSizeFor(bits));
    storage_.assign(rowSpan * static_cast<std::size_t>(height) + kGuardBytes, std::byte{kSentinel});

    world_ = std::make_unique<PF_EffectWorld>();
    std::memset(world_.get(), 0, sizeof(PF_EffectWorld));
    world_->world_flags = PF_WorldFlag_WRITEABLE | (bits > 8 ? static_cast<PF_WorldFlags>(PF_WorldFlag_DEEP) : 0);
    world_->data = (width > 0 && height > 0) ? reinterpret_cast<PF_PixelPtr>(storage_.data()) : nullptr;
    world_->rowbytes = rowbytes;
    world_->width = width;
    world_->height = height;
    world_->extent_hint = PF_LRect{0, 0, width, height};
    world_->pix_aspect_ratio = PF_RationalScale{1, 1};

    if (width > 0)
        for (A_long y = 0; y < height; ++y)
            std::memset(pixelAddress(0, y, bits), 0, static_cast<std::size_t>(width) * pixelSizeFor(bits));
    registerLive();
}

World::~World() {
    unregisterLive();
}

World::World(World&& other) noexcept
    : world_(std::move(other.world_)), storage_(std::move(other.storage_)), bits_(other.bits_) {
    // The vector's buffer moves with it, so the PF_EffectWorld's data pointer stays valid and the
    // table's entries (keyed by addresses that did not change) stay right.
}

World& World::operator=(World&& other) noexcept {
    if (this != &other) {
        unregisterLive();
        world_ = std::move(other.world_);
        storage_ = std::move(other.storage_);
        bits_ = other.bits_;
    }
    return *this;
}

void World::registerLive() {
    LiveWorlds& table = liveWorlds();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.bitsByWorld[world_.get()] = bits_;
    if (world_->data) table.bitsByPixels[world_->data] = bits_;
}

void World::unregisterLive() {
    if (!world_) return;
    LiveWorlds& table = liveWorlds();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.bitsByWorld.erase(world_.get());
    if (world_->data) table.bitsByPixels.erase(world_->data);
}

int World::bitsOf(const PF_EffectWorld* world) {
    if (!world) return 0;
    LiveWorlds& table = liveWorlds();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (auto it = table.bitsByWorld.find(world); it != table.bitsByWorld.end()) return it->second;
    if (world->data)
        if (auto it = table.bitsByPixels.find(world->data); it != table.bitsByPixels.end()) return it->second;
    return 0;
}

PF_PixelFormat World::pixelFormat() const {
    switch (bits_) {
        case 16:
            return PF_PixelFormat_ARGB64;
        case 32:
            return PF_PixelFormat_ARGB128;
        default:
            return PF_PixelFormat_ARGB32;
    }
}

std::byte* World::pixelAddress(A_long x, A_long y, int bits) const {
    if (bits != bits_)
        throw HostError("World: " + std::to_string(bits) + "-bit access to a " + std::to_string(bits_) + "-bit world");
    if (x < 0 || y < 0 || x >= world_->width || y >= world_->height)
        throw HostError("World: pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside " +
                        std::to_string(world_->width) + " x " + std::to_string(world_->height));
    // Walk rows by rowbytes as the effect must; in a short-row world the rows overlap, which the
    // storage size (allocate) allows for.
    std::size_t offset = static_cast<std::size_t>(y) * static_cast<std::size_t>(world_->rowbytes) +
                         static_cast<std::size_t>(x) * pixelSize();
    return const_cast<std::byte*>(storage_.data()) + offset;
}

PF_Pixel8& World::pixel8(A_long x, A_long y) {
    return *reinterpret_cast<PF_Pixel8*>(pixelAddress(x, y, 8));
}
PF_Pixel16& World::pixel16(A_long x, A_long y) {
    return *reinterpret_cast<PF_Pixel16*>(pixelAddress(x, y, 16));
}
PF_PixelFloat& World::pixel32(A_long x, A_long y) {
    return *reinterpret_cast<PF_PixelFloat*>(pixelAddress(x, y, 32));
}
const PF_Pixel8& World::pixel8(A_long x, A_long y) const {
    return *reinterpret_cast<const PF_Pixel8*>(pixelAddress(x, y, 8));
}
const PF_Pixel16& World::pixel16(A_long x, A_long y) const {
    return *reinterpret_cast<const PF_Pixel16*>(pixelAddress(x, y, 16));
}
const PF_PixelFloat& World::pixel32(A_long x, A_long y) const {
    return *reinterpret_cast<const PF_PixelFloat*>(pixelAddress(x, y, 32));
}

void World::fill(float alpha, float red, float green, float blue) {
    auto to8 = [](float v) { return static_cast<A_u_char>(std::clamp(std::lround(v * 255.0f), 0L, 255L)); };
    auto to16 = [](float v) {
        return static_cast<A_u_short>(std::clamp(std::lround(v * float(PF_MAX_CHAN16)), 0L, long(PF_MAX_CHAN16)));
    };
    for (A_long y = 0; y < height(); ++y) {
        for (A_long x = 0; x < width(); ++x) {
            if (bits_ == 8)
                pixel8(x, y) = PF_Pixel8{to8(alpha), to8(red), to8(green), to8(blue)};
            else if (bits_ == 16)
                pixel16(x, y) = PF_Pixel16{to16(alpha), to16(red), to16(green), to16(blue)};
            else
                pixel32(x, y) = PF_PixelFloat{alpha, red, green, blue};
        }
    }
}

bool World::isPixelByte(std::size_t offset) const {
    std::size_t rowPixels = static_cast<std::size_t>(world_->width) * pixelSize();
    std::size_t rowSpan = static_cast<std::size_t>(world_->rowbytes);
    std::size_t rows = static_cast<std::size_t>(world_->height);
    // A short-row world has no padding: everything up to the guard may legitimately be written.
    if (rowSpan < rowPixels) return offset < rowPixels * rows;
    if (offset >= rowSpan * rows) return false;
    return offset % rowSpan < rowPixels;
}

std::size_t World::paddingBytesChanged() const {
    std::size_t changed = 0;
    for (std::size_t i = 0; i < storage_.size(); ++i)
        if (!isPixelByte(i) && storage_[i] != std::byte{kSentinel}) ++changed;
    return changed;
}

bool World::paddingIntact() const {
    return paddingBytesChanged() == 0;
}

}  // namespace minihost
