// A PF_InData whose checkout_param answers from values set by index (optionally per host time) and
// logs every checkout and check-in; an index not set fails, so other fields show their fallback.
// Also FNV-1a written independently of the effect's digest helpers.
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
        in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
        in.inter.checkout_param = &checkoutParam;
        in.inter.checkin_param = [](PF_ProgPtr ref, PF_ParamDef*) -> PF_Err { return ++from(ref)->checkins_, 0; };
        in.time_step = 1;
        in.time_scale = 30;
        in.downsample_x = in.downsample_y = {1, 1};
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
        for (int i = 1; i <= 136; ++i) sources_.try_emplace(i, [](A_long, PF_ParamDef&) { return true; });
    }

    int checkouts(int index) const {
        return int(std::count_if(log_.begin(), log_.end(), [=](const Checkout& c) { return c.index == index; }));
    }
    int totalCheckouts() const { return int(log_.size()); }
    int checkins() const { return checkins_; }
    // Host times at which `index` was checked out, in call order.
    std::vector<A_long> checkoutTimes(int index) const {
        std::vector<A_long> times;
        for (const Checkout& c : log_)
            if (c.index == index) times.push_back(c.time);
        return times;
    }
    const std::vector<Checkout>& checkoutLog() const { return log_; }
    void clearCounts() { log_.clear(), checkins_ = 0; }

    PF_InData in;

private:
    static FakeHost* from(PF_ProgPtr ref) { return reinterpret_cast<FakeHost*>(ref); }
    static PF_Err checkoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step, A_u_long scale,
                                PF_ParamDef* def) {
        FakeHost* h = from(ref);
        h->log_.push_back({index, time, step, scale});
        auto it = h->sources_.find(index);
        if (it == h->sources_.end()) return PF_Err_INVALID_INDEX;
        std::memset(def, 0, sizeof(*def));
        def->uu.id = index;
        return it->second(time, *def) ? PF_Err_NONE : PF_Err_INVALID_INDEX;
    }

    std::map<int, Source> sources_;
    std::vector<Checkout> log_;
    int checkins_ = 0;
};

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
