// The two smart-render commands and their callbacks. Pre-render records each checkout_layer under
// its checkout id with the host's answer (the layer's rectangles and its size before effects);
// smart render hands out pixels only for ids that pre-render checked out, as the host does, so an
// effect that asks for an id it never requested gets an error rather than a frame. The pixels
// handed out cover the checkout's result_rect: a layer whose content reaches past the request
// (a text layer's margin, say) is cut to the request unless the effect asked for more. At a
// reduced preview resolution (HostSettings::setPreviewResolution) rectangles and pixels are those
// of the preview: each layer's extent is scaled by the downsample factors, rounded outward, and
// its pixels are box-filtered down to it.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "minihost/host.h"
#include "minihost/host_callbacks.h"
#include "minihost/host_error.h"

namespace minihost {

namespace {

PF_LRect intersect(const PF_LRect& a, const PF_LRect& b) {
    PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (r.right <= r.left || r.bottom <= r.top) return PF_LRect{0, 0, 0, 0};
    return r;
}

bool isEmpty(const PF_LRect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

bool isSame(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool isFullResolution(const PF_RationalScale& s) {
    return s.den == 0 || s.num <= 0 || A_u_long(s.num) == s.den;
}

// Full-resolution coordinates at a downsample factor; rectangles round outward.
A_long scaledFloor(A_long v, const PF_RationalScale& s) {
    if (isFullResolution(s)) return v;
    return A_long(std::floor(double(v) * double(s.num) / double(s.den)));
}
A_long scaledCeil(A_long v, const PF_RationalScale& s) {
    if (isFullResolution(s)) return v;
    return A_long(std::ceil(double(v) * double(s.num) / double(s.den)));
}

PF_LRect scaledRect(const PF_LRect& r, const PF_RationalScale& sx, const PF_RationalScale& sy) {
    return PF_LRect{scaledFloor(r.left, sx), scaledFloor(r.top, sy), scaledCeil(r.right, sx), scaledCeil(r.bottom, sy)};
}

std::array<double, 4> channels(const World& w, A_long x, A_long y) {
    switch (w.bitsPerChannel()) {
        case 8: {
            const PF_Pixel8& p = w.pixel8(x, y);
            return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
        }
        case 16: {
            const PF_Pixel16& p = w.pixel16(x, y);
            return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
        }
        default: {
            const PF_PixelFloat& p = w.pixel32(x, y);
            return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
        }
    }
}

void setChannels(World& w, A_long x, A_long y, const std::array<double, 4>& c) {
    switch (w.bitsPerChannel()) {
        case 8: {
            PF_Pixel8& p = w.pixel8(x, y);
            p = PF_Pixel8{A_u_char(std::lround(c[0])), A_u_char(std::lround(c[1])), A_u_char(std::lround(c[2])),
                          A_u_char(std::lround(c[3]))};
            break;
        }
        case 16: {
            PF_Pixel16& p = w.pixel16(x, y);
            p = PF_Pixel16{A_u_short(std::lround(c[0])), A_u_short(std::lround(c[1])), A_u_short(std::lround(c[2])),
                           A_u_short(std::lround(c[3]))};
            break;
        }
        default: {
            PF_PixelFloat& p = w.pixel32(x, y);
            p = PF_PixelFloat{float(c[0]), float(c[1]), float(c[2]), float(c[3])};
            break;
        }
    }
}

// The layer's pixels at the preview resolution, over the scaled extent: each preview pixel is the
// mean of the full-resolution pixels it covers (a box filter, the simplest of the host's).
std::unique_ptr<World> downsampled(const World& full, const PF_LRect& extent, const PF_LRect& scaled,
                                   const PF_RationalScale& sx, const PF_RationalScale& sy) {
    const A_long width = scaled.right - scaled.left;
    const A_long height = scaled.bottom - scaled.top;
    auto out = std::make_unique<World>(width, height, full.bitsPerChannel());
    const double fx = double(sx.den) / double(sx.num);
    const double fy = double(sy.den) / double(sy.num);
    for (A_long y = 0; y < height; ++y) {
        const A_long y0 = std::max(extent.top, A_long(std::floor((scaled.top + y) * fy)));
        const A_long y1 = std::min(extent.bottom, A_long(std::ceil((scaled.top + y + 1) * fy)));
        for (A_long x = 0; x < width; ++x) {
            const A_long x0 = std::max(extent.left, A_long(std::floor((scaled.left + x) * fx)));
            const A_long x1 = std::min(extent.right, A_long(std::ceil((scaled.left + x + 1) * fx)));
            std::array<double, 4> sum{};
            int count = 0;
            for (A_long v = y0; v < y1; ++v) {
                for (A_long u = x0; u < x1; ++u) {
                    const std::array<double, 4> c = channels(full, u - extent.left, v - extent.top);
                    for (size_t k = 0; k < 4; ++k) sum[k] += c[k];
                    ++count;
                }
            }
            if (count > 0)
                for (double& c : sum) c /= count;
            setChannels(*out, x, y, sum);
        }
    }
    return out;
}

// The pixels of a layer for a checkout's result rectangle. A world that holds the layer's whole
// extent is brought to the preview resolution and cut to the rectangle; a world of another size
// (a test's own layout) goes out whole.
PF_EffectWorld* pixelsFor(const LayerSource& source, const PF_LRect& resultRect, const PF_RationalScale& sx,
                          const PF_RationalScale& sy, std::vector<std::unique_ptr<World>>& made) {
    if (isEmpty(resultRect)) return nullptr;
    const PF_LRect fullExtent = source.extent();
    const bool holdsExtent = source.world->width() == fullExtent.right - fullExtent.left &&
                             source.world->height() == fullExtent.bottom - fullExtent.top;
    if (!holdsExtent) return source.world->get();
    World* preview = source.world;
    PF_LRect extent = fullExtent;
    if (!isFullResolution(sx) || !isFullResolution(sy)) {
        extent = scaledRect(fullExtent, sx, sy);
        made.push_back(downsampled(*source.world, fullExtent, extent, sx, sy));
        preview = made.back().get();
    }
    World& world = *preview;
    if (isSame(resultRect, extent)) return world.get();
    const A_long width = resultRect.right - resultRect.left;
    const A_long height = resultRect.bottom - resultRect.top;
    auto part = std::make_unique<World>(width, height, world.bitsPerChannel());
    const std::size_t rowBytes = std::size_t(width) * world.pixelSize();
    const auto* from = reinterpret_cast<const char*>(world.get()->data);
    auto* to = reinterpret_cast<char*>(part->get()->data);
    for (A_long y = 0; y < height; ++y) {
        const std::size_t fromOffset = std::size_t(resultRect.top - extent.top + y) * std::size_t(world.rowBytes()) +
                                       std::size_t(resultRect.left - extent.left) * world.pixelSize();
        std::memcpy(to + std::size_t(y) * std::size_t(part->rowBytes()), from + fromOffset, rowBytes);
    }
    made.push_back(std::move(part));
    return made.back()->get();
}

}  // namespace

A_long atPreviewScale(A_long size, const PF_RationalScale& downsample) {
    return scaledCeil(size, downsample);
}

PreRenderResult Host::preRender(Instance& instance, const PreRenderCall& call) {
    // The effect's data from an earlier pre-render that no smart render consumed goes now.
    if (instance.deletePreRenderData_) instance.deletePreRenderData_(instance.preRenderData_);
    instance.preRenderData_ = nullptr;
    instance.deletePreRenderData_ = nullptr;
    instance.layerCheckouts_.clear();
    instance.pixelCheckouts_.clear();
    instance.partialPixels_.clear();
    instance.outputCheckouts_ = 0;
    guidMixes_.clear();

    PF_PreRenderInput input;
    std::memset(&input, 0, sizeof input);
    input.output_request = call.request;
    if (isEmpty(input.output_request.rect))
        input.output_request.rect = PF_LRect{0, 0, atPreviewScale(instance.layerWidth(), settings_.downsampleX),
                                             atPreviewScale(instance.layerHeight(), settings_.downsampleY)};
    if (input.output_request.channel_mask == 0) input.output_request.channel_mask = PF_ChannelMask_ARGB;
    input.bitdepth = call.bitdepth;
    instance.lastRequest_ = input.output_request;

    PF_PreRenderOutput output;
    std::memset(&output, 0, sizeof output);
    PF_PreRenderCallbacks callbacks{&HostCallbacks::checkoutLayer,
                                    call.offerGuidMixIn ? &HostCallbacks::guidMixIn : nullptr};
    PF_PreRenderExtra extra{&input, &output, &callbacks};

    PreRenderResult result;
    result.result = send(PF_Cmd_SMART_PRE_RENDER, &extra, &instance);
    result.output = output;
    result.layerCheckouts = instance.layerCheckouts_;
    result.guidMixes = guidMixes_;
    instance.preRenderData_ = output.pre_render_data;
    instance.deletePreRenderData_ = output.delete_pre_render_data_func;
    return result;
}

PF_Err Host::smartRender(Instance& instance, PF_EffectWorld* output, A_short bitdepth) {
    instance.pixelCheckouts_.clear();
    instance.partialPixels_.clear();
    instance.outputCheckouts_ = 0;

    PF_SmartRenderInput input;
    std::memset(&input, 0, sizeof input);
    input.output_request = instance.lastRequest_;
    int bits = World::bitsOf(output);
    input.bitdepth = bitdepth ? bitdepth : static_cast<A_short>(bits ? bits : 8);
    input.pre_render_data = instance.preRenderData_;
    PF_SmartRenderCallbacks callbacks{&HostCallbacks::checkoutLayerPixels, &HostCallbacks::checkinLayerPixels,
                                      &HostCallbacks::checkoutOutput};
    PF_SmartRenderExtra extra{&input, &callbacks};

    currentOutput_ = output;
    PF_Err result = send(PF_Cmd_SMART_RENDER, &extra, &instance);
    currentOutput_ = nullptr;

    // The pre-render's data lives for exactly one render, as with the host.
    if (instance.deletePreRenderData_) instance.deletePreRenderData_(instance.preRenderData_);
    instance.preRenderData_ = nullptr;
    instance.deletePreRenderData_ = nullptr;
    return result;
}

PF_Err Host::renderFrame(Instance& instance, World& output) {
    PreRenderCall call;
    call.request.rect = PF_LRect{0, 0, output.width(), output.height()};
    call.request.channel_mask = PF_ChannelMask_ARGB;
    call.bitdepth = static_cast<A_short>(output.bitsPerChannel());
    PreRenderResult pre = preRender(instance, call);
    if (pre.result != PF_Err_NONE) return pre.result;
    return smartRender(instance, output);
}

PF_Err HostCallbacks::checkoutLayer(PF_ProgPtr effectRef, PF_ParamIndex index, A_long checkoutId,
                                    const PF_RenderRequest* request, A_long whatTime, A_long timeStep,
                                    A_u_long timeScale, PF_CheckoutResult* result) {
    Instance* instance = nullptr;
    Host* host = resolve(effectRef, &instance);
    if (!host || !instance || host->currentCmd_ != PF_Cmd_SMART_PRE_RENDER) return PF_Err_BAD_CALLBACK_PARAM;
    if (!request || !result) return PF_Err_BAD_CALLBACK_PARAM;

    LayerCheckout record;
    record.index = index;
    record.checkoutId = checkoutId;
    record.request = *request;
    record.whatTime = whatTime;
    record.timeStep = timeStep;
    record.timeScale = timeScale;
    if (index < 0 || static_cast<std::size_t>(index) >= host->definitions_.size()) {
        record.result = PF_Err_INVALID_INDEX;
    } else if (host->definitions_[static_cast<std::size_t>(index)].def.param_type != PF_Param_LAYER) {
        record.result = PF_Err_BAD_CALLBACK_PARAM;
    } else if (auto fault = host->faults_.layerCheckout.find(index); fault != host->faults_.layerCheckout.end()) {
        record.result = fault->second;
    } else {
        PF_CheckoutResult& answer = record.answer;
        std::memset(&answer, 0, sizeof answer);
        answer.par = PF_RationalScale{1, 1};
        // A layer parameter with no layer chosen checks out empty, not as an error.
        if (const LayerSource* source = instance->layer(index); source && source->world) {
            answer.max_result_rect =
                scaledRect(source->extent(), host->settings_.downsampleX, host->settings_.downsampleY);
            answer.result_rect = intersect(request->rect, answer.max_result_rect);
            answer.ref_width = source->referenceWidth();
            answer.ref_height = source->referenceHeight();
        }
        *result = answer;
    }
    // A second checkout under an id replaces the first, as only one can be rendered.
    auto& checkouts = instance->layerCheckouts_;
    checkouts.erase(std::remove_if(checkouts.begin(), checkouts.end(),
                                   [&](const LayerCheckout& c) { return c.checkoutId == checkoutId; }),
                    checkouts.end());
    checkouts.push_back(record);
    return record.result;
}

PF_Err HostCallbacks::guidMixIn(PF_ProgPtr effectRef, A_u_long size, const void* bytes) {
    Instance* instance = nullptr;
    Host* host = resolve(effectRef, &instance);
    if (!host || !instance || host->currentCmd_ != PF_Cmd_SMART_PRE_RENDER) return PF_Err_BAD_CALLBACK_PARAM;
    if (size > 0 && !bytes) return PF_Err_BAD_CALLBACK_PARAM;
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    host->guidMixes_.emplace_back(first, first + size);
    return PF_Err_NONE;
}

PF_Err HostCallbacks::checkoutLayerPixels(PF_ProgPtr effectRef, A_long checkoutId, PF_EffectWorld** pixels) {
    Instance* instance = nullptr;
    Host* host = resolve(effectRef, &instance);
    if (!host || !instance || host->currentCmd_ != PF_Cmd_SMART_RENDER || !pixels) return PF_Err_BAD_CALLBACK_PARAM;
    *pixels = nullptr;

    PixelCheckout record;
    record.checkoutId = checkoutId;
    const auto& requested = instance->layerCheckouts_;
    auto checkout = std::find_if(requested.begin(), requested.end(), [&](const LayerCheckout& c) {
        return c.checkoutId == checkoutId && c.result == PF_Err_NONE;
    });
    if (checkout == requested.end()) {
        record.result = PF_Err_BAD_CALLBACK_PARAM;
    } else if (auto fault = host->faults_.layerPixels.find(checkoutId); fault != host->faults_.layerPixels.end()) {
        record.result = fault->second;
    } else if (const LayerSource* source = instance->layer(checkout->index); source && source->world) {
        *pixels = pixelsFor(*source, checkout->answer.result_rect, host->settings_.downsampleX,
                            host->settings_.downsampleY, instance->partialPixels_);
    }
    record.world = *pixels;
    instance->pixelCheckouts_.push_back(record);
    return record.result;
}

PF_Err HostCallbacks::checkinLayerPixels(PF_ProgPtr effectRef, A_long checkoutId) {
    Instance* instance = nullptr;
    Host* host = resolve(effectRef, &instance);
    if (!host || !instance || host->currentCmd_ != PF_Cmd_SMART_RENDER) return PF_Err_BAD_CALLBACK_PARAM;
    for (PixelCheckout& c : instance->pixelCheckouts_) {
        if (c.checkoutId == checkoutId && c.result == PF_Err_NONE && !c.checkedIn) {
            c.checkedIn = true;
            return PF_Err_NONE;
        }
    }
    return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err HostCallbacks::checkoutOutput(PF_ProgPtr effectRef, PF_EffectWorld** output) {
    Instance* instance = nullptr;
    Host* host = resolve(effectRef, &instance);
    if (!host || !instance || host->currentCmd_ != PF_Cmd_SMART_RENDER || !output) return PF_Err_BAD_CALLBACK_PARAM;
    ++instance->outputCheckouts_;
    if (host->faults_.outputCheckout != PF_Err_NONE) {
        *output = nullptr;
        return host->faults_.outputCheckout;
    }
    *output = host->currentOutput_;
    return PF_Err_NONE;
}

}  // namespace minihost
