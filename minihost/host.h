// minihost's Host: drives an effect through EffectMain exactly as the host application does, and
// nothing else. It fills PF_InData with the host's callbacks, utilities, suites and times; keeps
// the parameter definitions the effect registers and, per instance, the sequence data and the
// parameter streams; answers checkout_param, the smart pre-render and smart render callbacks and
// the suites; and records what the effect did (out flags, checkouts, suite balance, the bytes it
// mixed into the cache identity) so that tests can assert on it.
//
// The effect comes in as an EffectEntry: a library opened with PluginLibrary::open, or a plain
// function in the test's own process. Failures can be injected (Faults, SuiteRegistry::withhold,
// a Premiere Pro application id) to exercise the effect's error paths.
//
// One command at a time: the host application calls an effect like this one from one thread, and
// so does minihost.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AE_EffectCB.h"
#include "AE_GeneralPlug.h"
#include "minihost/instance.h"
#include "minihost/param_stream.h"
#include "minihost/plugin_library.h"
#include "minihost/suites.h"
#include "minihost/world.h"

namespace minihost {

class Composition;
class AegpState;

// Application ids the host reports in PF_InData::appl_id.
constexpr A_long kApplIdHost = cindel::fourCharCode('F', 'X', 'T', 'C');
constexpr A_long kApplIdPremierePro = cindel::fourCharCode('P', 'r', 'M', 'r');

// What the host tells the effect about time, resolution and itself; read at every command.
struct HostSettings {
    A_long applId = kApplIdHost;
    A_long currentTime = 0;
    A_long timeStep = 1;
    A_u_long timeScale = 24;
    A_long totalTime = 240;
    PF_RationalScale downsampleX{1, 1};
    PF_RationalScale downsampleY{1, 1};
    PF_RationalScale pixelAspectRatio{1, 1};
    // 16.16 fractions of a full turn, as the host hands them to effects: 1.0 is 360°, so 0x8000
    // is a 180° shutter.
    PF_Fixed shutterAngle = 1 << 15;
    PF_Fixed shutterPhase = 0;
    PF_Quality quality = PF_Quality_HI;
    PF_Field field = PF_Field_FRAME;
    A_long defaultLayerWidth = 640;  // for instances made without a size
    A_long defaultLayerHeight = 360;

    // The host's preview resolutions (Full 1, Half 2, Third 3, Quarter 4), as the host renders
    // them: PF_InData's downsample factors become 1/factor on both axes and point parameters check
    // out scaled by them, while PF_InData's width and height stay the layer's full size. The
    // pre-render request, the output world (the caller makes it: atPreviewScale gives its size)
    // and every layer checkout, rectangles and pixels, shrink to the preview's pixels.
    void setPreviewResolution(int factor) {
        downsampleX = downsampleY = PF_RationalScale{1, static_cast<A_u_long>(factor > 0 ? factor : 1)};
    }
    void setFrame(A_long frame) { currentTime = frame * timeStep; }
    HostTime now() const { return HostTime{currentTime, timeScale}; }
    void poseAsPremierePro(bool premiere = true) { applId = premiere ? kApplIdPremierePro : kApplIdHost; }
};

// A full-resolution size at a downsample factor: the pixels that cover it, ⌈size · num / den⌉.
A_long atPreviewScale(A_long size, const PF_RationalScale& downsample);

// Failures a test can make the host produce.
struct Faults {
    // add_param fails for the call that would register this index (1 = the first parameter after
    // the input layer); 0 never.
    PF_ParamIndex addParamAtIndex = 0;
    PF_Err addParamError = PF_Err_OUT_OF_MEMORY;
    std::map<PF_ParamIndex, PF_Err> paramCheckout;  // checkout_param of an index fails
    std::map<PF_ParamIndex, PF_Err> layerCheckout;  // pre-render checkout_layer of an index fails
    std::map<A_long, PF_Err> layerPixels;           // checkout_layer_pixels of a checkout id fails
    PF_Err outputCheckout = PF_Err_NONE;            // checkout_output fails with this
    bool newHandle = false;                         // host_new_handle returns null
    bool pixelFormatQuery = false;                  // the world suite's PF_GetPixelFormat fails
    A_Err registerWithAegp = A_Err_NONE;            // AEGP_RegisterWithAEGP fails with this
    // This implemented suite slot, "Table.slot" as AegpState::slotsCalled names it, answers
    // A_Err_GENERIC (null for a pointer) without doing anything; empty: none.
    std::string failingSlot;
};

// What happened in the last command.
struct CommandRecord {
    PF_Cmd cmd = -1;
    PF_Err result = PF_Err_NONE;
    PF_OutData out{};
    std::vector<PF_ParamIndex> changedParams;  // values taken back through PF_ChangeFlag_CHANGED_VALUE
};

struct PreRenderCall {
    PF_RenderRequest request{};  // an empty rect asks for the whole layer
    A_short bitdepth = 8;
    bool offerGuidMixIn = true;  // false poses as an older host without GuidMixInPtr
};

struct PreRenderResult {
    PF_Err result = PF_Err_NONE;
    PF_PreRenderOutput output{};
    std::vector<LayerCheckout> layerCheckouts;
    std::vector<std::vector<std::uint8_t>> guidMixes;  // each GuidMixInPtr call's bytes, in order
};

// State of the host's built-in AEGP Utility and PF World suites.
struct BuiltinSuiteState {
    AEGP_PluginID pluginIdToGive = 42;
    std::vector<std::string> registeredNames;  // names given to AEGP_RegisterWithAEGP
    std::vector<std::string> reportedInfo;     // AEGP_ReportInfo texts
    int undoGroupDepth = 0;
    int pixelFormatQueries = 0;
    std::map<const void*, std::unique_ptr<World>> effectWorlds;  // PF_NewWorld's, by pixel address
};

enum class LogMode { Discard, Stderr, Capture };

class Host {
public:
    explicit Host(EffectEntry entry);
    explicit Host(EffectMainFunc* effectMain);
    explicit Host(std::shared_ptr<PluginLibrary> library);
    // Loads the plug-in at path (throws HostError naming the file when it cannot).
    static std::unique_ptr<Host> load(const std::string& path);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    HostSettings& settings() { return settings_; }
    Faults& faults() { return faults_; }
    SuiteRegistry& suites() { return suites_; }
    BuiltinSuiteState& builtinSuites() { return builtin_; }
    // The handles the AEGP PF Interface, Stream, Effect and Keyframe suites gave out (aegp_suites.h).
    AegpState& aegp() { return *aegp_; }

    // The effect's diagnostic lines: dropped, printed to stderr, or kept for capturedLog().
    // Needs the effect's log hook; without one the lines never leave the effect.
    void setLogMode(LogMode mode);
    static std::vector<std::string> capturedLog();
    static void clearCapturedLog();

    // The effect's volume export: from the next smart render on, the receiver gets each frame's
    // fields during the render (the record's pointers are the effect's, valid only in the call).
    // With isVolumeOnly the effect skips the ray march and leaves the output transparent. An empty
    // receiver turns the export off. False when the effect offers no volume export. Whatever the
    // receiver throws is kept from the effect and rethrown by rethrowVolumeFailure().
    using VolumeReceiver = std::function<void(const CindelVolumeFields&)>;
    bool setVolumeReceiver(VolumeReceiver receiver, bool isVolumeOnly = false);
    void rethrowVolumeFailure();
    // The effect's sink calls this (through a plain function) with each frame's record.
    void receiveVolume(const CindelVolumeFields* fields);

    // ---- Commands. Each returns the effect's PF_Err; lastCommand() has the details.
    PF_Err globalSetup();
    PF_Err globalSetdown();
    PF_Err paramsSetup();
    PF_Err start();  // global set-up then parameter set-up, stopping at the first error
    // Sequence set-down of every instance that still has sequence data, then global set-down;
    // the first error is returned, but every command is sent.
    PF_Err shutdown();
    PF_Err about(std::string* text = nullptr);

    // A new instance with its own layer (0 = the settings' default size). addInstance also sends
    // sequence set-up; newInstance sends nothing.
    Instance& newInstance(A_long layerWidth = 0, A_long layerHeight = 0);
    Instance& addInstance(A_long layerWidth = 0, A_long layerHeight = 0);
    PF_Err sequenceSetup(Instance& instance);
    PF_Err sequenceResetup(Instance& instance);
    PF_Err sequenceSetdown(Instance& instance);
    // Sends PF_Cmd_USER_CHANGED_PARAM as the host does once the user has changed the parameter's
    // value (set the stream first), then honours the out flags: PF_OutFlag_FORCE_RERENDER is
    // counted, PF_OutFlag_REFRESH_UI makes the host send PF_Cmd_UPDATE_PARAMS_UI. lastCommand()
    // stays the user change's record; commandCount() shows the follow-up.
    PF_Err userChangedParam(Instance& instance, PF_ParamIndex index);
    PF_Err updateParamsUi(Instance& instance);

    PreRenderResult preRender(Instance& instance, const PreRenderCall& call = {});
    // Smart render of the frame the last pre-render prepared. output may be null or any odd world;
    // bitdepth 0 takes the world's own depth (8 for worlds that are not Worlds).
    PF_Err smartRender(Instance& instance, PF_EffectWorld* output, A_short bitdepth = 0);
    PF_Err smartRender(Instance& instance, World& output) { return smartRender(instance, output.get()); }
    // Pre-render asking for the output's rectangle, then smart render into it when that succeeded.
    PF_Err renderFrame(Instance& instance, World& output);

    // Any selector with any extra record, for tests of commands the host does not otherwise send.
    // params is built by the host for instance commands (null for smart commands) unless given.
    PF_Err send(PF_Cmd cmd, void* extra, Instance* instance = nullptr, PF_ParamDef** params = nullptr,
                PF_LayerDef* output = nullptr);

    // ---- What the effect told the host.
    const CommandRecord& lastCommand() const { return last_; }
    int commandCount(PF_Cmd cmd) const;
    // User changes whose out flags asked for a re-render, and for a refresh of the controls.
    int rerenderRequests() const { return rerenderRequests_; }
    int uiRefreshRequests() const { return uiRefreshRequests_; }
    A_u_long effectVersion() const { return version_; }
    PF_OutFlags globalOutFlags() const { return outFlags_; }
    PF_OutFlags2 globalOutFlags2() const { return outFlags2_; }
    A_long effectNumParams() const { return effectNumParams_; }  // out_data->num_params at set-up
    const std::vector<std::string>& displayedMessages() const { return displayedMessages_; }

    const std::deque<ParamDefinition>& definitions() const { return definitions_; }
    const ParamDefinition& definition(PF_ParamIndex index) const;
    int addParamCalls() const { return addParamCalls_; }

    std::vector<Instance*> instances();

    // The composition the instances are applied in (null until set). The AEGP suites answer the
    // effect's questions about layers, lights, cameras and masks from it.
    void setComposition(std::shared_ptr<Composition> composition) { composition_ = std::move(composition); }
    Composition* composition() const { return composition_.get(); }

    const PF_InData& lastInData() const { return inData_; }

    // The Host sending a command now, else the most recently made one still alive.
    static Host* active();

private:
    friend struct HostCallbacks;

    void initialise();
    void fillInData(Instance* instance);
    void buildParamsArray(Instance& instance);
    void takeBackChangedParams(Instance& instance);
    EffectRef* refFor(Instance* instance) { return instance ? &instance->ref_ : &hostRef_; }

    EffectEntry entry_;
    std::shared_ptr<PluginLibrary> library_;
    HostSettings settings_;
    Faults faults_;
    SuiteRegistry suites_;
    BuiltinSuiteState builtin_;
    std::unique_ptr<AegpState> aegp_;
    EffectRef hostRef_;
    PF_UtilCallbacks utils_{};

    std::deque<ParamDefinition> definitions_;
    std::deque<std::unique_ptr<Instance>> instances_;
    std::shared_ptr<Composition> composition_;
    PF_Handle globalData_ = nullptr;
    A_u_long version_ = 0;
    PF_OutFlags outFlags_ = 0;
    PF_OutFlags2 outFlags2_ = 0;
    A_long effectNumParams_ = 0;
    int addParamCalls_ = 0;
    std::map<PF_Cmd, int> commandCounts_;
    int rerenderRequests_ = 0;
    int uiRefreshRequests_ = 0;
    std::vector<std::string> displayedMessages_;
    CommandRecord last_;
    LogMode logMode_ = LogMode::Discard;
    VolumeReceiver volumeReceiver_;
    std::exception_ptr volumeFailure_;

    // The command in flight.
    PF_Cmd currentCmd_ = -1;
    PF_InData inData_{};
    std::vector<PF_ParamDef> paramValues_;
    std::vector<PF_ParamDef*> paramPointers_;
    std::vector<std::vector<std::uint8_t>> guidMixes_;
    PF_EffectWorld* currentOutput_ = nullptr;
};

}  // namespace minihost
