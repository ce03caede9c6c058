// The property resource read back out of the built Windows plug-in through its PE resource directory
// and checked, property by property, against the constants global set-up reports. The walk is written
// here from the file formats, not shared with the encoder. Skipped until `make windows` has built it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "host/plugin_properties.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t read16(const Bytes& b, std::size_t at) {
    if (at + 2 > b.size()) throw std::out_of_range("read past the end at " + std::to_string(at));
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8;
}
std::uint32_t read32(const Bytes& b, std::size_t at) { return read16(b, at) | read16(b, at + 2) << 16; }

// The data of resource type `typeName`, integer id and language of a PE32+ file; nullopt if absent.
std::optional<Bytes> findResource(const Bytes& file, const std::string& typeName, std::uint32_t id,
                                  std::uint32_t language) {
    const std::size_t pe = read32(file, 0x3C), optional = pe + 24;
    if (read16(file, 0) != 0x5A4D || read32(file, pe) != 0x00004550 || read16(file, pe + 4) != 0x8664 ||
        read16(file, optional) != 0x20B)
        throw std::runtime_error("not an x86-64 PE32+ image");
    const std::uint32_t rva = read32(file, optional + 112 + 2 * 8);  // data directory 2: resources
    auto offsetOf = [&](std::uint32_t at) -> std::size_t {
        const std::size_t sections = optional + read16(file, pe + 20);
        for (std::uint32_t i = 0; i < read16(file, pe + 6); ++i) {
            const std::size_t s = sections + 40 * i;
            const std::uint32_t start = read32(file, s + 12), size = std::max(read32(file, s + 8), read32(file, s + 16));
            if (at >= start && at < start + size) return read32(file, s + 20) + (at - start);
        }
        throw std::runtime_error("RVA " + std::to_string(at) + " in no section");
    };
    const std::size_t root = rva ? offsetOf(rva) : throw std::runtime_error("no resources");
    // A directory's entries as (name or id, target); the high bit marks a name or a subdirectory.
    auto find = [&](std::size_t directory, auto matches) -> std::optional<std::uint32_t> {
        const std::uint32_t count = read16(file, directory + 12) + read16(file, directory + 14);
        for (std::uint32_t i = 0; i < count; ++i)
            if (matches(read32(file, directory + 16 + 8 * i))) return read32(file, directory + 20 + 8 * i);
        return std::nullopt;
    };
    constexpr std::uint32_t kHigh = 0x80000000u;
    auto type = find(root, [&](std::uint32_t key) {
        if (!(key & kHigh)) return false;
        const std::size_t at = root + (key & ~kHigh);
        std::string name;
        for (std::uint32_t i = 0; i < read16(file, at); ++i) name += char(read16(file, at + 2 + 2 * i));
        return name == typeName;
    });
    if (!type || !(*type & kHigh)) return std::nullopt;
    auto ids = find(root + (*type & ~kHigh), [&](std::uint32_t key) { return key == id; });
    if (!ids || !(*ids & kHigh)) return std::nullopt;
    auto entry = find(root + (*ids & ~kHigh), [&](std::uint32_t key) { return key == language; });
    if (!entry || (*entry & kHigh)) return std::nullopt;
    const std::size_t data = offsetOf(read32(file, root + *entry)), size = read32(file, root + *entry + 4);
    if (data + size > file.size()) throw std::runtime_error("resource data past the end of the file");
    return Bytes(file.begin() + std::ptrdiff_t(data), file.begin() + std::ptrdiff_t(data + size));
}

// A four-character code as the resource stores it on Windows: its characters in reverse order.
std::string fourCc(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::uint32_t code(const char (&c)[5]) { return read32(Bytes{std::uint8_t(c[3]), std::uint8_t(c[2]), std::uint8_t(c[1]), std::uint8_t(c[0])}, 0); }

// A Pascal string padded with zeros to the next multiple of 4.
std::string pascalString(const Bytes& data) {
    if (data.empty() || data[0] + 1u > data.size()) return "<bad length>";
    for (std::size_t i = 1u + data[0]; i < data.size(); ++i) EXPECT_EQ(data[i], 0) << "padding byte " << i;
    EXPECT_EQ(data.size(), (1u + data[0] + 3) / 4 * 4);
    return std::string(data.begin() + 1, data.begin() + 1 + data[0]);
}

TEST(PiplResource, HoldsTheTwelvePropertiesGlobalSetupReports) {
    std::ifstream in(CINDEL_WINDOWS_PLUGIN_PATH, std::ios::binary);
    if (!in) GTEST_SKIP() << CINDEL_WINDOWS_PLUGIN_PATH << " is not built (make windows builds it)";
    const std::optional<Bytes> found = findResource(Bytes{std::istreambuf_iterator<char>(in), {}}, "PIPL",
                                                    CINDEL_PIPL_RESOURCE_ID, CINDEL_PIPL_LANGUAGE);
    ASSERT_TRUE(found) << "no PIPL resource " << CINDEL_PIPL_RESOURCE_ID << " in language " << CINDEL_PIPL_LANGUAGE;
    const Bytes& bytes = *found;
    EXPECT_EQ(std::tuple(read16(bytes, 0), read32(bytes, 2)), std::tuple(1u, 0u));  // reserved word, version
    EXPECT_EQ(std::memcmp(bytes.data() + 10, "MIB8dnik", 8), 0);  // '8BIM' 'kind', reversed
    const char* keys[] = {"kind", "name", "catg", "8664", "ePVR", "eSVR", "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
    ASSERT_EQ(read32(bytes, 6), std::size(keys));
    std::vector<Bytes> data;
    std::size_t at = 10;
    for (const char* key : keys) {
        const std::uint32_t length = read32(bytes, at + 12);
        EXPECT_EQ(std::tuple(fourCc(read32(bytes, at)), fourCc(read32(bytes, at + 4)), read32(bytes, at + 8), length % 4),
                  std::tuple(std::string(CINDEL_PIPL_VENDOR), std::string(key), 0u, 0u));
        ASSERT_LE(at + 16 + length, bytes.size()) << key << " runs past the resource";
        data.emplace_back(bytes.begin() + std::ptrdiff_t(at + 16), bytes.begin() + std::ptrdiff_t(at + 16 + length));
        at += 16 + length;
    }
    EXPECT_EQ(at, bytes.size()) << "bytes after the last property";
    auto long32 = [](const Bytes& d) { return d.size() == 4 ? read32(d, 0) : ~0u; };
    EXPECT_EQ(long32(data[0]), code(CINDEL_KIND));
    EXPECT_EQ(pascalString(data[1]), CINDEL_NAME);
    EXPECT_EQ(pascalString(data[2]), CINDEL_CATEGORY);
    const std::string entryPoint(reinterpret_cast<const char*>(data[3].data()));  // zero-terminated, padded
    EXPECT_EQ(std::tuple(entryPoint, data[3].size()), std::tuple(std::string(CINDEL_ENTRY_POINT), (entryPoint.size() + 4) / 4 * 4));
    EXPECT_EQ(long32(data[4]), std::uint32_t(CINDEL_PIPL_VERSION_MAJOR) | std::uint32_t(CINDEL_PIPL_VERSION_MINOR) << 16);
    EXPECT_EQ(long32(data[5]), std::uint32_t(CINDEL_SPEC_VERSION_MAJOR) | std::uint32_t(CINDEL_SPEC_VERSION_MINOR) << 16);
    // Version, info, out flags 1 and 2, reserved.
    EXPECT_EQ((std::vector{long32(data[6]), long32(data[7]), long32(data[8]), long32(data[9]), long32(data[11])}),
              (std::vector<std::uint32_t>{CINDEL_EFFECT_VERSION, CINDEL_INFO_FLAGS, CINDEL_OUT_FLAGS, CINDEL_OUT_FLAGS2,
                                          CINDEL_RESERVED_INFO}));
    EXPECT_EQ(pascalString(data[10]), CINDEL_MATCH_NAME);
}

}  // namespace
