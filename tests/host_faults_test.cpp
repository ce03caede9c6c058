// One scene's commands under every host fault the effect meets, one at a time: each suite it tries
// to acquire withheld, each slot it calls answering an error. The effect returns its defined code and
// gives back every handle and suite; the commands without the fault then give the fault-free frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "frame/frame_timing.h"
#include "frame/render_frame.h"
#include "gpu/gpu_runtime.h"
#include "host/effect_main.h"
#include "host/process_state.h"
#include "minihost/aegp_suites.h"
#include "minihost/composition.h"
#include "minihost/host.h"
#include "minihost/unexpected_slot.h"
#include "minihost/world.h"
#include "params/param_index.h"

namespace cindel {
namespace {

using Suite = std::pair<std::string, int32>;
FrameSettings gFrame;

// Without a GPU every frame's pixels are one fill, so after a successful render the probe builds
// the frame's settings again (the same host calls, under the same fault) for the test to compare.
PF_Err probeMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    const PF_Err err = effectMain(cmd, in, out, params, output, extra);
    FrameCheckout frame;
    if (cmd == PF_Cmd_SMART_RENDER && err == PF_Err_NONE &&
        checkoutFrame(in, static_cast<PF_SmartRenderExtra*>(extra), frame) == PF_Err_NONE)
        buildFrameSettings(in, frame, frameTiming(in->current_time, in->time_step, in->time_scale), gFrame);
    return err;
}

// A missing suite of `required` ends the command with 512; the others are lived without.
struct Step {
    const char* name;
    std::function<PF_Err()> run;
    std::set<Suite> required;
};
// A slot that answers an error or a withheld suite, and the steps that used it.
struct Fault {
    std::string slot;
    Suite suite;
    std::set<size_t> steps;
};

class HostFaults : public ::testing::Test {
protected:
    void SetUp() override { saved = processState(); }
    void TearDown() override { processState() = saved; }

    // A new host and process: the effect's layer with a closed and an open mask, under a camera
    // and a light, with an image layer as its Source Layer; the fault armed; then every step.
    std::vector<PF_Err> openAndRun(const Fault& fault = {}) {
        processState() = saved;
        processState().gpuAvailable = true;  // skips the GPU start-up; not ready, frames take the no-GPU path
        processState().aegpPluginId = 0;
        gpuRuntime().ready = false;
        host = std::make_unique<minihost::Host>(&probeMain);
        auto comp = std::make_shared<minihost::Composition>();
        std::tie(comp->width, comp->height, comp->hasMotionBlur) = std::tuple(320, 180, true);
        const auto add = [&](minihost::LayerType type, minihost::Vec3 position) -> minihost::Layer& {
            minihost::Layer layer;
            std::tie(layer.type, layer.width, layer.height, layer.position) = std::tuple(type, 320, 180, position);
            std::tie(layer.anchor, layer.hasMotionBlur) = std::tuple(minihost::Vec3{160, 90, 0}, true);
            return comp->addLayer(layer);
        };
        minihost::Layer& camera = add(minihost::LayerType::Camera, comp->defaultCameraPosition());
        std::tie(camera.pointOfInterest, camera.zoom) = std::tuple(comp->defaultPointOfInterest(), comp->defaultZoom());
        add(minihost::LayerType::Light, {100, 50, -200});
        minihost::Layer& effectLayer = add(minihost::LayerType::Effect, {160, 90, 0});
        const auto at = [](double x, double y) { return minihost::MaskVertex{x, y, 0, 0, 0, 0}; };
        effectLayer.masks = {{"closed", true, {at(20, 20), at(200, 20), at(200, 120)}},
                             {"open", false, {at(30, 150), at(290, 150)}}};
        effectLayerId = effectLayer.id;
        imageId = add(minihost::LayerType::Image, {100, 80, 0}).id;
        host->setComposition(comp);
        host->faults().failingSlot = fault.slot;
        if (!fault.suite.first.empty()) host->suites().withhold(fault.suite.first, fault.suite.second);
        return run(false);
    }

    // The steps (a rerun skips parameter and sequence set-up), each one's slots and suites noted in
    // `used`; after each, every handle and suite the effect took has come back. A disposal (or an
    // end of adding keys) the host refused leaves its handle live by the host's count, not the effect's.
    std::vector<PF_Err> run(bool isRerun) {
        const auto live = [](const minihost::AegpState& a) {
            return std::tuple(a.liveEffects(), a.liveStreams(), a.liveAddKeyframes(), a.liveMasks(),
                              a.liveStreamValues());
        };
        const std::string& failing = host->faults().failingSlot;
        const bool mayKeep = failing.find("Dispose") != std::string::npos || failing.find("_End") != std::string::npos;
        std::vector<PF_Err> codes;
        for (size_t i = 0; i < steps.size(); ++i) {
            if (isRerun && i == 1) continue;
            host->aegp().clearSlotsCalled();
            host->suites().resetCounts();
            const auto before = live(host->aegp());
            codes.push_back(steps[i].run());
            EXPECT_TRUE(mayKeep || live(host->aegp()) == before) << steps[i].name;
            EXPECT_TRUE(host->suites().unbalanced().empty()) << steps[i].name;
            std::vector<Fault> seen;
            for (const std::string& slot : host->aegp().slotsCalled()) seen.push_back({slot, {}, {}});
            for (const Suite& suite : host->suites().used()) seen.push_back({"", suite, {}});
            for (const Fault& f : seen) {
                auto it = std::find_if(used.begin(), used.end(), [&](const Fault& u) {
                    return std::tie(u.slot, u.suite) == std::tie(f.slot, f.suite);
                });
                (it == used.end() ? used.emplace_back(f) : *it).steps.insert(i);
            }
        }
        return codes;
    }
    PF_Err pick(PF_ParamIndex index, A_long choice) {
        instance->setPopup(index, choice);
        return host->userChangedParam(*instance, index);
    }
    PF_Err setUpParamsAndSequence() {
        if (const PF_Err err = host->paramsSetup()) return err;
        instance = &host->addInstance(320, 180);
        instance->setLayerId(effectLayerId);
        instance->setLayer(kParamSourceLayer, minihost::LayerSource{&source, {}, 0, 0, imageId});
        return host->lastCommand().result;
    }
    PF_Err frame() {
        for (const auto& [index, choice] :
             {std::pair{kParamPathEmitter, 2}, {kParamLightSource, 2}, {kParamKeyLight, 2}, {kParamMotionBlur, 3}})
            instance->setPopup(index, choice);
        resetFrameSettings(gFrame);
        minihost::World output(320, 180, 8);
        return host->renderFrame(*instance, output);
    }

    const Suite kPf{kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1},
        kStream7{kAEGPStreamSuite, kAEGPStreamSuiteVersion2}, kEffect{kAEGPEffectSuite, kAEGPEffectSuiteVersion4};
    const std::set<Suite> kUi{kPf, kStream7, kEffect, {kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2}};
    const std::set<Suite> kPreset{kPf, kStream7, kEffect, {kAEGPKeyframeSuite, kAEGPKeyframeSuiteVersion4}};
    const std::vector<Step> steps = {
        {"global set-up", [&] { return host->globalSetup(); }, {}},
        {"parameter and sequence set-up", [&] { return setUpParamsAndSequence(); }, {}},
        {"colour mode", [&] { return pick(kParamColorMode, 2); }, kUi},
        {"parameter UI", [&] { return host->updateParamsUi(*instance); }, kUi},
        {"burn preset", [&] { return pick(kParamPreset, 11); }, kPreset},
        {"frame", [&] { return frame(); }, {}},
    };
    ProcessState saved;
    std::unique_ptr<minihost::Host> host;
    minihost::Instance* instance = nullptr;
    int effectLayerId = 0, imageId = 0;
    minihost::World source{320, 180, 8};  // opaque where y is 60 to 99 and x 80 to 119
    std::vector<Fault> used;
};

TEST_F(HostFaults, EveryWithheldSuiteAndFailingSlotIsLivedWithAndLeavesNothingBehind) {
    for (int y = 60; y < 100; ++y)
        for (int x = 80; x < 120; ++x) source.pixel8(x, y) = PF_Pixel8{255, 255, 128, 0};
    minihost::clearUnexpectedSlotCalls();
    ASSERT_EQ(openAndRun(), std::vector<PF_Err>(6, PF_Err_NONE));
    const FrameSettings clean = gFrame;
    ASSERT_EQ(std::tuple(clean.cameraValid, clean.lightTrackCount > 0), std::tuple(1, true));
    const std::vector<Fault> faults = used;
    for (const char* slot : {"AEGP_UtilitySuite6.AEGP_RegisterWithAEGP", "AEGP_KeyframeSuite4.AEGP_AddKeyframes",
                             "AEGP_CompSuite11.AEGP_GetCompFlags", "AEGP_StreamSuite6.AEGP_GetNewStreamValue",
                             "AEGP_MaskOutlineSuite3.AEGP_GetMaskOutlineVertexInfo"})
        EXPECT_TRUE(std::any_of(faults.begin(), faults.end(), [&](const Fault& f) { return f.slot == slot; }))
            << slot << " is not reached: the sweep would miss it";

    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.slot + fault.suite.first);
        std::vector<PF_Err> expected;
        for (size_t i = 0; i < steps.size(); ++i)
            expected.push_back(fault.steps.count(i) && steps[i].required.count(fault.suite)
                                   ? PF_Err_INTERNAL_STRUCT_DAMAGED
                                   : PF_Err_NONE);
        EXPECT_EQ(openAndRun(fault), expected);
        host->faults().failingSlot.clear();
        host->suites().restoreAll();
        EXPECT_EQ(run(true), std::vector<PF_Err>(5, PF_Err_NONE));
        EXPECT_EQ(std::memcmp(&gFrame, &clean, sizeof clean), 0);
    }
    EXPECT_TRUE(minihost::unexpectedSlotCalls().empty());
}

}  // namespace
}  // namespace cindel
