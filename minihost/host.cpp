// The Host's commands and the interaction and utility callbacks of PF_InData.
#include "minihost/host.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "host/abi_layout.h"
#include "minihost/aegp_suites.h"
#include "minihost/handles.h"
#include "minihost/host_callbacks.h"
#include "minihost/host_error.h"
#include "minihost/unexpected_slot.h"

namespace minihost {

namespace {

// The effect's diagnostic lines arrive through a context-free hook, so where they go is
// process-wide too.
std::mutex& logMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& capturedLines() {
    static std::vector<std::string> lines;
    return lines;
}

void discardSink(const char*, va_list) {}

void stderrSink(const char* format, va_list args) {
    std::vfprintf(stderr, format, args);
}

void captureSink(const char* format, va_list args) {
    va_list sizing;
    va_copy(sizing, args);
    int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length < 0) return;
    std::string line(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, args);
    line.resize(static_cast<std::size_t>(length));
    std::lock_guard<std::mutex> lock(logMutex());
    capturedLines().push_back(std::move(line));
}

bool isSmartCommand(PF_Cmd cmd) {
    return cmd == PF_Cmd_SMART_PRE_RENDER || cmd == PF_Cmd_SMART_RENDER;
}

bool isSequenceCommand(PF_Cmd cmd) {
    return cmd == PF_Cmd_SEQUENCE_SETUP || cmd == PF_Cmd_SEQUENCE_RESETUP || cmd == PF_Cmd_SEQUENCE_SETDOWN ||
           cmd == PF_Cmd_SEQUENCE_FLATTEN;
}

PF_ParamDef inputLayerDefinition() {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_LAYER;
    def.u.ld.dephault = PF_LayerDefault_MYSELF;
    return def;
}

}  // namespace

// ---- Construction

Host::Host(EffectEntry entry) : entry_(entry), suites_(this), aegp_(std::make_unique<AegpState>()) {
    if (!entry_.main) throw HostError("Host: the effect entry has no EffectMain");
    initialise();
}

Host::Host(EffectMainFunc* effectMain) : Host(EffectEntry{effectMain, nullptr}) {}

Host::Host(std::shared_ptr<PluginLibrary> library) : Host(library ? library->entry() : EffectEntry{}) {
    library_ = std::move(library);
}

std::unique_ptr<Host> Host::load(const std::string& path) {
    return std::make_unique<Host>(PluginLibrary::open(path));
}

Host::~Host() {
    // The sink is the library's process-wide state and would outlive this Host.
    if (volumeReceiver_ && entry_.setVolumeSink) entry_.setVolumeSink(nullptr, nullptr, 0);
    // Sequence data is the host's to keep once the effect hands it over; a Host that goes away
    // frees what set-down did not, without calling the effect (whose library may be gone by now).
    HandleHeap& heap = HandleHeap::process();
    for (auto& instance : instances_)
        if (instance->sequenceData() && heap.isLive(instance->sequenceData())) heap.dispose(instance->sequenceData());
}

// The callback records every command hands over. The host fills each slot; the effect uses the
// parameter, handle and ANSI ones.
namespace {

const PF_UtilCallbacks kUtilCallbacks{
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, begin_sampling),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, subpixel_sample),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, area_sample),
    .get_batch_func_is_deprecated = nullptr,
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, end_sampling),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, composite_rect),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, blend),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, convolve),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, copy),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, fill),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, gaussian_kernel),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, iterate),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, premultiply),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, premultiply_color),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, new_world),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, dispose_world),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, iterate_origin),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, iterate_lut),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, transfer_rect),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, transform_world),
    .host_new_handle = &HostCallbacks::newHandle,
    .host_lock_handle = &HostCallbacks::lockHandle,
    .host_unlock_handle = &HostCallbacks::unlockHandle,
    .host_dispose_handle = &HostCallbacks::disposeHandle,
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, get_callback_addr),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, app),
    .ansi = {
        .atan = [](A_FpLong x) -> A_FpLong { return std::atan(x); },
        .atan2 = [](A_FpLong x, A_FpLong y) -> A_FpLong { return std::atan2(x, y); },
        .ceil = [](A_FpLong x) -> A_FpLong { return std::ceil(x); },
        .cos = [](A_FpLong x) -> A_FpLong { return std::cos(x); },
        .exp = [](A_FpLong x) -> A_FpLong { return std::exp(x); },
        .fabs = [](A_FpLong x) -> A_FpLong { return std::fabs(x); },
        .floor = [](A_FpLong x) -> A_FpLong { return std::floor(x); },
        .fmod = [](A_FpLong x, A_FpLong y) -> A_FpLong { return std::fmod(x, y); },
        .hypot = [](A_FpLong x, A_FpLong y) -> A_FpLong { return std::hypot(x, y); },
        .log = [](A_FpLong x) -> A_FpLong { return std::log(x); },
        .log10 = [](A_FpLong x) -> A_FpLong { return std::log10(x); },
        .pow = [](A_FpLong x, A_FpLong y) -> A_FpLong { return std::pow(x, y); },
        .sin = [](A_FpLong x) -> A_FpLong { return std::sin(x); },
        .sqrt = [](A_FpLong x) -> A_FpLong { return std::sqrt(x); },
        .tan = [](A_FpLong x) -> A_FpLong { return std::tan(x); },
        .sprintf = &HostCallbacks::ansiSprintf,
        .strcpy = &HostCallbacks::ansiStrcpy,
        .asin = [](A_FpLong x) -> A_FpLong { return std::asin(x); },
        .acos = [](A_FpLong x) -> A_FpLong { return std::acos(x); },
        .ansi_procs = {},
    },
    .colorCB =
        {
            MINIHOST_UNEXPECTED(PF_ColorCallbacks, RGBtoHLS),
            MINIHOST_UNEXPECTED(PF_ColorCallbacks, HLStoRGB),
            MINIHOST_UNEXPECTED(PF_ColorCallbacks, RGBtoYIQ),
            MINIHOST_UNEXPECTED(PF_ColorCallbacks, YIQtoRGB),
            MINIHOST_UNEXPECTED(PF_ColorCallbacks, Luminance),
            MINIHOST_UNEXPECTED(PF_ColorCallbacks, Hue),
            MINIHOST_UNEXPECTED(PF_ColorCallbacks, Lightness),
            MINIHOST_UNEXPECTED(PF_ColorCallbacks, Saturation),
        },
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, get_platform_data),
    .host_get_handle_size = &HostCallbacks::handleSize,
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, iterate_origin_non_clip_src),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, iterate_generic),
    .host_resize_handle = &HostCallbacks::resizeHandle,
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, subpixel_sample16),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, area_sample16),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, fill16),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, premultiply_color16),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, iterate16),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, iterate_origin16),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, iterate_origin_non_clip_src16),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, get_pixel_data8),
    MINIHOST_UNEXPECTED(PF_UtilCallbacks, get_pixel_data16),
    .reserved = {},
};

const PF_InteractCallbacks kInteractCallbacks{
    .checkout_param = &HostCallbacks::checkoutParam,
    .checkin_param = &HostCallbacks::checkinParam,
    .add_param = &HostCallbacks::addParam,
    .abort = &HostCallbacks::abort,
    .progress = &HostCallbacks::progress,
    MINIHOST_UNEXPECTED(PF_InteractCallbacks, register_ui),
    MINIHOST_UNEXPECTED(PF_InteractCallbacks, checkout_layer_audio),
    MINIHOST_UNEXPECTED(PF_InteractCallbacks, checkin_layer_audio),
    MINIHOST_UNEXPECTED(PF_InteractCallbacks, get_audio_data),
    .reserved_str = {},
    .reserved = {},
};

}  // namespace

void Host::initialise() {
    hostRef_ = EffectRef{EffectRef::kMagic, this, nullptr};
    utils_ = kUtilCallbacks;
    definitions_.emplace_back(0, inputLayerDefinition());
    HostCallbacks::provideBuiltinSuites(*this);
}

Host* Host::active() {
    SuiteRegistry* registry = SuiteRegistry::active();
    return registry ? registry->owner() : nullptr;
}

void Host::setLogMode(LogMode mode) {
    logMode_ = mode;
    if (!entry_.setLogSink) return;
    // Discarding installs a sink of ours rather than null, so no assumption is made about what
    // the effect does with a null sink.
    LogSinkFunc sink = mode == LogMode::Stderr ? &stderrSink : mode == LogMode::Capture ? &captureSink : &discardSink;
    entry_.setLogSink(sink);
}

namespace {

// Nothing the receiver throws may unwind through the effect's frames (a plug-in linked with its
// own runtime could not even catch it): it is kept and rethrown once the command has returned.
void volumeTrampoline(const CindelVolumeFields* fields, void* context) {
    auto* host = static_cast<Host*>(context);
    host->receiveVolume(fields);
}

}  // namespace

bool Host::setVolumeReceiver(VolumeReceiver receiver, bool isVolumeOnly) {
    if (!entry_.setVolumeSink) return false;
    volumeReceiver_ = std::move(receiver);
    volumeFailure_ = nullptr;
    if (volumeReceiver_)
        entry_.setVolumeSink(&volumeTrampoline, this, isVolumeOnly ? kCindelVolumeSkipRender : 0u);
    else
        entry_.setVolumeSink(nullptr, nullptr, 0);
    return true;
}

void Host::receiveVolume(const CindelVolumeFields* fields) {
    if (!fields || !volumeReceiver_ || volumeFailure_) return;
    try {
        volumeReceiver_(*fields);
    } catch (...) {
        volumeFailure_ = std::current_exception();
    }
}

void Host::rethrowVolumeFailure() {
    if (!volumeFailure_) return;
    std::exception_ptr failure = volumeFailure_;
    volumeFailure_ = nullptr;
    std::rethrow_exception(failure);
}

std::vector<std::string> Host::capturedLog() {
    std::lock_guard<std::mutex> lock(logMutex());
    return capturedLines();
}

void Host::clearCapturedLog() {
    std::lock_guard<std::mutex> lock(logMutex());
    capturedLines().clear();
}

// ---- Sending commands

void Host::fillInData(Instance* instance) {
    std::memset(&inData_, 0, sizeof inData_);
    inData_.inter = kInteractCallbacks;
    inData_.utils = &utils_;
    inData_.effect_ref = reinterpret_cast<PF_ProgPtr>(refFor(instance));
    inData_.quality = settings_.quality;
    inData_.version = PF_SpecVersion{PF_PLUG_IN_VERSION, PF_PLUG_IN_SUBVERS};
    inData_.appl_id = settings_.applId;
    inData_.num_params = static_cast<A_long>(definitions_.size());
    inData_.current_time = settings_.currentTime;
    inData_.time_step = settings_.timeStep;
    inData_.total_time = settings_.totalTime;
    inData_.local_time_step = settings_.timeStep;
    inData_.time_scale = settings_.timeScale;
    inData_.field = settings_.field;
    inData_.shutter_angle = settings_.shutterAngle;
    inData_.shutter_phase = settings_.shutterPhase;
    inData_.width = instance ? instance->layerWidth() : settings_.defaultLayerWidth;
    inData_.height = instance ? instance->layerHeight() : settings_.defaultLayerHeight;
    inData_.extent_hint = PF_LRect{0, 0, inData_.width, inData_.height};
    inData_.downsample_x = settings_.downsampleX;
    inData_.downsample_y = settings_.downsampleY;
    inData_.pixel_aspect_ratio = settings_.pixelAspectRatio;
    inData_.global_data = globalData_;
    inData_.sequence_data = instance ? instance->sequenceData() : nullptr;
    inData_.pica_basicP = suites_.basicSuite();
}

void Host::buildParamsArray(Instance& instance) {
    paramValues_.assign(definitions_.size(), PF_ParamDef{});
    paramPointers_.assign(definitions_.size(), nullptr);
    for (std::size_t i = 0; i < definitions_.size(); ++i) {
        instance.fillCheckedOut(static_cast<PF_ParamIndex>(i), settings_.now(), settings_.downsampleX,
                                settings_.downsampleY, &paramValues_[i]);
        // In the array the union holds change flags, not ids: the effect sets them to hand values back.
        paramValues_[i].uu.change_flags = PF_ChangeFlag_NONE;
        paramPointers_[i] = &paramValues_[i];
    }
}

void Host::takeBackChangedParams(Instance& instance) {
    for (std::size_t i = 0; i < paramValues_.size(); ++i) {
        if (!(paramValues_[i].uu.change_flags & PF_ChangeFlag_CHANGED_VALUE)) continue;
        // Keyframes the effect wrote through the AEGP Keyframe Suite came after its write into the
        // array, so they stand; a stream it left without keys takes the array's value.
        const auto index = static_cast<PF_ParamIndex>(i);
        const auto& edits = instance.keyframeEdits_;
        if (std::find(edits.begin(), edits.end(), index) != edits.end() && instance.param(index).keyframeCount() > 0)
            continue;
        instance.takeChangedValue(static_cast<PF_ParamIndex>(i), settings_.now(), settings_.downsampleX,
                                  settings_.downsampleY, paramValues_[i]);
        last_.changedParams.push_back(static_cast<PF_ParamIndex>(i));
    }
}

PF_Err Host::send(PF_Cmd cmd, void* extra, Instance* instance, PF_ParamDef** params, PF_LayerDef* output) {
    if (currentCmd_ != -1)
        throw HostError("Host: command " + std::to_string(cmd) + " sent while command " + std::to_string(currentCmd_) +
                        " is still running; the host sends one command at a time");
    if (instance && &instance->host_ != this)
        throw HostError("Host: command " + std::to_string(cmd) + " sent for instance " +
                        std::to_string(instance->id()) + " of another Host");
    SuiteRegistry::Activation activation(suites_);
    fillInData(instance);

    PF_OutData out;
    std::memset(&out, 0, sizeof out);
    out.global_data = globalData_;
    out.sequence_data = instance ? instance->sequenceData() : nullptr;
    out.num_params = static_cast<A_long>(definitions_.size());
    out.width = inData_.width;
    out.height = inData_.height;

    bool hostBuiltParams = false;
    paramValues_.clear();
    if (!params && instance && !isSmartCommand(cmd)) {
        buildParamsArray(*instance);
        params = paramPointers_.data();
        hostBuiltParams = true;
    }

    last_ = CommandRecord{};
    last_.cmd = cmd;
    if (instance) instance->keyframeEdits_.clear();
    currentCmd_ = cmd;
    PF_Err result;
    try {
        result = entry_.main(cmd, &inData_, &out, params, output, extra);
    } catch (...) {
        currentCmd_ = -1;
        throw;
    }
    currentCmd_ = -1;
    last_.result = result;
    last_.out = out;
    ++commandCounts_[cmd];

    if (cmd == PF_Cmd_GLOBAL_SETUP) {
        version_ = out.my_version;
        outFlags_ = out.out_flags;
        outFlags2_ = out.out_flags2;
        globalData_ = out.global_data;
    } else if (cmd == PF_Cmd_GLOBAL_SETDOWN) {
        globalData_ = nullptr;
    } else if (cmd == PF_Cmd_PARAMS_SETUP) {
        effectNumParams_ = out.num_params;
    }
    if (instance && isSequenceCommand(cmd)) {
        PF_Handle previous = instance->sequenceData();
        instance->setSequenceData(out.sequence_data);
        // A re-set-up that returns a new handle leaves the old one to the host, which frees it
        // unless the effect already did.
        HandleHeap& heap = HandleHeap::process();
        if (cmd == PF_Cmd_SEQUENCE_RESETUP && previous && previous != out.sequence_data && heap.isLive(previous))
            heap.dispose(previous);
    }
    if (instance && hostBuiltParams) takeBackChangedParams(*instance);
    if (out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) {
        out.return_msg[sizeof out.return_msg - 1] = '\0';
        displayedMessages_.emplace_back(out.return_msg);
        if (logMode_ == LogMode::Stderr) std::fprintf(stderr, "[effect message] %s\n", out.return_msg);
    }
    return result;
}

int Host::commandCount(PF_Cmd cmd) const {
    auto it = commandCounts_.find(cmd);
    return it == commandCounts_.end() ? 0 : it->second;
}

const ParamDefinition& Host::definition(PF_ParamIndex index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= definitions_.size())
        throw HostError("Host: no parameter " + std::to_string(index) + " (the effect registered " +
                        std::to_string(definitions_.size()) + " including the input layer)");
    return definitions_[static_cast<std::size_t>(index)];
}

std::vector<Instance*> Host::instances() {
    std::vector<Instance*> result;
    for (auto& instance : instances_) result.push_back(instance.get());
    return result;
}

// ---- Commands

PF_Err Host::globalSetup() {
    return send(PF_Cmd_GLOBAL_SETUP, nullptr);
}

PF_Err Host::globalSetdown() {
    return send(PF_Cmd_GLOBAL_SETDOWN, nullptr);
}

PF_Err Host::paramsSetup() {
    // A new registration replaces the old one; every instance's streams start again from the new
    // definitions' defaults.
    for (auto& instance : instances_) instance->resetStreams();
    definitions_.resize(1);
    addParamCalls_ = 0;
    PF_Err result = send(PF_Cmd_PARAMS_SETUP, nullptr);
    for (auto& instance : instances_) instance->syncStreams();
    return result;
}

PF_Err Host::start() {
    if (PF_Err err = globalSetup()) return err;
    return paramsSetup();
}

PF_Err Host::shutdown() {
    PF_Err first = PF_Err_NONE;
    for (auto& instance : instances_) {
        if (!instance->sequenceData()) continue;
        PF_Err err = sequenceSetdown(*instance);
        if (!first) first = err;
    }
    PF_Err err = globalSetdown();
    return first ? first : err;
}

PF_Err Host::about(std::string* text) {
    PF_Err result = send(PF_Cmd_ABOUT, nullptr);
    if (text) {
        last_.out.return_msg[sizeof last_.out.return_msg - 1] = '\0';
        *text = last_.out.return_msg;
    }
    return result;
}

Instance& Host::newInstance(A_long layerWidth, A_long layerHeight) {
    A_long width = layerWidth > 0 ? layerWidth : settings_.defaultLayerWidth;
    A_long height = layerHeight > 0 ? layerHeight : settings_.defaultLayerHeight;
    int id = static_cast<int>(instances_.size()) + 1;
    instances_.push_back(std::make_unique<Instance>(*this, id, width, height));
    return *instances_.back();
}

Instance& Host::addInstance(A_long layerWidth, A_long layerHeight) {
    Instance& instance = newInstance(layerWidth, layerHeight);
    sequenceSetup(instance);
    return instance;
}

PF_Err Host::sequenceSetup(Instance& instance) {
    return send(PF_Cmd_SEQUENCE_SETUP, nullptr, &instance);
}

PF_Err Host::sequenceResetup(Instance& instance) {
    return send(PF_Cmd_SEQUENCE_RESETUP, nullptr, &instance);
}

PF_Err Host::sequenceSetdown(Instance& instance) {
    return send(PF_Cmd_SEQUENCE_SETDOWN, nullptr, &instance);
}

PF_Err Host::userChangedParam(Instance& instance, PF_ParamIndex index) {
    PF_UserChangedParamExtra extra{index};
    PF_Err result = send(PF_Cmd_USER_CHANGED_PARAM, &extra, &instance);
    const PF_OutFlags flags = last_.out.out_flags;
    if (flags & PF_OutFlag_FORCE_RERENDER) ++rerenderRequests_;
    if (flags & PF_OutFlag_REFRESH_UI) {
        ++uiRefreshRequests_;
        CommandRecord change = last_;
        updateParamsUi(instance);
        last_ = change;
    }
    return result;
}

PF_Err Host::updateParamsUi(Instance& instance) {
    return send(PF_Cmd_UPDATE_PARAMS_UI, nullptr, &instance);
}

// ---- PF_InData callbacks

Host* HostCallbacks::resolve(PF_ProgPtr effectRef, Instance** instance) {
    auto* ref = reinterpret_cast<EffectRef*>(effectRef);
    if (instance) *instance = nullptr;
    if (!ref || ref->magic != EffectRef::kMagic || !ref->host) return nullptr;
    if (instance) *instance = ref->instance;
    return ref->host;
}

PF_Err HostCallbacks::checkoutParam(PF_ProgPtr effectRef, PF_ParamIndex index, A_long whatTime, A_long timeStep,
                                    A_u_long timeScale, PF_ParamDef* param) {
    Instance* instance = nullptr;
    Host* host = resolve(effectRef, &instance);
    if (!host || !instance || !param) return PF_Err_BAD_CALLBACK_PARAM;
    ParamCheckout call{index, whatTime, timeStep, timeScale, PF_Err_NONE};
    if (index < 0 || static_cast<std::size_t>(index) >= host->definitions_.size()) {
        call.result = PF_Err_INVALID_INDEX;
    } else if (auto fault = host->faults_.paramCheckout.find(index); fault != host->faults_.paramCheckout.end()) {
        call.result = fault->second;
    } else {
        instance->fillCheckedOut(index, HostTime{whatTime, timeScale}, host->settings_.downsampleX,
                                 host->settings_.downsampleY, param);
    }
    instance->checkouts_.recordCheckout(call, param);
    return call.result;
}

PF_Err HostCallbacks::checkinParam(PF_ProgPtr effectRef, PF_ParamDef* param) {
    Instance* instance = nullptr;
    Host* host = resolve(effectRef, &instance);
    if (!host || !instance || !param) return PF_Err_BAD_CALLBACK_PARAM;
    instance->checkouts_.recordCheckin(param);
    return PF_Err_NONE;
}

PF_Err HostCallbacks::addParam(PF_ProgPtr effectRef, PF_ParamIndex index, PF_ParamDefPtr def) {
    Host* host = resolve(effectRef, nullptr);
    if (!host || !def || host->currentCmd_ != PF_Cmd_PARAMS_SETUP) return PF_Err_BAD_CALLBACK_PARAM;
    ++host->addParamCalls_;
    auto next = static_cast<PF_ParamIndex>(host->definitions_.size());
    if (index != -1 && index != next) return PF_Err_INVALID_INDEX;
    if (host->faults_.addParamAtIndex == next) return host->faults_.addParamError;
    host->definitions_.emplace_back(next, *def);
    return PF_Err_NONE;
}

PF_Err HostCallbacks::abort(PF_ProgPtr) {
    return PF_Err_NONE;
}

PF_Err HostCallbacks::progress(PF_ProgPtr, A_long, A_long) {
    return PF_Err_NONE;
}

PF_Handle HostCallbacks::newHandle(A_u_longlong size) {
    if (Host* host = Host::active(); host && host->faults_.newHandle) return nullptr;
    return HandleHeap::process().allocate(size);
}

void* HostCallbacks::lockHandle(PF_Handle handle) {
    return HandleHeap::process().lock(handle);
}

void HostCallbacks::unlockHandle(PF_Handle handle) {
    HandleHeap::process().unlock(handle);
}

void HostCallbacks::disposeHandle(PF_Handle handle) {
    HandleHeap::process().dispose(handle);
}

A_u_longlong HostCallbacks::handleSize(PF_Handle handle) {
    return HandleHeap::process().size(handle);
}

PF_Err HostCallbacks::resizeHandle(A_u_longlong newSize, PF_Handle* handle) {
    HandleHeap& heap = HandleHeap::process();
    if (!handle || !heap.isLive(*handle)) return PF_Err_BAD_CALLBACK_PARAM;
    return heap.resize(*handle, newSize) ? PF_Err_NONE : PF_Err_OUT_OF_MEMORY;
}

int HostCallbacks::ansiSprintf(A_char* buffer, const A_char* format, ...) {
    if (!buffer || !format) return -1;
    // The host's callback knows no buffer size; every buffer it is meant for (return_msg and the
    // like) holds 256 bytes.
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, PF_MAX_EFFECT_MSG_LEN + 1, format, args);
    va_end(args);
    return length;
}

A_char* HostCallbacks::ansiStrcpy(A_char* dest, const A_char* src) {
    if (!dest || !src) return dest;
    return std::strcpy(dest, src);
}

}  // namespace minihost
