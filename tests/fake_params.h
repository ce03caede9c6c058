// A small in-test host for the frame driver's unit tests: a PF_InData whose checkout_param answers
// from values set by index (optionally per host time) and counts every checkout and check-in, a
// sequence-data handle holding an InstanceData, smart-render and pre-render callbacks that hand out
// layers by checkout id and record what was asked, a world suite whose pixel-format answer is set
// by the test, and worlds whose row padding and trailing guard hold a sentinel byte.
//
// An index the test did not set fails its checkout, so a test names exactly the parameters it
// provides and every other field shows its fallback.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectSuites.h"
#include "host/instance_data.h"

namespace cindel::test {

// ---------------------------------------------------------------------------------------------
// Parameters, handles and the basic PF_InData.

class FakeHost {
public:
    // Answers a checkout at a host time; returning false fails the checkout.
    using Source = std::function<bool(A_long time, PF_ParamDef& def)>;

    FakeHost() {
        std::memset(&in, 0, sizeof(in));
        std::memset(&out, 0, sizeof(out));
        std::memset(&utils_, 0, sizeof(utils_));
        in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
        in.inter.checkout_param = &checkoutParam;
        in.inter.checkin_param = &checkinParam;
        in.utils = &utils_;
        utils_.host_lock_handle = &lockHandle;
        utils_.host_unlock_handle = &unlockHandle;
        utils_.host_get_handle_size = &handleSize;
        in.time_step = 1;
        in.time_scale = 30;
        in.width = 640;
        in.height = 360;
        in.downsample_x = {1, 1};
        in.downsample_y = {1, 1};
        current() = this;
    }
    ~FakeHost() {
        if (current() == this) current() = nullptr;
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    void set(int index, Source source) { sources_[index] = std::move(source); }
    void setFloat(int index, double value) {
        set(index, [=](A_long, PF_ParamDef& d) {
            d.param_type = PF_Param_FLOAT_SLIDER;
            d.u.fs_d.value = value;
            return true;
        });
    }
    void setPopup(int index, A_long value) {
        set(index, [=](A_long, PF_ParamDef& d) {
            d.param_type = PF_Param_POPUP;
            d.u.pd.value = value;
            return true;
        });
    }
    void setCheckbox(int index, A_long value) {
        set(index, [=](A_long, PF_ParamDef& d) {
            d.param_type = PF_Param_CHECKBOX;
            d.u.bd.value = value;
            return true;
        });
    }
    void setColor(int index, A_u_char r, A_u_char g, A_u_char b) {
        set(index, [=](A_long, PF_ParamDef& d) {
            d.param_type = PF_Param_COLOR;
            d.u.cd.value = PF_Pixel{255, r, g, b};
            return true;
        });
    }
    void setAngle(int index, PF_Fixed value) {
        set(index, [=](A_long, PF_ParamDef& d) {
            d.param_type = PF_Param_ANGLE;
            d.u.ad.value = value;
            return true;
        });
    }
    void setPoint3D(int index, double x, double y, double z) {
        set(index, [=](A_long, PF_ParamDef& d) {
            d.param_type = PF_Param_POINT_3D;
            d.u.point3d_d.x_value = x;
            d.u.point3d_d.y_value = y;
            d.u.point3d_d.z_value = z;
            return true;
        });
    }
    // Every index 1 ... 136 answers with a zeroed definition of no particular type.
    void answerEverything() {
        for (int i = 1; i <= 136; ++i) {
            if (!sources_.count(i)) set(i, [](A_long, PF_ParamDef&) { return true; });
        }
    }

    int checkouts(int index) const {
        auto it = checkoutCount_.find(index);
        return it == checkoutCount_.end() ? 0 : it->second;
    }
    int totalCheckouts() const { return totalCheckouts_; }
    int successfulCheckouts() const { return successfulCheckouts_; }
    int checkins() const { return checkins_; }
    // Host times at which `index` was checked out, in call order.
    std::vector<A_long> checkoutTimes(int index) const {
        std::vector<A_long> times;
        for (const auto& c : log_) {
            if (c.index == index) times.push_back(c.time);
        }
        return times;
    }
    struct Checkout {
        int index;
        A_long time, step;
        A_u_long scale;
    };
    const std::vector<Checkout>& checkoutLog() const { return log_; }
    void clearCounts() {
        checkoutCount_.clear();
        log_.clear();
        totalCheckouts_ = successfulCheckouts_ = checkins_ = 0;
    }

    // Sequence data: a handle of `size` bytes holding `data` at its start.
    void setInstanceData(const InstanceData& data, size_t size = sizeof(InstanceData)) {
        block_.assign(std::max(size, sizeof(InstanceData)), 0);
        std::memcpy(block_.data(), &data, sizeof(data));
        blockSize_ = size;
        master_ = block_.data();
        in.sequence_data = &master_;
    }
    InstanceData instanceData() const {
        InstanceData d;
        std::memcpy(&d, block_.data(), sizeof(d));
        return d;
    }
    int locks() const { return locks_; }
    int unlocks() const { return unlocks_; }

    PF_InData in;
    PF_OutData out;

private:
    static FakeHost*& current() {
        static FakeHost* host = nullptr;
        return host;
    }
    static FakeHost* from(PF_ProgPtr ref) { return reinterpret_cast<FakeHost*>(ref); }

    static PF_Err checkoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step, A_u_long scale,
                                PF_ParamDef* def) {
        FakeHost* h = from(ref);
        ++h->totalCheckouts_;
        ++h->checkoutCount_[index];
        h->log_.push_back({index, time, step, scale});
        auto it = h->sources_.find(index);
        if (it == h->sources_.end()) return PF_Err_INVALID_INDEX;
        std::memset(def, 0, sizeof(*def));
        def->uu.id = index;
        if (!it->second(time, *def)) return PF_Err_INVALID_INDEX;
        ++h->successfulCheckouts_;
        return PF_Err_NONE;
    }
    static PF_Err checkinParam(PF_ProgPtr ref, PF_ParamDef*) {
        ++from(ref)->checkins_;
        return PF_Err_NONE;
    }
    // Handle callbacks carry no effect_ref: they reach the host constructed last.
    static void* lockHandle(PF_Handle handle) {
        FakeHost* h = current();
        if (!h || handle != &h->master_) return nullptr;
        ++h->locks_;
        return h->master_;
    }
    static void unlockHandle(PF_Handle handle) {
        FakeHost* h = current();
        if (h && handle == &h->master_) ++h->unlocks_;
    }
    static A_u_longlong handleSize(PF_Handle handle) {
        FakeHost* h = current();
        return h && handle == &h->master_ ? h->blockSize_ : 0;
    }

    PF_UtilCallbacks utils_;
    std::map<int, Source> sources_;
    std::map<int, int> checkoutCount_;
    std::vector<Checkout> log_;
    int totalCheckouts_ = 0, successfulCheckouts_ = 0, checkins_ = 0;
    std::vector<uint8_t> block_;
    size_t blockSize_ = 0;
    void* master_ = nullptr;
    int locks_ = 0, unlocks_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Worlds with sentinel padding.

class FakeWorld {
public:
    static constexpr uint8_t kSentinel = 0xA5;
    static constexpr size_t kGuardBytes = 64;

    // Row bytes of width x pixel size + padding unless `rowBytes` names others (even negative ones).
    static constexpr A_long kPaddedRows = INT32_MIN;
    FakeWorld(A_long width, A_long height, int bits, A_long padding = 0, A_long rowBytes = kPaddedRows) : bits_(bits) {
        std::memset(&world_, 0, sizeof(world_));
        const A_long pixelSize = bits == 8 ? 4 : (bits == 16 ? 8 : 16);
        const A_long tight = width * pixelSize;
        world_.width = width;
        world_.height = height;
        world_.rowbytes = rowBytes != kPaddedRows ? rowBytes : tight + padding;
        world_.world_flags = bits > 8 ? static_cast<PF_WorldFlags>(PF_WorldFlag_DEEP) : 0;
        const size_t rows = size_t(std::max<A_long>(world_.rowbytes, tight)) * size_t(std::max<A_long>(height, 0));
        storage_.assign(rows + kGuardBytes, kSentinel);
        pixelSize_ = size_t(pixelSize);
        world_.data = reinterpret_cast<PF_PixelPtr>(storage_.data());
    }

    PF_EffectWorld* get() { return &world_; }
    int bits() const { return bits_; }

    template <typename Pixel>
    const Pixel& at(A_long x, A_long y) const {
        return *reinterpret_cast<const Pixel*>(storage_.data() + size_t(y) * size_t(world_.rowbytes) +
                                               size_t(x) * sizeof(Pixel));
    }
    // Bytes outside the pixels (row padding, guard) that no longer hold the sentinel.
    size_t paddingBytesChanged() const {
        size_t changed = 0;
        for (size_t i = 0; i < storage_.size(); ++i) {
            if (!isPixelByte(i) && storage_[i] != kSentinel) ++changed;
        }
        return changed;
    }
    size_t bytesChanged() const {
        size_t changed = 0;
        for (uint8_t b : storage_) changed += b != kSentinel;
        return changed;
    }
    size_t paddingByteCount() const {
        size_t n = 0;
        for (size_t i = 0; i < storage_.size(); ++i) n += !isPixelByte(i);
        return n;
    }

private:
    bool isPixelByte(size_t offset) const {
        if (world_.rowbytes <= 0) return false;
        const size_t row = offset / size_t(world_.rowbytes);
        const size_t col = offset % size_t(world_.rowbytes);
        return row < size_t(world_.height) && col < size_t(world_.width) * pixelSize_;
    }

    PF_EffectWorld world_;
    std::vector<uint8_t> storage_;
    size_t pixelSize_ = 4;
    int bits_;
};

// ---------------------------------------------------------------------------------------------
// The world suite, reached through a basic suite. Plain function pointers carry no context, so the
// suite's answers live in one process-wide record that each test sets.

struct FakeWorldSuiteState {
    bool isAvailable = true;
    PF_Err queryError = PF_Err_NONE;
    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    bool answerByDepth = false;  // answer from the FakeWorld's flags and the registered depths
    std::map<const void*, PF_PixelFormat> formatByPixels;
    int acquires = 0, releases = 0, queries = 0;
};

inline FakeWorldSuiteState& worldSuiteState() {
    static FakeWorldSuiteState state;
    return state;
}

inline PF_Err fakeGetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    FakeWorldSuiteState& s = worldSuiteState();
    ++s.queries;
    if (s.queryError != PF_Err_NONE) return s.queryError;
    auto it = s.formatByPixels.find(world ? static_cast<const void*>(world->data) : nullptr);
    *format = it != s.formatByPixels.end() ? it->second : s.format;
    return PF_Err_NONE;
}

inline const PF_WorldSuite2& fakeWorldSuite() {
    static const PF_WorldSuite2 suite = {nullptr, nullptr, &fakeGetPixelFormat};
    return suite;
}

inline SPErr fakeAcquireSuite(const char* name, int32 version, const void** suite) {
    FakeWorldSuiteState& s = worldSuiteState();
    if (!s.isAvailable || std::strcmp(name, kPFWorldSuite) != 0 || version != kPFWorldSuiteVersion2) {
        *suite = nullptr;
        return 1;
    }
    ++s.acquires;
    *suite = &fakeWorldSuite();
    return kSPNoError;
}

inline SPErr fakeReleaseSuite(const char* name, int32 version) {
    if (std::strcmp(name, kPFWorldSuite) == 0 && version == kPFWorldSuiteVersion2) ++worldSuiteState().releases;
    return kSPNoError;
}

inline SPBasicSuite* fakeBasicSuite() {
    static SPBasicSuite basic = {&fakeAcquireSuite, &fakeReleaseSuite, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &basic;
}

inline void resetWorldSuite() {
    worldSuiteState() = FakeWorldSuiteState{};
}

// ---------------------------------------------------------------------------------------------
// Smart render: layers by checkout id, the output, and the ids asked for.

class FakeSmartRender {
public:
    explicit FakeSmartRender(FakeHost& host) : host_(host) {
        std::memset(&input_, 0, sizeof(input_));
        cb_.checkout_layer_pixels = &checkoutLayerPixels;
        cb_.checkin_layer_pixels = nullptr;
        cb_.checkout_output = &checkoutOutput;
        extra.input = &input_;
        extra.cb = &cb_;
        self() = this;
    }
    ~FakeSmartRender() {
        if (self() == this) self() = nullptr;
    }
    FakeSmartRender(const FakeSmartRender&) = delete;
    FakeSmartRender& operator=(const FakeSmartRender&) = delete;

    void setLayer(A_long checkoutId, PF_EffectWorld* world, PF_Err err = PF_Err_NONE) {
        layers_[checkoutId] = {world, err};
    }
    void setOutput(PF_EffectWorld* world, PF_Err err = PF_Err_NONE) {
        output_ = world;
        outputError_ = err;
    }
    const std::vector<A_long>& layerCheckouts() const { return layerIds_; }
    int outputCheckouts() const { return outputCheckouts_; }

    PF_SmartRenderExtra extra;

private:
    static FakeSmartRender*& self() {
        static FakeSmartRender* s = nullptr;
        return s;
    }
    static PF_Err checkoutLayerPixels(PF_ProgPtr ref, A_long id, PF_EffectWorld** pixels) {
        FakeSmartRender* s = self();
        if (!s || ref != s->host_.in.effect_ref) return PF_Err_BAD_CALLBACK_PARAM;
        s->layerIds_.push_back(id);
        auto it = s->layers_.find(id);
        if (it == s->layers_.end()) {
            *pixels = nullptr;
            return PF_Err_INVALID_INDEX;
        }
        *pixels = it->second.first;
        return it->second.second;
    }
    static PF_Err checkoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
        FakeSmartRender* s = self();
        if (!s || ref != s->host_.in.effect_ref) return PF_Err_BAD_CALLBACK_PARAM;
        ++s->outputCheckouts_;
        *output = s->outputError_ == PF_Err_NONE ? s->output_ : nullptr;
        return s->outputError_;
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

// ---------------------------------------------------------------------------------------------
// Pre-render: checkout results by checkout id, the requests made, and the cache-identity bytes.

class FakePreRender {
public:
    struct Request {
        PF_ParamIndex index;
        A_long checkoutId;
        PF_RenderRequest request;
        A_long time;
    };

    explicit FakePreRender(FakeHost& host, bool hasGuidMix = true) : host_(host) {
        std::memset(&input_, 0, sizeof(input_));
        std::memset(&output_, 0, sizeof(output_));
        input_.output_request.rect = {0, 0, 200, 100};
        cb_.checkout_layer = &checkoutLayer;
        cb_.GuidMixInPtr = hasGuidMix ? &guidMix : nullptr;
        extra.input = &input_;
        extra.output = &output_;
        extra.cb = &cb_;
        self() = this;
    }
    ~FakePreRender() {
        if (self() == this) self() = nullptr;
    }
    FakePreRender(const FakePreRender&) = delete;
    FakePreRender& operator=(const FakePreRender&) = delete;

    void setResult(A_long checkoutId, const PF_CheckoutResult& result, PF_Err err = PF_Err_NONE) {
        results_[checkoutId] = {result, err};
    }
    const std::vector<Request>& requests() const { return requests_; }
    std::optional<Request> request(A_long checkoutId) const {
        for (const auto& r : requests_) {
            if (r.checkoutId == checkoutId) return r;
        }
        return std::nullopt;
    }
    const std::vector<uint8_t>& mixedBytes() const { return mixed_; }
    int mixCalls() const { return mixCalls_; }

    PF_PreRenderInput& input() { return input_; }
    PF_PreRenderOutput& output() { return output_; }
    PF_PreRenderExtra extra;

private:
    static FakePreRender*& self() {
        static FakePreRender* s = nullptr;
        return s;
    }
    static PF_Err checkoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long id, const PF_RenderRequest* req,
                                A_long time, A_long, A_u_long, PF_CheckoutResult* result) {
        FakePreRender* s = self();
        if (!s || ref != s->host_.in.effect_ref) return PF_Err_BAD_CALLBACK_PARAM;
        s->requests_.push_back({index, id, *req, time});
        auto it = s->results_.find(id);
        if (it == s->results_.end()) return PF_Err_INVALID_INDEX;
        *result = it->second.first;
        return it->second.second;
    }
    static PF_Err guidMix(PF_ProgPtr ref, A_u_long size, const void* buf) {
        FakePreRender* s = self();
        if (!s || ref != s->host_.in.effect_ref) return PF_Err_BAD_CALLBACK_PARAM;
        ++s->mixCalls_;
        const auto* bytes = static_cast<const uint8_t*>(buf);
        s->mixed_.insert(s->mixed_.end(), bytes, bytes + size);
        return PF_Err_NONE;
    }

    FakeHost& host_;
    PF_PreRenderInput input_;
    PF_PreRenderOutput output_;
    PF_PreRenderCallbacks cb_;
    std::map<A_long, std::pair<PF_CheckoutResult, PF_Err>> results_;
    std::vector<Request> requests_;
    std::vector<uint8_t> mixed_;
    int mixCalls_ = 0;
};

// ---------------------------------------------------------------------------------------------
// An FNV-1a written out independently of the effect's digest helpers, to check them against.

inline uint32_t referenceFnv32(uint32_t h, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 16777619u;
    }
    return h;
}
inline uint64_t referenceFnv64(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}
// Appends a scalar's bytes least significant first.
template <typename T>
void appendLittleEndian(std::vector<uint8_t>& bytes, T value) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    using Bits = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
    const Bits bits = std::bit_cast<Bits>(value);
    for (size_t i = 0; i < sizeof(T); ++i) bytes.push_back(uint8_t(bits >> (8 * i)));
}

}  // namespace cindel::test
