// One scene's commands under every host fault the effect can meet, one at a time: each suite it
// tries to acquire withheld, each suite slot it calls answering an error. The effect returns its
// defined code, gives back every handle and suite, and the same commands without the fault then
// give the fault-free frame again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "AE_GeneralPlug.h"
#include "frame/frame_settings.h"
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

struct Step {
    const char* name;
    std::function<PF_Err()> run;
    std::set<Suite> required;  // a missing one ends the command with 512; others are lived without
};

class HostFaults : public ::testing::Test {
protected:
    void SetUp() override { saved = processState(); }
    void TearDown() override { processState() = saved; }

    // A new host and process: the effect's layer with a closed and an open mask, under a camera
    // and a light, with an image layer as its Source Layer; the fault armed; then every command.
    std::vector<PF_Err> openAndRun(const std::string& failingSlot = {}, const Suite& withheld = {}) {
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
            return comp->addLayer(layer);
        };
        minihost::Layer& camera = add(minihost::LayerType::Camera, comp->defaultCameraPosition());
        camera.pointOfInterest = comp->defaultPointOfInterest();
        camera.zoom = comp->defaultZoom();
        add(minihost::LayerType::Light, {100, 50, -200});
        minihost::Layer& effectLayer = add(minihost::LayerType::Effect, {160, 90, 0});
        std::tie(effectLayer.anchor, effectLayer.hasMotionBlur) = std::tuple(minihost::Vec3{160, 90, 0}, true);
        const auto corner = [](double x, double y) { return minihost::MaskVertex{x, y, 0, 0, 0, 0}; };
        effectLayer.masks = {{"closed", true, {corner(20, 20), corner(200, 20), corner(200, 120)}},
                             {"open", false, {corner(30, 150), corner(290, 150)}}};
        effectLayerId = effectLayer.id;
        imageId = add(minihost::LayerType::Image, {100, 80, 0}).id;
        host->setComposition(comp);
        host->faults().failingSlot = failingSlot;
        if (!withheld.first.empty()) host->suites().withhold(withheld.first, withheld.second);
        return run(false);
    }

    // The steps (a rerun skips parameter and sequence set-up), each step's slots and suites noted;
    // after each, every handle and suite has come back.
    std::vector<PF_Err> run(bool isRerun) {
        const std::vector<Step> steps = {
            {"global set-up", [&] { return host->globalSetup(); }, {}},
            {"parameter set-up", [&] { return host->paramsSetup(); }, {}},
            {"sequence set-up",
             [&] {
                 instance = &host->addInstance(320, 180);
                 instance->setLayerId(effectLayerId);
                 instance->setLayer(kParamSourceLayer, minihost::LayerSource{&source, {}, 0, 0, imageId});
                 return host->lastCommand().result;
             },
             {}},
            {"colour mode", [&] { return pick(kParamColorMode, 2); }, {kPf, kStream7, kDynamic, kEffect}},
            {"parameter UI", [&] { return host->updateParamsUi(*instance); }, {kPf, kStream7, kDynamic, kEffect}},
            {"preset", [&] { return pick(kParamPreset, 11); }, {kPf, kStream7, kKeyframe, kEffect}},
            {"frame",
             [&] {
                 for (const auto& [index, choice] : {std::pair{kParamPathEmitter, 2}, {kParamLightSource, 2},
                                                    {kParamKeyLight, 2}, {kParamMotionBlur, 3}})
                     instance->setPopup(index, choice);
                 resetFrameSettings(gFrame);
                 minihost::World output(320, 180, 8);
                 return host->renderFrame(*instance, output);
             },
             {}},
        };
        std::vector<PF_Err> codes;
        for (size_t i = 0; i < steps.size(); ++i) {
            if (isRerun && (i == 1 || i == 2)) continue;
            host->aegp().clearSlotsCalled();
            host->suites().resetCounts();
            const auto live = [&] {
                const minihost::AegpState& a = host->aegp();
                return std::tuple(a.liveEffects(), a.liveStreams(), a.liveAddKeyframes(), a.liveMasks(),
                                  a.liveStreamValues());
            };
            const auto before = live();
            codes.push_back(steps[i].run());
            // A disposal (or an end of adding keys) the host refused leaves its handle live by the
            // host's count, not by the effect's.
            const std::string& failing = host->faults().failingSlot;
            if (failing.find("Dispose") == std::string::npos && failing.find("_End") == std::string::npos) {
                EXPECT_EQ(live(), before) << steps[i].name;
            }
            EXPECT_TRUE(host->suites().unbalanced().empty()) << steps[i].name;
            slots.resize(steps.size()), suites.resize(steps.size());
            slots[i] = host->aegp().slotsCalled(), suites[i] = host->suites().used();
            required.resize(steps.size()), required[i] = steps[i].required;
        }
        return codes;
    }
    PF_Err pick(PF_ParamIndex index, A_long choice) {
        instance->setPopup(index, choice);
        return host->userChangedParam(*instance, index);
    }

    const Suite kPf{kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1};
    const Suite kStream7{kAEGPStreamSuite, kAEGPStreamSuiteVersion2};
    const Suite kDynamic{kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2};
    const Suite kEffect{kAEGPEffectSuite, kAEGPEffectSuiteVersion4};
    const Suite kKeyframe{kAEGPKeyframeSuite, kAEGPKeyframeSuiteVersion4};
    ProcessState saved;
    std::unique_ptr<minihost::Host> host;
    minihost::Instance* instance = nullptr;
    int effectLayerId = 0, imageId = 0;
    minihost::World source = [] {
        minihost::World w(320, 180, 8);
        for (int y = 60; y < 100; ++y)
            for (int x = 80; x < 120; ++x) w.pixel8(x, y) = PF_Pixel8{255, 255, 128, 0};
        return w;
    }();
    std::vector<std::vector<std::string>> slots;
    std::vector<std::vector<Suite>> suites;
    std::vector<std::set<Suite>> required;
};

TEST_F(HostFaults, EveryWithheldSuiteAndFailingSlotIsLivedWithAndLeavesNothingBehind) {
    minihost::clearUnexpectedSlotCalls();
    ASSERT_EQ(openAndRun(), std::vector<PF_Err>(7, PF_Err_NONE));
    const FrameSettings clean = gFrame;
    ASSERT_EQ(std::tuple(clean.cameraValid, clean.lightTrackCount > 0), std::tuple(1, true));
    // The faults to try: every slot and suite the commands used, each with the steps that used it.
    std::vector<std::pair<std::string, std::set<size_t>>> faults;
    const auto note = [&](const std::string& fault, size_t step) {
        auto it = std::find_if(faults.begin(), faults.end(), [&](const auto& f) { return f.first == fault; });
        (it == faults.end() ? faults.emplace_back(fault, std::set<size_t>{}) : *it).second.insert(step);
    };
    const std::vector<std::vector<std::string>> cleanSlots = slots;
    const std::vector<std::vector<Suite>> cleanSuites = suites;
    for (size_t step = 0; step < cleanSlots.size(); ++step) {
        for (const std::string& slot : cleanSlots[step]) note(slot, step);
        for (const auto& [name, version] : cleanSuites[step]) note("!" + name + " " + std::to_string(version), step);
    }
    std::set<std::string> reached;
    for (const auto& [fault, steps] : faults) reached.insert(fault);
    for (const char* slot :
         {"AEGP_UtilitySuite6.AEGP_RegisterWithAEGP", "AEGP_DynamicStreamSuite2.AEGP_SetDynamicStreamFlag",
          "AEGP_KeyframeSuite4.AEGP_AddKeyframes", "AEGP_StreamSuite6.AEGP_GetNewStreamValue",
          "AEGP_LayerSuite8.AEGP_GetLayerToWorldXform", "AEGP_StreamSuite6.AEGP_GetLayerStreamValue",
          "AEGP_PFInterfaceSuite1.AEGP_GetEffectCameraMatrix", "AEGP_MaskOutlineSuite3.AEGP_GetMaskOutlineVertexInfo",
          "AEGP_CompSuite11.AEGP_GetCompFlags"})
        EXPECT_TRUE(reached.count(slot)) << slot << " is not reached: the sweep would miss it";

    for (const auto& [fault, steps] : faults) {
        SCOPED_TRACE(fault);
        const bool isSuite = fault[0] == '!';
        const std::size_t space = fault.rfind(' ');
        const Suite suite = isSuite ? Suite{fault.substr(1, space - 1), std::stoi(fault.substr(space + 1))} : Suite{};
        std::vector<PF_Err> expected;
        for (size_t step = 0; step < cleanSlots.size(); ++step)
            expected.push_back(isSuite && steps.count(step) && required[step].count(suite)
                                   ? PF_Err_INTERNAL_STRUCT_DAMAGED
                                   : PF_Err_NONE);
        EXPECT_EQ(openAndRun(isSuite ? std::string() : fault, suite), expected);
        host->faults().failingSlot.clear();
        host->suites().restoreAll();
        EXPECT_EQ(run(true), std::vector<PF_Err>(5, PF_Err_NONE));
        EXPECT_EQ(std::memcmp(&gFrame, &clean, sizeof clean), 0);
    }
    EXPECT_TRUE(minihost::unexpectedSlotCalls().empty());
}

}  // namespace
}  // namespace cindel
