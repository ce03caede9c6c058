// Sizing rules that need no OpenCL: the grid's multigrid levels and snapshot ring per side, the
// macrocell counts per side, and the mapping of build-log positions in the joined kernel text back
// to the kernel file and line they came from. The expected values are written out by hand from
// the rules, so a changed rule shows here as a changed number.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "gpu/kernel_library.h"
#include "gpu/kernel_table.h"
#include "render/macrocells.h"
#include "sim/sim_grid.h"

namespace cindel {
namespace {

struct LayoutCase {
    int N;
    std::array<int, 4> levels;  // 0 past the last level
    int slots;
};

TEST(GridLayout, LevelsAndSlotsForEachSide) {
    const LayoutCase cases[] = {
        {32, {32, 16, 0, 0}, 8},        {33, {33, 16, 0, 0}, 8},        {40, {40, 20, 0, 0}, 8},
        {48, {48, 24, 0, 0}, 8},        {64, {64, 32, 16, 0}, 8},       {96, {96, 48, 24, 0}, 8},
        {128, {128, 64, 32, 16}, 8},    {192, {192, 96, 48, 24}, 8},    {193, {193, 96, 48, 24}, 6},
        {256, {256, 128, 64, 32}, 6},   {257, {257, 128, 64, 32}, 4},   {384, {384, 192, 96, 48}, 4},
        {512, {512, 256, 128, 64}, 4},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.N);
        const GridLayout layout = gridLayoutFor(c.N);
        const int levels = static_cast<int>(std::count_if(c.levels.begin(), c.levels.end(), [](int s) { return s > 0; }));
        EXPECT_EQ(layout.levels, levels);
        EXPECT_EQ(layout.sizes, c.levels);
        EXPECT_EQ(layout.slotCount, c.slots);
    }
}

TEST(GridLayout, ACoarseLevelStopsBelowSide16AndAtFourLevels) {
    // 31 halves to 15: level 0 only. 16 is itself a level. Below 16 there is no hierarchy.
    EXPECT_EQ(gridLayoutFor(31).levels, 1);
    EXPECT_EQ(gridLayoutFor(31).sizes, (std::array<int, 4>{31, 0, 0, 0}));
    EXPECT_EQ(gridLayoutFor(16).levels, 1);
    EXPECT_EQ(gridLayoutFor(15).levels, 0);
    EXPECT_EQ(gridLayoutFor(8).sizes, (std::array<int, 4>{0, 0, 0, 0}));
    // 1024 could halve six times down to 16; the hierarchy keeps four levels.
    EXPECT_EQ(gridLayoutFor(1024).levels, 4);
    EXPECT_EQ(gridLayoutFor(1024).sizes, (std::array<int, 4>{1024, 512, 256, 128}));
}

TEST(GridLayout, RingShrinksAtTheStatedSideBoundaries) {
    EXPECT_EQ(gridLayoutFor(192).slotCount, 8);
    EXPECT_EQ(gridLayoutFor(193).slotCount, 6);
    EXPECT_EQ(gridLayoutFor(256).slotCount, 6);
    EXPECT_EQ(gridLayoutFor(257).slotCount, 4);
    // The constant that sizes the slot array covers the largest ring.
    EXPECT_EQ(kMaxSnapshotSlots, gridLayoutFor(kMinGridSide).slotCount);
}

struct MacroCase {
    int N;
    int count;
    int countL1;
};

TEST(Macrocells, CountsForEachSide) {
    const MacroCase cases[] = {
        {128, 32, 8}, {192, 32, 8}, {256, 32, 8}, {384, 32, 8}, {512, 32, 8},
        {96, 16, 4},  {64, 16, 4},  {40, 8, 2},   {48, 8, 2},   {32, 8, 2},
        // Halved until M divides N: 33 and 63 are odd (down to 1), 100 stops at 4, 130 at 2.
        {33, 1, 0},   {63, 1, 0},   {100, 4, 1},  {130, 2, 0},  {160, 32, 8},
    };
    for (const MacroCase& c : cases) {
        SCOPED_TRACE(c.N);
        const MacrocellCounts counts = macrocellCountsFor(c.N);
        EXPECT_EQ(counts.count, c.count);
        EXPECT_EQ(counts.countL1, c.countL1);
        EXPECT_EQ(c.N % counts.count, 0) << "M divides N";
    }
}

TEST(Macrocells, BlockSidesOfTheSimulationSides) {
    EXPECT_EQ(128 / macrocellCountsFor(128).count, 4);
    EXPECT_EQ(192 / macrocellCountsFor(192).count, 6);
    EXPECT_EQ(256 / macrocellCountsFor(256).count, 8);
    EXPECT_EQ(384 / macrocellCountsFor(384).count, 12);
    EXPECT_EQ(96 / macrocellCountsFor(96).count, 6);
    EXPECT_EQ(40 / macrocellCountsFor(40).count, 5);
}

// ---------------------------------------------------------------------------------------------
// Build-log positions.

int newlines(const char* text) { return static_cast<int>(std::count(text, text + std::char_traits<char>::length(text), '\n')); }

TEST(KernelSourcePieces, CoverTheJoinedTextInOrderWithHelpersFirst) {
    const auto pieces = kernelSourcePieces();
    ASSERT_FALSE(pieces.empty());
    EXPECT_STREQ(pieces.front().file, "sampling.cl") << "the helpers come first; every later file uses them";
    int next = 1;
    for (const KernelSourcePiece& p : pieces) {
        EXPECT_EQ(p.firstLine, next) << p.file;
        EXPECT_GT(p.lineCount, 0) << p.file;
        next = p.firstLine + p.lineCount;
    }
    EXPECT_EQ(next - 1, newlines(kKernelLibrary)) << "every line of the text belongs to exactly one file";
}

TEST(KernelSourceLine, MapsEachPieceBoundaryToItsFile) {
    for (const KernelSourcePiece& p : kernelSourcePieces()) {
        SCOPED_TRACE(p.file);
        const KernelSourceLine first = kernelSourceLine(p.firstLine);
        ASSERT_NE(first.file, nullptr);
        EXPECT_STREQ(first.file, p.file);
        EXPECT_EQ(first.line, 1);
        const KernelSourceLine last = kernelSourceLine(p.firstLine + p.lineCount - 1);
        ASSERT_NE(last.file, nullptr);
        EXPECT_STREQ(last.file, p.file);
        EXPECT_EQ(last.line, p.lineCount);
    }
    const KernelSourcePiece& end = kernelSourcePieces().back();
    EXPECT_EQ(kernelSourceLine(end.firstLine + end.lineCount).file, nullptr);
    EXPECT_EQ(kernelSourceLine(0).file, nullptr);
    EXPECT_EQ(kernelSourceLine(-3).file, nullptr);
}

TEST(AnnotateBuildLog, RewritesPositionsOfTheJoinedTextAsFileAndLine) {
    const KernelSourcePiece& first = kernelSourcePieces().front();
    const KernelSourcePiece& last = kernelSourcePieces().back();
    const int lastJoined = last.firstLine + last.lineCount - 1;

    EXPECT_EQ(annotateBuildLog("<source>:1:5: error: use of undeclared identifier 'x'"),
              std::string(first.file) + ":1:5: error: use of undeclared identifier 'x'");

    // Several positions, different compilers' names for the text, the surrounding text untouched.
    const std::string log = "<kernel>:" + std::to_string(lastJoined) + ":12: warning: unused\n" +
                            "note: here\ninput.cl:" + std::to_string(first.firstLine) + ":1: error: bad\n";
    const std::string expected = std::string(last.file) + ":" + std::to_string(last.lineCount) +
                                 ":12: warning: unused\nnote: here\n" + first.file + ":1:1: error: bad\n";
    EXPECT_EQ(annotateBuildLog(log), expected);
}

TEST(AnnotateBuildLog, LeavesPositionsOutsideTheTextAndOtherTextAlone) {
    const KernelSourcePiece& last = kernelSourcePieces().back();
    const std::string beyond = "<source>:" + std::to_string(last.firstLine + last.lineCount) + ":2: error: eof";
    EXPECT_EQ(annotateBuildLog(beyond), beyond);
    EXPECT_EQ(annotateBuildLog(""), "");
    EXPECT_EQ(annotateBuildLog("error: no position at all"), "error: no position at all");
    EXPECT_EQ(annotateBuildLog("ratio 3:4 is fine"), "ratio 3:4 is fine");
}

TEST(AnnotateBuildLog, MapsALineOfALaterFileToThatFile) {
    const auto pieces = kernelSourcePieces();
    if (pieces.size() < 2) GTEST_SKIP() << "the kernel library has a single file";
    const KernelSourcePiece& second = pieces[1];
    const std::string log = "<source>:" + std::to_string(second.firstLine + 1) + ":3: error: x";
    EXPECT_EQ(annotateBuildLog(log), std::string(second.file) + ":2:3: error: x");
}

// ---------------------------------------------------------------------------------------------
// Which kernels the library holds.

TEST(KernelLibrary, HelpersAndUnknownNamesAreNotKernels) {
    ASSERT_NE(std::string(kKernelLibrary).find("cd_idx("), std::string::npos);
    EXPECT_FALSE(kernelLibraryHas("cd_idx")) << "a helper function is not a kernel";
    EXPECT_FALSE(kernelLibraryHas("cd_no_such_kernel"));
    EXPECT_FALSE(kernelLibraryHas("cd_"));
}

TEST(KernelLibrary, AKernelNameMatchesOnlyAsAWholeName) {
    // For every kernel the library holds, a proper prefix of its name is not itself taken as one
    // (unless the prefix is a kernel of the table too).
    int found = 0;
    for (const KernelSpec& spec : kernelSpecs()) {
        const std::string name = spec.name;
        if (!kernelLibraryHas(name)) continue;
        ++found;
        const std::string prefix = name.substr(0, name.size() - 1);
        const bool prefixIsKernel = std::any_of(kernelSpecs().begin(), kernelSpecs().end(),
                                                [&](const KernelSpec& s) { return prefix == s.name; });
        if (!prefixIsKernel) {
            EXPECT_FALSE(kernelLibraryHas(prefix)) << prefix;
        }
        EXPECT_FALSE(kernelLibraryHas(name + "x")) << name;
    }
    if (found == 0) GTEST_SKIP() << "the kernel library defines no kernel yet";
}

}  // namespace
}  // namespace cindel
