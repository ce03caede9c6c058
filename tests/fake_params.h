// The one in-test host for the frame driver's unit tests: a PF_InData whose checkout_param answers
// from values set by index (optionally per host time) and logs every checkout and check-in, a
// sequence-data handle holding an InstanceData, smart-render callbacks that hand out layers by
// checkout id, a world suite whose pixel-format answer the test sets, worlds whose row
// padding and trailing guard hold a sentinel byte, and an FNV-1a written out independently of the
// effect's digest helpers. An index the test did not set fails its checkout, so every other field
// shows its fallback.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <type_traits>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectSuites.h"
#include "host/instance_data.h"

namespace cindel::test {

class FakeHost {
public:
    // Answers a checkout at a host time; returning false fails the checkout.
    using Source = std::function<bool(A_long time, PF_ParamDef& def)>;
    struct Checkout {
        int index;
        A_long time, step;
        A_u_long scale;
    };

    FakeHost() {
        std::memset(&in, 0, sizeof(in));
        std::memset(&out, 0, sizeof(out));
        std::memset(&utils_, 0, sizeof(utils_));
        in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
        in.inter.checkout_param = &checkoutParam;
        in.inter.checkin_param = [](PF_ProgPtr ref, PF_ParamDef*) -> PF_Err { return ++from(ref)->checkins_, 0; };
        in.utils = &utils_;
        utils_.host_lock_handle = &lockHandle;
        utils_.host_unlock_handle = [](PF_Handle h) {
            if (current() && h == &current()->master_) ++current()->unlocks_;
        };
        utils_.host_get_handle_size = [](PF_Handle h) -> A_u_longlong {
            return current() && h == &current()->master_ ? current()->blockSize_ : 0;
        };
        in.time_step = 1;
        in.time_scale = 30;
        in.width = 640;
        in.height = 360;
        in.downsample_x = in.downsample_y = {1, 1};
        current() = this;
    }
    ~FakeHost() {
        if (current() == this) current() = nullptr;
    }
    FakeHost(const FakeHost&) = delete;

    void set(int index, Source source) { sources_[index] = std::move(source); }
    template <typename Fill>
    void setAs(int index, PF_ParamType type, Fill fill) {
        set(index, [=](A_long, PF_ParamDef& d) { return d.param_type = type, fill(d.u), true; });
    }
    void setFloat(int i, double v) { setAs(i, PF_Param_FLOAT_SLIDER, [=](auto& u) { u.fs_d.value = v; }); }
    void setPopup(int i, A_long v) { setAs(i, PF_Param_POPUP, [=](auto& u) { u.pd.value = v; }); }
    void setCheckbox(int i, A_long v) { setAs(i, PF_Param_CHECKBOX, [=](auto& u) { u.bd.value = v; }); }
    void setAngle(int i, PF_Fixed v) { setAs(i, PF_Param_ANGLE, [=](auto& u) { u.ad.value = v; }); }
    void setColor(int i, A_u_char r, A_u_char g, A_u_char b) {
        setAs(i, PF_Param_COLOR, [=](auto& u) { u.cd.value = PF_Pixel{255, r, g, b}; });
    }
    void setPoint3D(int i, double x, double y, double z) {
        setAs(i, PF_Param_POINT_3D, [=](auto& u) { u.point3d_d.x_value = x, u.point3d_d.y_value = y, u.point3d_d.z_value = z; });
    }
    // Every index 1 ... 136 not set answers with a zeroed definition of no particular type.
    void answerEverything() {
        for (int i = 1; i <= 136; ++i)
            if (!sources_.count(i)) set(i, [](A_long, PF_ParamDef&) { return true; });
    }

    int checkouts(int index) const {
        return int(std::count_if(log_.begin(), log_.end(), [=](const Checkout& c) { return c.index == index; }));
    }
    int totalCheckouts() const { return int(log_.size()); }
    int successfulCheckouts() const { return successfulCheckouts_; }
    int checkins() const { return checkins_; }
    // Host times at which `index` was checked out, in call order.
    std::vector<A_long> checkoutTimes(int index) const {
        std::vector<A_long> times;
        for (const Checkout& c : log_)
            if (c.index == index) times.push_back(c.time);
        return times;
    }
    const std::vector<Checkout>& checkoutLog() const { return log_; }
    void clearCounts() {
        log_.clear();
        successfulCheckouts_ = checkins_ = 0;
    }

    // Sequence data: a handle of `size` bytes holding `data` at its start.
    void setInstanceData(const InstanceData& data, size_t size = sizeof(InstanceData)) {
        block_.assign(std::max(size, sizeof(InstanceData)), 0);
        std::memcpy(block_.data(), &data, sizeof(data));
        blockSize_ = size;
        master_ = block_.data();
        in.sequence_data = &master_;
    }
    int locks() const { return locks_; }
    int unlocks() const { return unlocks_; }

    PF_InData in;
    PF_OutData out;

private:
    // Handle callbacks carry no effect_ref: they reach the host constructed last.
    static FakeHost*& current() {
        static FakeHost* host = nullptr;
        return host;
    }
    static FakeHost* from(PF_ProgPtr ref) { return reinterpret_cast<FakeHost*>(ref); }
    static PF_Err checkoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step, A_u_long scale,
                                PF_ParamDef* def) {
        FakeHost* h = from(ref);
        h->log_.push_back({index, time, step, scale});
        auto it = h->sources_.find(index);
        if (it == h->sources_.end()) return PF_Err_INVALID_INDEX;
        std::memset(def, 0, sizeof(*def));
        def->uu.id = index;
        if (!it->second(time, *def)) return PF_Err_INVALID_INDEX;
        ++h->successfulCheckouts_;
        return PF_Err_NONE;
    }
    static void* lockHandle(PF_Handle handle) {
        FakeHost* h = current();
        if (!h || handle != &h->master_) return nullptr;
        ++h->locks_;
        return h->master_;
    }

    PF_UtilCallbacks utils_;
    std::map<int, Source> sources_;
    std::vector<Checkout> log_;
    int successfulCheckouts_ = 0, checkins_ = 0;
    std::vector<uint8_t> block_;
    size_t blockSize_ = 0;
    void* master_ = nullptr;
    int locks_ = 0, unlocks_ = 0;
};

// A world whose row padding and a trailing guard hold kSentinel, so a write outside the pixels shows.
class FakeWorld {
public:
    static constexpr uint8_t kSentinel = 0xA5;
    static constexpr A_long kPaddedRows = INT32_MIN;
    // Row bytes of width x pixel size + padding unless `rowBytes` names others (even negative ones).
    FakeWorld(A_long width, A_long height, int bits, A_long padding = 0, A_long rowBytes = kPaddedRows) {
        std::memset(&world_, 0, sizeof(world_));
        pixelSize_ = bits == 8 ? 4 : (bits == 16 ? 8 : 16);
        const A_long tight = width * A_long(pixelSize_);
        world_.width = width;
        world_.height = height;
        world_.rowbytes = rowBytes != kPaddedRows ? rowBytes : tight + padding;
        world_.world_flags = bits > 8 ? PF_WorldFlags(PF_WorldFlag_DEEP) : 0;
        storage_.assign(size_t(std::max(world_.rowbytes, tight)) * size_t(std::max<A_long>(height, 0)) + 64, kSentinel);
        world_.data = reinterpret_cast<PF_PixelPtr>(storage_.data());
    }

    PF_EffectWorld* get() { return &world_; }
    template <typename Pixel>
    const Pixel& at(A_long x, A_long y) const {
        return *reinterpret_cast<const Pixel*>(storage_.data() + size_t(y) * size_t(world_.rowbytes) +
                                               size_t(x) * sizeof(Pixel));
    }
    // Bytes outside the pixels (row padding, guard) that no longer hold the sentinel.
    size_t paddingBytesChanged() const {
        size_t changed = 0;
        for (size_t i = 0; i < storage_.size(); ++i) {
            const bool isPixel = world_.rowbytes > 0 && i / size_t(world_.rowbytes) < size_t(world_.height) &&
                                 i % size_t(world_.rowbytes) < size_t(world_.width) * pixelSize_;
            changed += !isPixel && storage_[i] != kSentinel;
        }
        return changed;
    }
    size_t bytesChanged() const { return size_t(std::count_if(storage_.begin(), storage_.end(), [](uint8_t b) { return b != kSentinel; })); }

private:
    PF_EffectWorld world_;
    std::vector<uint8_t> storage_;
    size_t pixelSize_;
};

// The world suite, reached through a basic suite. Plain function pointers carry no context, so the
// suite's answers live in one process-wide record that each test sets.
struct FakeWorldSuiteState {
    bool isAvailable = true;
    PF_Err queryError = PF_Err_NONE;
    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    int acquires = 0, releases = 0;
};
inline FakeWorldSuiteState& worldSuiteState() {
    static FakeWorldSuiteState state;
    return state;
}
inline void resetWorldSuite() { worldSuiteState() = FakeWorldSuiteState{}; }
inline SPBasicSuite* fakeBasicSuite() {
    static const PF_WorldSuite2 suite = {nullptr, nullptr, [](const PF_EffectWorld*, PF_PixelFormat* format) -> PF_Err {
        return worldSuiteState().queryError ? worldSuiteState().queryError : (*format = worldSuiteState().format, 0);
    }};
    static SPBasicSuite basic = {
        [](const char* name, int32 version, const void** out) -> SPErr {
            const bool isWorld = std::strcmp(name, kPFWorldSuite) == 0 && version == kPFWorldSuiteVersion2;
            *out = isWorld && worldSuiteState().isAvailable ? &suite : nullptr;
            return *out ? (++worldSuiteState().acquires, kSPNoError) : 1;
        },
        [](const char* name, int32) -> SPErr { return worldSuiteState().releases += !std::strcmp(name, kPFWorldSuite), 0; },
        nullptr, nullptr, nullptr, nullptr, nullptr};
    return &basic;
}

// Smart render: layers by checkout id, the output, and the ids asked for. The callbacks carry no
// context and reach the record constructed last.
class FakeSmartRender {
public:
    explicit FakeSmartRender(FakeHost& host) : host_(host) {
        self() = this;
        std::memset(&input_, 0, sizeof(input_));
        std::memset(&cb_, 0, sizeof(cb_));
        cb_.checkout_layer_pixels = [](PF_ProgPtr ref, A_long id, PF_EffectWorld** pixels) -> PF_Err {
            FakeSmartRender* s = self();
            if (!s || ref != s->host_.in.effect_ref) return PF_Err_BAD_CALLBACK_PARAM;
            s->layerIds_.push_back(id);
            auto it = s->layers_.find(id);
            *pixels = it == s->layers_.end() ? nullptr : it->second.first;
            return it == s->layers_.end() ? PF_Err_INVALID_INDEX : it->second.second;
        };
        cb_.checkout_output = [](PF_ProgPtr ref, PF_EffectWorld** output) -> PF_Err {
            FakeSmartRender* s = self();
            if (!s || ref != s->host_.in.effect_ref) return PF_Err_BAD_CALLBACK_PARAM;
            ++s->outputCheckouts_;
            *output = s->outputError_ == PF_Err_NONE ? s->output_ : nullptr;
            return s->outputError_;
        };
        extra.input = &input_;
        extra.cb = &cb_;
    }
    void setLayer(A_long id, PF_EffectWorld* world, PF_Err err = PF_Err_NONE) { layers_[id] = {world, err}; }
    void setOutput(PF_EffectWorld* world, PF_Err err = PF_Err_NONE) { output_ = world, outputError_ = err; }
    const std::vector<A_long>& layerCheckouts() const { return layerIds_; }
    int outputCheckouts() const { return outputCheckouts_; }

    ~FakeSmartRender() {
        if (self() == this) self() = nullptr;
    }
    FakeSmartRender(const FakeSmartRender&) = delete;

    PF_SmartRenderExtra extra;

private:
    static FakeSmartRender*& self() {
        static FakeSmartRender* s = nullptr;
        return s;
    }
    FakeHost& host_;
    PF_SmartRenderInput input_;
    PF_SmartRenderCallbacks cb_;
    std::map<A_long, std::pair<PF_EffectWorld*, PF_Err>> layers_;
    PF_EffectWorld* output_ = nullptr;
    PF_Err outputError_ = PF_Err_NONE;
    std::vector<A_long> layerIds_;
    int outputCheckouts_ = 0;
};

// FNV-1a, written out independently of the effect's digest helpers, to check them against.
inline uint32_t referenceFnv32(uint32_t h, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
    return h;
}
inline uint64_t referenceFnv64(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}
// Appends a scalar's bytes least significant first.
template <typename T>
void appendLittleEndian(std::vector<uint8_t>& bytes, T value) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    const auto bits = std::bit_cast<std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>(value);
    for (size_t i = 0; i < sizeof(T); ++i) bytes.push_back(uint8_t(bits >> (8 * i)));
}

}  // namespace cindel::test
