// The volume export end to end: the plug-in's volume sink as minihost installs it, the OpenVDB
// files of `cindel render --vdb`, read back with OpenVDB itself, and a reader no one here wrote
// (Blender, when it is installed).
//
// The fields are compared exactly: every voxel of the file against the fields the simulation held
// for the frame, as the effect handed them over. A frame exported by a cold request and by
// playback must give the same file, and exporting must not move a pixel of the frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "cli_runner.h"
#include "gpu/cl_api.h"
#include "gpu/gpu_runtime.h"
#include "minihost/host.h"
#include "params/param_index.h"
#include "tools/vdb_writer.h"

#ifdef CINDEL_HAS_OPENVDB
#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#endif

namespace fs = std::filesystem;

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

namespace {

constexpr A_long kLayerW = 96;
constexpr A_long kLayerH = 54;
constexpr int kFrames = 8;

// Whether the plug-in will find an OpenCL device, asked the way its start-up asks.
bool machineHasOpenClDevice() {
    if (!cindel::loadClApi()) return false;
    cindel::GpuRuntime probe;
    return cindel::chooseDevice(probe, cindel::kCpuFallbackBuiltIn);
}

// One frame's record, copied out of the sink's call.
struct HeldFields {
    CindelVolumeFields record{};
    std::vector<float> density, temperature, fuel, velocity;
};

HeldFields copyOf(const CindelVolumeFields& f) {
    HeldFields h;
    h.record = f;
    const size_t cells = size_t(f.side) * size_t(f.side) * size_t(f.side);
    h.density.assign(f.density, f.density + cells);
    h.temperature.assign(f.temperatureKelvin, f.temperatureKelvin + cells);
    h.fuel.assign(f.fuel, f.fuel + cells);
    h.velocity.assign(f.velocityCellsPerSecond, f.velocityCellsPerSecond + cells * 4);
    h.record.density = h.density.data();
    h.record.temperatureKelvin = h.temperature.data();
    h.record.fuel = h.fuel.data();
    h.record.velocityCellsPerSecond = h.velocity.data();
    return h;
}

std::vector<std::uint8_t> pixelsOf(minihost::World& world) {
    const PF_EffectWorld* w = world.get();
    std::vector<std::uint8_t> bytes;
    for (A_long y = 0; y < w->height; ++y) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(w->data) + size_t(y) * size_t(w->rowbytes);
        bytes.insert(bytes.end(), row, row + size_t(w->width) * 4);
    }
    return bytes;
}

std::string fileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

class TempFolder {
public:
    TempFolder() {
        path_ = fs::temp_directory_path() /
                ("cindel-vdb-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

#ifdef CINDEL_HAS_OPENVDB

struct ReadBack {
    openvdb::FloatGrid::Ptr density, temperature, fuel;
    openvdb::Vec3fGrid::Ptr vel;
    openvdb::MetaMap::Ptr meta;
};

ReadBack readVdb(const fs::path& path) {
    openvdb::initialize();
    openvdb::io::File file(path.string());
    file.open();
    ReadBack r;
    r.density = openvdb::gridPtrCast<openvdb::FloatGrid>(file.readGrid("density"));
    r.temperature = openvdb::gridPtrCast<openvdb::FloatGrid>(file.readGrid("temperature"));
    r.fuel = openvdb::gridPtrCast<openvdb::FloatGrid>(file.readGrid("fuel"));
    r.vel = openvdb::gridPtrCast<openvdb::Vec3fGrid>(file.readGrid("vel"));
    r.meta = file.getMetadata();
    file.close();
    return r;
}

// Every voxel of the grid side: active exactly where the held value's magnitude passes the
// threshold, and then equal to it bit for bit; inactive voxels read the background 0. Returns the
// number of active voxels.
size_t expectScalarGridMatches(const openvdb::FloatGrid& grid, const std::vector<float>& held, int N,
                               const char* name) {
    EXPECT_EQ(grid.background(), 0.0f) << name;
    openvdb::FloatGrid::ConstAccessor acc = grid.getConstAccessor();
    size_t active = 0, mismatches = 0;
    for (int z = 0; z < N; ++z)
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                const float v = held[(size_t(z) * N + y) * N + x];
                const openvdb::Coord c(x, y, z);
                const bool isOn = std::fabs(v) > cli::kVdbActiveThreshold;
                const float read = acc.getValue(c);
                const bool ok = acc.isValueOn(c) == isOn && (isOn ? read == v : read == 0.0f);
                if (!ok && ++mismatches <= 5)
                    ADD_FAILURE() << name << " (" << x << ", " << y << ", " << z << "): held " << v << ", file "
                                  << read << (acc.isValueOn(c) ? " active" : " inactive");
                active += isOn;
            }
    EXPECT_EQ(mismatches, 0u) << name;
    EXPECT_EQ(grid.activeVoxelCount(), active) << name;
    return active;
}

void expectFileHoldsTheFields(const fs::path& path, const HeldFields& held, int frame) {
    const CindelVolumeFields& f = held.record;
    const int N = f.side;
    const ReadBack r = readVdb(path);
    ASSERT_TRUE(r.density && r.temperature && r.fuel && r.vel) << path;

    // The transform: index (i, j, k) at ((i + 0.5)·W/N, (j + 0.5)·H/N, (k + 0.5 − N/2)·W/N).
    const double sx = double(f.compWidth) / N, sy = double(f.compHeight) / N;
    for (const openvdb::GridBase* g : {static_cast<openvdb::GridBase*>(r.density.get()),
                                       static_cast<openvdb::GridBase*>(r.vel.get())}) {
        for (const openvdb::Coord& c : {openvdb::Coord(0, 0, 0), openvdb::Coord(N - 1, 17, 64), openvdb::Coord(3, N - 1, N - 1)}) {
            const openvdb::Vec3d w = g->indexToWorld(c);
            EXPECT_NEAR(w.x(), (c.x() + 0.5) * sx, 1e-9) << c;
            EXPECT_NEAR(w.y(), (c.y() + 0.5) * sy, 1e-9) << c;
            EXPECT_NEAR(w.z(), (c.z() + 0.5 - N / 2.0) * sx, 1e-9) << c;
        }
    }
    EXPECT_EQ(r.density->getGridClass(), openvdb::GRID_FOG_VOLUME);
    EXPECT_TRUE(r.vel->isInWorldSpace());

    const size_t activeDensity = expectScalarGridMatches(*r.density, held.density, N, "density");
    const size_t activeTemperature = expectScalarGridMatches(*r.temperature, held.temperature, N, "temperature");
    expectScalarGridMatches(*r.fuel, held.fuel, N, "fuel");
    // Not an empty grid compared with an empty grid.
    EXPECT_GT(activeDensity, 100u);
    EXPECT_GT(activeTemperature, 100u);
    EXPECT_LT(activeDensity, size_t(N) * N * N / 2) << "the file should be sparse";

    // Velocity on the union of the scalars' active voxels, in composition pixels per second.
    const float scale[3] = {float(f.compPerCell[0]), float(f.compPerCell[1]), float(f.compPerCell[2])};
    openvdb::Vec3fGrid::ConstAccessor vel = r.vel->getConstAccessor();
    size_t mismatches = 0, moving = 0;
    for (int z = 0; z < N; ++z)
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                const size_t i = (size_t(z) * N + y) * N + x;
                const bool isOn = std::fabs(held.density[i]) > cli::kVdbActiveThreshold ||
                                  std::fabs(held.temperature[i]) > cli::kVdbActiveThreshold ||
                                  std::fabs(held.fuel[i]) > cli::kVdbActiveThreshold;
                const float* v = &held.velocity[i * 4];
                const openvdb::Vec3f expected =
                    isOn ? openvdb::Vec3f(v[0] * scale[0], v[1] * scale[1], v[2] * scale[2]) : openvdb::Vec3f(0.0f);
                const openvdb::Coord c(x, y, z);
                const bool ok = vel.isValueOn(c) == isOn && vel.getValue(c) == expected;
                if (!ok && ++mismatches <= 5)
                    ADD_FAILURE() << "vel (" << x << ", " << y << ", " << z << "): expected " << expected << ", file "
                                  << vel.getValue(c);
                moving += isOn && expected.length() > 0.0f;
            }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(moving, 100u) << "the fire should be moving";

    EXPECT_EQ(r.meta->metaValue<int32_t>("cindel_frame"), frame);
    EXPECT_EQ(r.meta->metaValue<int32_t>("cindel_grid_side"), N);
    EXPECT_EQ(r.meta->metaValue<int32_t>("cindel_comp_width"), f.compWidth);
    EXPECT_EQ(r.meta->metaValue<int32_t>("cindel_comp_height"), f.compHeight);
}

#endif  // CINDEL_HAS_OPENVDB

// The effect in this process through minihost: frames in order without the export, then again with
// it. The pixels must not move, and the sink must get each frame's own fields.
TEST(VolumeExport, SinkHandsOverEachFrameAndLeavesThePixelsAlone) {
    if (!machineHasOpenClDevice()) GTEST_SKIP() << "no OpenCL device: the effect simulates nothing to export";
    std::unique_ptr<minihost::Host> host = minihost::Host::load(CINDEL_PLUGIN_PATH);
    ASSERT_EQ(host->start(), PF_Err_NONE);
    minihost::Instance& instance = host->addInstance(kLayerW, kLayerH);
    instance.setPopup(cindel::kParamQuality, 1);    // Draft
    instance.setPopup(cindel::kParamVoxelSize, 1);  // Large: 128³

    std::vector<std::vector<std::uint8_t>> plain;
    for (int f = 0; f < kFrames; ++f) {
        minihost::World out(kLayerW, kLayerH, 8);
        host->settings().setFrame(f);
        ASSERT_EQ(host->renderFrame(instance, out), PF_Err_NONE) << "frame " << f;
        plain.push_back(pixelsOf(out));
    }

    std::vector<HeldFields> received;
    ASSERT_TRUE(host->setVolumeReceiver([&](const CindelVolumeFields& f) { received.push_back(copyOf(f)); }));
    for (int f = 0; f < kFrames; ++f) {
        minihost::World out(kLayerW, kLayerH, 8);
        host->settings().setFrame(f);
        ASSERT_EQ(host->renderFrame(instance, out), PF_Err_NONE) << "frame " << f;
        host->rethrowVolumeFailure();
        EXPECT_EQ(pixelsOf(out), plain[size_t(f)]) << "frame " << f << " changed under the export";
        ASSERT_EQ(received.size(), size_t(f + 1));
        const CindelVolumeFields& r = received.back().record;
        EXPECT_EQ(r.recordBytes, sizeof(CindelVolumeFields));
        EXPECT_EQ(r.side, 128);
        EXPECT_EQ(r.requestedFrame, f);
        EXPECT_EQ(r.heldFrame, f);
        EXPECT_EQ(r.compWidth, kLayerW);
        EXPECT_EQ(r.compHeight, kLayerH);
        EXPECT_DOUBLE_EQ(r.compPerCell[0], kLayerW / 128.0);
        EXPECT_DOUBLE_EQ(r.compPerCell[1], kLayerH / 128.0);
        EXPECT_DOUBLE_EQ(r.compFromCellOrigin[2], (0.5 - 64) * kLayerW / 128.0);
        // Smart pre-render asks nothing of the sink: one record per smart render.
    }
    // The last frame has fire in it, so the comparison below compares something.
    float most = 0;
    for (float d : received.back().density) most = std::max(most, d);
    EXPECT_GT(most, 0.01f);

#ifdef CINDEL_HAS_OPENVDB
    TempFolder folder;
    const fs::path file = folder.path() / "frame_0007.vdb";
    cli::writeVdbAtomically(received.back().record, kFrames - 1, file.string());
    expectFileHoldsTheFields(file, received.back(), kFrames - 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
        << "the temporary file should be gone";
#endif

    // Switched off, nothing more arrives.
    ASSERT_TRUE(host->setVolumeReceiver(nullptr));
    minihost::World out(kLayerW, kLayerH, 8);
    host->settings().setFrame(kFrames);
    ASSERT_EQ(host->renderFrame(instance, out), PF_Err_NONE);
    EXPECT_EQ(received.size(), size_t(kFrames));
    host->shutdown();
}

// ---- The command

class VdbCommand : public cli::CindelRun {
protected:
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string tinyScene() {
        const std::string file = path("tiny.json");
        std::ofstream(file) << R"({
          "composition": {"width": 64, "height": 36, "frameRate": 30, "duration": 10},
          "layers": [{"type": "effect", "params": {"Quality": "Draft", "Voxel Size": "Large",
                      "Source Position": [32, 24, 0]}}],
          "output": {"background": "none"}})";
        return file;
    }
    static std::vector<std::string> entries(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(VdbCommand, ColdRequestAndPlaybackExportTheSameFile) {
    if (!cli::hasVdbWriter()) GTEST_SKIP() << "this build has no OpenVDB writer (libopenvdb-dev missing)";
    if (!machineHasOpenClDevice()) GTEST_SKIP() << "no OpenCL device: the effect simulates nothing to export";
    cli::Outcome playback = cindel({"render", tinyScene(), "--frames", "0-5", "--format", "none", "--vdb",
                                    path("playback"), "--out", path("images")});
    ASSERT_EQ(playback.exitCode, 0) << playback.err;
    EXPECT_FALSE(fs::exists(path("images"))) << "--format none writes no images";
    EXPECT_EQ(entries(path("playback")),
              (std::vector<std::string>{"frame_0000.vdb", "frame_0001.vdb", "frame_0002.vdb", "frame_0003.vdb",
                                        "frame_0004.vdb", "frame_0005.vdb"}));
    cli::Outcome cold = cindel({"render", tinyScene(), "--frames", "5", "--vdb", path("cold"), "--out", path("images")});
    ASSERT_EQ(cold.exitCode, 0) << cold.err;
    EXPECT_TRUE(fs::exists(path("images") + "/frame_0005.png"));
    const std::string a = fileBytes(path("playback") + "/frame_0005.vdb");
    EXPECT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == fileBytes(path("cold") + "/frame_0005.vdb")) << "frame 5 by playback and by a cold request differ";
    EXPECT_FALSE(a == fileBytes(path("playback") + "/frame_0004.vdb"));
}

TEST_F(VdbCommand, UnwritableFolderFailsWithExitOneAndLeavesNoVolume) {
    if (!cli::hasVdbWriter()) GTEST_SKIP() << "this build has no OpenVDB writer (libopenvdb-dev missing)";
    std::ofstream(path("plain")) << "a file, not a folder";
    cli::Outcome run = cindel({"render", tinyScene(), "--frames", "0", "--format", "none", "--vdb", path("plain") + "/vol"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_CONTAINS(run.err, "plain/vol");
    EXPECT_CONTAINS(run.err, "cannot create it");

    if (!machineHasOpenClDevice()) return;
    // A volume whose name is taken by a folder cannot be put in place: the temporary file goes too,
    // and the run stops there.
    fs::create_directories(dir_ / "taken" / "frame_0000.vdb" / "inside");
    cli::Outcome taken = cindel({"render", tinyScene(), "--frames", "0-1", "--format", "none", "--vdb", path("taken")});
    EXPECT_EQ(taken.exitCode, 1);
    EXPECT_CONTAINS(taken.err, "frame_0000.vdb: cannot put the written file in place");
    EXPECT_EQ(entries(dir_ / "taken"), std::vector<std::string>{"frame_0000.vdb"});
}

TEST_F(VdbCommand, FormatNoneNeedsAVolumeFolder) {
    cli::Outcome run = cindel({"render", tinyScene(), "--frames", "0", "--format", "none"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_CONTAINS(run.err, "--format none writes no images");
    cli::Outcome video = cindel({"render", tinyScene(), "--frames", "0", "--format", "none", "--vdb", path("v"),
                                 "--video", path("a.mp4")});
    EXPECT_EQ(video.exitCode, 2);
}

// A reader no one here wrote: Blender imports one frame as a volume object and reports its grids
// and bounds. Blender is far too large to install for the suite; it runs where it is installed.
TEST_F(VdbCommand, BlenderImportsAFrameAsAVolume) {
    if (std::system("command -v blender >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "blender is not installed (apt-get install blender), so no external reader is tried";
    if (!cli::hasVdbWriter()) GTEST_SKIP() << "this build has no OpenVDB writer (libopenvdb-dev missing)";
    if (!machineHasOpenClDevice()) GTEST_SKIP() << "no OpenCL device: the effect simulates nothing to export";
    cli::Outcome run = cindel({"render", tinyScene(), "--frames", "0-3", "--format", "none", "--vdb", path("vol")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string script =
        "import bpy\n"
        "bpy.ops.object.volume_import(filepath=r'" + path("vol") + "/frame_0003.vdb')\n"
        "o = bpy.context.active_object\n"
        "o.data.grids.load()\n"
        "print('CINDEL-GRIDS', ','.join(sorted(g.name for g in o.data.grids)))\n"
        "xs = [v[0] for v in o.bound_box]\n"
        "ys = [v[1] for v in o.bound_box]\n"
        "print('CINDEL-BOUNDS', min(xs), max(xs), min(ys), max(ys))\n";
    std::ofstream(path("import.py")) << script;
    const std::string command = "blender -b --factory-startup --python " + cli::shellQuoted(path("import.py")) +
                                " >" + cli::shellQuoted(path("blender.log")) + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << cli::slurp(path("blender.log"));
    const std::string log = cli::slurp(path("blender.log"));
    EXPECT_CONTAINS(log, "CINDEL-GRIDS density,fuel,temperature,vel");
    // The volume lies within the composition's 64 × 36 pixels in x and y.
    std::istringstream bounds(log.substr(log.find("CINDEL-BOUNDS") + 13));
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    bounds >> x0 >> x1 >> y0 >> y1;
    EXPECT_GE(x0, -1e-3);
    EXPECT_LE(x1, 64 + 1e-3);
    EXPECT_GT(x1, x0);
    EXPECT_GE(y0, -1e-3);
    EXPECT_LE(y1, 36 + 1e-3);
}

}  // namespace
