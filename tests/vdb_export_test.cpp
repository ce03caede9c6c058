// The volume export end to end: the plug-in's volume sink as minihost installs it, and the OpenVDB
// files of `cindel render --vdb` read back with OpenVDB itself. Every voxel of a file is compared
// exactly with the fields the simulation held for the frame; a frame exported by a cold request
// and by playback gives the same file; exporting does not move a pixel of the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <tuple>

#include "cli_runner.h"
#include "minihost/host.h"
#include "params/param_index.h"
#include "tools/vdb_writer.h"

#ifdef CINDEL_HAS_OPENVDB
#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#endif

namespace cli {
namespace {

namespace fs = std::filesystem;

constexpr A_long kLayerW = 96;
constexpr A_long kLayerH = 54;
constexpr int kFrames = 8;

// One frame's record with its fields copied out of the sink's call.
struct HeldFields {
    CindelVolumeFields record{};
    std::vector<float> density, temperature, fuel, velocity;
};

HeldFields copyOf(const CindelVolumeFields& f) {
    const size_t cells = size_t(f.side) * size_t(f.side) * size_t(f.side);
    HeldFields h{f, {f.density, f.density + cells}, {f.temperatureKelvin, f.temperatureKelvin + cells},
                 {f.fuel, f.fuel + cells}, {f.velocityCellsPerSecond, f.velocityCellsPerSecond + cells * 4}};
    std::tie(h.record.density, h.record.temperatureKelvin, h.record.fuel, h.record.velocityCellsPerSecond) =
        std::make_tuple(h.density.data(), h.temperature.data(), h.fuel.data(), h.velocity.data());
    return h;
}

// The whole buffer, the padding's sentinel bytes included.
std::vector<std::uint8_t> pixelsOf(minihost::World& world) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(world.get()->data);
    return {bytes, bytes + size_t(world.get()->rowbytes) * size_t(world.get()->height)};
}

#ifdef CINDEL_HAS_OPENVDB

// Every voxel: a scalar is active exactly where its held magnitude passes the threshold, and then
// equal to it bit for bit, else the background 0; vel is active on the union of the scalars' active
// voxels, in composition pixels per second. Index (i, j, k) lies at the cell's centre,
// ((i + 0.5)·W/N, (j + 0.5)·H/N, (k + 0.5 − N/2)·W/N).
void expectFileHoldsTheFields(const fs::path& path, const HeldFields& held, int frame) {
    const CindelVolumeFields& f = held.record;
    const int N = f.side;
    openvdb::initialize();
    openvdb::io::File file(path.string());
    file.open();
    const auto scalar = [&](const char* name) { return openvdb::gridPtrCast<openvdb::FloatGrid>(file.readGrid(name)); };
    const openvdb::FloatGrid::Ptr grids[3] = {scalar("density"), scalar("temperature"), scalar("fuel")};
    const openvdb::Vec3fGrid::Ptr vel = openvdb::gridPtrCast<openvdb::Vec3fGrid>(file.readGrid("vel"));
    const openvdb::MetaMap::Ptr meta = file.getMetadata();
    ASSERT_TRUE(grids[0] && grids[1] && grids[2] && vel) << path;
    EXPECT_EQ(meta->metaValue<int32_t>("cindel_frame"), frame);
    EXPECT_TRUE(grids[0]->getGridClass() == openvdb::GRID_FOG_VOLUME && vel->isInWorldSpace());
    EXPECT_TRUE(vel->transform() == grids[0]->transform());
    for (const openvdb::Coord& c : {openvdb::Coord(0, 0, 0), openvdb::Coord(N - 1, 17, 64), openvdb::Coord(3, N - 1, N - 1)}) {
        const openvdb::Vec3d w = grids[0]->indexToWorld(c);
        EXPECT_NEAR(w.x(), (c.x() + 0.5) * f.compWidth / N, 1e-9) << c;
        EXPECT_NEAR(w.y(), (c.y() + 0.5) * f.compHeight / N, 1e-9) << c;
        EXPECT_NEAR(w.z(), (c.z() + 0.5 - N / 2.0) * f.compWidth / N, 1e-9) << c;
    }

    const std::vector<float>* values[3] = {&held.density, &held.temperature, &held.fuel};
    openvdb::FloatGrid::ConstAccessor access[3] = {grids[0]->getConstAccessor(), grids[1]->getConstAccessor(),
                                                   grids[2]->getConstAccessor()};
    const openvdb::Vec3fGrid::ConstAccessor velAccess = vel->getConstAccessor();
    size_t mismatches = 0, active[3] = {0, 0, 0}, moving = 0;
    for (size_t i = 0; i < held.density.size(); ++i) {
        const openvdb::Coord c(int(i % N), int(i / N % N), int(i / N / N));
        bool isAnyOn = false;
        for (int g = 0; g < 3; ++g) {
            const float v = (*values[g])[i];
            const bool isOn = std::fabs(v) > kVdbActiveThreshold;
            if ((access[g].isValueOn(c) != isOn || access[g].getValue(c) != (isOn ? v : 0.0f)) && ++mismatches <= 5)
                ADD_FAILURE() << grids[g]->getName() << " " << c << ": held " << v << ", file " << access[g].getValue(c);
            active[g] += isOn;
            isAnyOn = isAnyOn || isOn;
        }
        const float* v = &held.velocity[i * 4];
        const openvdb::Vec3f expected = isAnyOn ? openvdb::Vec3f(v[0] * float(f.compPerCell[0]), v[1] * float(f.compPerCell[1]),
                                                                 v[2] * float(f.compPerCell[2]))
                                                : openvdb::Vec3f(0.0f);
        if ((velAccess.isValueOn(c) != isAnyOn || velAccess.getValue(c) != expected) && ++mismatches <= 5)
            ADD_FAILURE() << "vel " << c << ": expected " << expected << ", file " << velAccess.getValue(c);
        moving += isAnyOn && expected.length() > 0.0f;
    }
    EXPECT_EQ(mismatches, 0u);
    for (int g = 0; g < 3; ++g) EXPECT_EQ(grids[g]->activeVoxelCount(), active[g]) << grids[g]->getName();
    // Not an empty grid compared with an empty grid, and sparse.
    EXPECT_TRUE(active[0] > 100 && active[1] > 100 && moving > 100 && active[0] < held.density.size() / 2)
        << active[0] << " " << active[1] << " " << moving;
}

#endif  // CINDEL_HAS_OPENVDB

// The effect in this process through minihost: frames in order without the export, then again with
// it. The pixels must not move, and the sink must get each frame's own fields.
using VdbExport = CindelRun;

TEST_F(VdbExport, SinkHandsOverEachFramesFieldsAndTheFileHoldsThemExactly) {
    if (!machineHasOpenClDevice()) GTEST_SKIP() << "no OpenCL device: the effect simulates nothing to export";
    const std::unique_ptr<minihost::Host> host = minihost::Host::load(CINDEL_PLUGIN_PATH);
    ASSERT_EQ(host->start(), PF_Err_NONE);
    minihost::Instance& instance = host->addInstance(kLayerW, kLayerH);
    instance.setPopup(cindel::kParamQuality, 1);    // Draft
    instance.setPopup(cindel::kParamVoxelSize, 1);  // Large: 128³
    std::vector<HeldFields> received;
    std::vector<std::vector<std::uint8_t>> plain;
    for (const bool isExporting : {false, true}) {
        ASSERT_TRUE(!isExporting ||
                    host->setVolumeReceiver([&](const CindelVolumeFields& f) { received.push_back(copyOf(f)); }));
        for (int f = 0; f < kFrames; ++f) {
            minihost::World out(kLayerW, kLayerH, 8);
            host->settings().setFrame(f);
            ASSERT_EQ(host->renderFrame(instance, out), PF_Err_NONE) << "frame " << f;
            if (!isExporting) {
                plain.push_back(pixelsOf(out));
                continue;
            }
            host->rethrowVolumeFailure();
            EXPECT_EQ(pixelsOf(out), plain[size_t(f)]) << "frame " << f << " changed under the export";
            ASSERT_EQ(received.size(), size_t(f + 1)) << "one record per smart render";
            const CindelVolumeFields& r = received.back().record;
            EXPECT_TRUE(r.recordBytes == sizeof(CindelVolumeFields) && r.side == 128 && r.compWidth == kLayerW &&
                        r.compHeight == kLayerH && r.requestedFrame == f && r.heldFrame == f);
            EXPECT_DOUBLE_EQ(r.compPerCell[1], kLayerH / 128.0);
            EXPECT_DOUBLE_EQ(r.compFromCellOrigin[2], (0.5 - 64) * kLayerW / 128.0);
        }
    }
#ifdef CINDEL_HAS_OPENVDB
    writeVdbAtomically(received.back().record, kFrames - 1, path("frame_0007.vdb"));
    expectFileHoldsTheFields(path("frame_0007.vdb"), received.back(), kFrames - 1);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"frame_0007.vdb"}) << "the temporary file should be gone";
#endif
    host->shutdown();
}

TEST_F(VdbExport, ColdRequestAndPlaybackExportTheSameFile) {
    if (!hasVdbWriter()) GTEST_SKIP() << "this build has no OpenVDB writer (libopenvdb-dev missing)";
    if (!machineHasOpenClDevice()) GTEST_SKIP() << "no OpenCL device: the effect simulates nothing to export";
    const Outcome playback = cindel({"render", tinyScene(), "--frames", "0-5", "--format", "none", "--vdb",
                                     path("playback"), "--out", path("images")});
    ASSERT_EQ(playback.exitCode, 0) << playback.err;
    EXPECT_FALSE(fs::exists(path("images"))) << "--format none writes no images";
    const Outcome cold = cindel({"render", tinyScene(), "--frames", "5", "--vdb", path("cold"), "--out", path("images")});
    ASSERT_EQ(cold.exitCode, 0) << cold.err;
    const std::string a = slurp(path("playback") + "/frame_0005.vdb");
    EXPECT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == slurp(path("cold") + "/frame_0005.vdb")) << "frame 5 by playback and by a cold request differ";
    EXPECT_FALSE(a == slurp(path("playback") + "/frame_0004.vdb"));
}

// A volume whose name is taken by a folder cannot be put in place: the temporary file goes too, and
// the run stops there.
TEST_F(VdbExport, AVolumeThatCannotBePutInPlaceFailsWithExitOneAndLeavesNothing) {
    if (!hasVdbWriter()) GTEST_SKIP() << "this build has no OpenVDB writer (libopenvdb-dev missing)";
    if (!machineHasOpenClDevice()) GTEST_SKIP() << "no OpenCL device: the effect simulates nothing to export";
    fs::create_directories(dir_ / "taken" / "frame_0000.vdb" / "inside");
    const Outcome taken = cindel({"render", tinyScene(), "--frames", "0-1", "--format", "none", "--vdb", path("taken")});
    EXPECT_EQ(taken.exitCode, 1);
    EXPECT_CONTAINS(taken.err, "frame_0000.vdb: cannot put the written file in place");
    EXPECT_EQ(entries(dir_ / "taken"), std::vector<std::string>{"frame_0000.vdb"});
}

}  // namespace
}  // namespace cli
