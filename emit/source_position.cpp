// The Source Position table and its process-wide cache. See source_position.h.
#include "emit/source_position.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "frame/frame_settings.h"
#include "frame/frame_timing.h"
#include "params/param_index.h"

namespace cindel {

namespace {

// Verification compares re-read positions with cached ones in composition pixels; a thousandth of
// a pixel absorbs float noise in the host's interpolation without hiding a real edit.
constexpr float kVerifyTolerance = 0.001f;
constexpr int kMaxVerifyReads = 8;

struct SourcePositionCache {
    int count = 0;  // 0: empty
    uint64_t key = 0;
    float scaleX = 0.0f, scaleY = 0.0f;
    float x[kMaxHistoryFrames] = {}, y[kMaxHistoryFrames] = {}, z[kMaxHistoryFrames] = {};
};

SourcePositionCache gCache;

bool toFloat(double v, float& out) {
    if (!std::isfinite(v) || std::fabs(v) > double(std::numeric_limits<float>::max())) return false;
    out = float(v);
    return true;
}

// One frame's Source Position, scaled. False when the checkout fails or the value cannot be
// represented, so the caller can repeat the previous entry.
bool readFrame(PF_InData* inData, int frame, float scaleX, float scaleY, Point3f& out) {
    if (!inData->inter.checkout_param) return false;
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    const A_long time = historyFrameTime(frame, inData->time_step);
    if (PF_CHECKOUT_PARAM(inData, kParamSourcePosition, time, inData->time_step, inData->time_scale, &def) !=
        PF_Err_NONE) {
        return false;
    }
    const PF_Point3DDef& p = def.u.point3d_d;
    Point3f v;
    const bool ok =
        toFloat(p.x_value * scaleX, v.x) && toFloat(p.y_value * scaleY, v.y) && toFloat(p.z_value * scaleX, v.z);
    if (inData->inter.checkin_param) PF_CHECKIN_PARAM(inData, &def);
    if (ok) out = v;
    return ok;
}

// Frames first ... count - 1, each failure repeating the entry before it.
void readFrames(PF_InData* inData, int first, int count, float scaleX, float scaleY, float* xs, float* ys, float* zs) {
    for (int i = first; i < count; ++i) {
        Point3f v = i > 0 ? Point3f{xs[i - 1], ys[i - 1], zs[i - 1]} : Point3f{0.0f, 0.0f, 0.0f};
        readFrame(inData, i, scaleX, scaleY, v);
        xs[i] = v.x;
        ys[i] = v.y;
        zs[i] = v.z;
    }
}

bool cachedFrameStillHolds(PF_InData* inData, int frame, float scaleX, float scaleY) {
    Point3f v;
    if (!readFrame(inData, frame, scaleX, scaleY, v)) return false;
    return std::fabs(v.x - gCache.x[frame]) <= kVerifyTolerance &&
           std::fabs(v.y - gCache.y[frame]) <= kVerifyTolerance && std::fabs(v.z - gCache.z[frame]) <= kVerifyTolerance;
}

// Re-reads up to 8 cached frames spread evenly from the first to the last.
bool cacheStillHolds(PF_InData* inData, float scaleX, float scaleY) {
    const int c = gCache.count;
    const int m = std::min(c, kMaxVerifyReads);
    for (int k = 0; k < m; ++k) {
        const int frame = m == 1 ? 0 : (c - 1) * k / (m - 1);
        if (!cachedFrameStillHolds(inData, frame, scaleX, scaleY)) return false;
    }
    return true;
}

}  // namespace

int sampleSourcePositionTable(PF_InData* inData, int frameCount, float scaleX, float scaleY, float* xs, float* ys,
                              float* zs, uint64_t key) {
    if (!inData || !xs || !ys || !zs) return 0;
    const int count = std::clamp(frameCount, 1, kMaxHistoryFrames);

    int first = 0;
    const bool cacheFits = gCache.count >= 1 && gCache.key == key && gCache.scaleX == scaleX &&
                           gCache.scaleY == scaleY && gCache.count <= count;
    if (cacheFits && cacheStillHolds(inData, scaleX, scaleY)) {
        first = gCache.count;
        std::copy_n(gCache.x, first, xs);
        std::copy_n(gCache.y, first, ys);
        std::copy_n(gCache.z, first, zs);
    }
    readFrames(inData, first, count, scaleX, scaleY, xs, ys, zs);

    gCache.count = count;
    gCache.key = key;
    gCache.scaleX = scaleX;
    gCache.scaleY = scaleY;
    std::copy_n(xs, count, gCache.x);
    std::copy_n(ys, count, gCache.y);
    std::copy_n(zs, count, gCache.z);
    return count;
}

void resetSourcePositionCache() {
    gCache.count = 0;
}

}  // namespace cindel
