// The property resource as the host finds it: read back out of the built Windows plug-in by walking
// its PE resource directory (type "PIPL", id 16000, language 1033), then every property checked,
// in order, against host/plugin_properties.h, the constants global set-up writes into PF_OutData.
// The walk and the decoding are written here from the file formats, not shared with the encoder,
// so an encoder fault cannot cancel out.
//
// Runs in the Linux suite on build-windows/Cindel.aex (skipped, saying so, until `make windows` has
// built it) and under Wine in the Windows suite on that build's own plug-in.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/plugin_properties.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t read16(const Bytes& b, std::size_t at) {
    if (at + 2 > b.size()) throw std::out_of_range("read past the end at " + std::to_string(at));
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8;
}
std::uint32_t read32(const Bytes& b, std::size_t at) { return read16(b, at) | read16(b, at + 2) << 16; }

struct Section {
    std::uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

// The PE file's resource tree, located through the optional header's data directory 2.
class PeResources {
public:
    explicit PeResources(Bytes file) : file_(std::move(file)) {
        if (read16(file_, 0) != 0x5A4D) throw std::runtime_error("no MZ header");
        const std::size_t pe = read32(file_, 0x3C);
        if (read32(file_, pe) != 0x00004550) throw std::runtime_error("no PE signature");
        machine_ = read16(file_, pe + 4);
        const std::uint32_t sectionCount = read16(file_, pe + 6);
        const std::uint32_t optionalSize = read16(file_, pe + 20);
        const std::size_t optional = pe + 24;
        if (read16(file_, optional) != 0x20B) throw std::runtime_error("not a PE32+ (64-bit) image");
        const std::uint32_t directoryCount = read32(file_, optional + 108);
        if (directoryCount <= 2) throw std::runtime_error("no resource data directory");
        resourceRva_ = read32(file_, optional + 112 + 2 * 8);
        const std::size_t sections = optional + optionalSize;
        for (std::uint32_t i = 0; i < sectionCount; ++i) {
            const std::size_t s = sections + 40 * i;
            sections_.push_back({read32(file_, s + 12), read32(file_, s + 8), read32(file_, s + 20), read32(file_, s + 16)});
        }
    }

    std::uint32_t machine() const { return machine_; }

    // The data of the resource of a named type, an integer id and a language; nullopt if absent.
    std::optional<Bytes> find(const std::string& typeName, std::uint32_t id, std::uint32_t language) const {
        if (resourceRva_ == 0) return std::nullopt;
        const std::size_t root = offsetOf(resourceRva_);
        auto entries = [&](std::size_t directory) {
            std::vector<std::pair<std::uint32_t, std::uint32_t>> list;
            const std::uint32_t count = read16(file_, directory + 12) + read16(file_, directory + 14);
            for (std::uint32_t i = 0; i < count; ++i)
                list.emplace_back(read32(file_, directory + 16 + 8 * i), read32(file_, directory + 20 + 8 * i));
            return list;
        };
        auto nameAt = [&](std::uint32_t offset) {
            std::string name;
            const std::size_t at = root + offset;
            for (std::uint32_t i = 0; i < read16(file_, at); ++i) name += char(read16(file_, at + 2 + 2 * i));
            return name;
        };
        constexpr std::uint32_t kHigh = 0x80000000u;
        for (auto [typeKey, typeTarget] : entries(root)) {
            if (!(typeKey & kHigh) || !(typeTarget & kHigh) || nameAt(typeKey & ~kHigh) != typeName) continue;
            for (auto [idKey, idTarget] : entries(root + (typeTarget & ~kHigh))) {
                if ((idKey & kHigh) || idKey != id || !(idTarget & kHigh)) continue;
                for (auto [languageKey, dataEntry] : entries(root + (idTarget & ~kHigh))) {
                    if (languageKey != language || (dataEntry & kHigh)) continue;
                    const std::size_t entry = root + dataEntry;
                    const std::size_t data = offsetOf(read32(file_, entry));
                    const std::uint32_t size = read32(file_, entry + 4);
                    if (data + size > file_.size()) throw std::runtime_error("resource data past the end of the file");
                    return Bytes(file_.begin() + std::ptrdiff_t(data), file_.begin() + std::ptrdiff_t(data + size));
                }
            }
        }
        return std::nullopt;
    }

    // Where the tree is, for failure messages.
    std::string describe() const {
        return resourceRva_ ? "resource directory at RVA " + std::to_string(resourceRva_) : "no resource directory";
    }

private:
    std::size_t offsetOf(std::uint32_t rva) const {
        for (const Section& s : sections_) {
            if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize))
                return s.rawOffset + (rva - s.virtualAddress);
        }
        throw std::runtime_error("RVA " + std::to_string(rva) + " in no section");
    }

    Bytes file_;
    std::uint32_t machine_ = 0;
    std::uint32_t resourceRva_ = 0;
    std::vector<Section> sections_;
};

// A four-character code as the resource stores it on Windows: its characters in reverse order.
std::uint32_t code(const char (&c)[5]) {
    return std::uint32_t(std::uint8_t(c[0])) << 24 | std::uint32_t(std::uint8_t(c[1])) << 16 |
           std::uint32_t(std::uint8_t(c[2])) << 8 | std::uint32_t(std::uint8_t(c[3]));
}

std::string fourCc(std::uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

struct Property {
    std::uint32_t vendor, key, id;
    Bytes data;
};

class PiplResource : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream in(CINDEL_WINDOWS_PLUGIN_PATH, std::ios::binary);
        if (!in) GTEST_SKIP() << CINDEL_WINDOWS_PLUGIN_PATH << " is not built (make windows builds it)";
        const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        PeResources pe(file);
        EXPECT_EQ(pe.machine(), 0x8664u) << "not an x86-64 image";
        std::optional<Bytes> found = pe.find("PIPL", CINDEL_PIPL_RESOURCE_ID, CINDEL_PIPL_LANGUAGE);
        ASSERT_TRUE(found) << "no PIPL resource " << CINDEL_PIPL_RESOURCE_ID << " in language " << CINDEL_PIPL_LANGUAGE
                           << " (" << pe.describe() << ")";
        bytes_ = *found;
        ASSERT_GE(bytes_.size(), 10u);
        EXPECT_EQ(read16(bytes_, 0), 1u) << "reserved word";
        EXPECT_EQ(read32(bytes_, 2), 0u) << "properties version";
        const std::uint32_t count = read32(bytes_, 6);
        std::size_t at = 10;
        for (std::uint32_t i = 0; i < count; ++i) {
            Property p{read32(bytes_, at), read32(bytes_, at + 4), read32(bytes_, at + 8), {}};
            const std::uint32_t length = read32(bytes_, at + 12);
            EXPECT_EQ(length % 4, 0u) << "property " << i << " (" << fourCc(p.key) << ") data length " << length;
            ASSERT_LE(at + 16 + length, bytes_.size()) << "property " << i << " runs past the resource";
            p.data.assign(bytes_.begin() + std::ptrdiff_t(at + 16), bytes_.begin() + std::ptrdiff_t(at + 16 + length));
            properties_.push_back(std::move(p));
            at += 16 + length;
        }
        EXPECT_EQ(at, bytes_.size()) << "bytes after the last property";
    }

    const Property& property(std::size_t index, const char (&key)[5]) {
        EXPECT_EQ(fourCc(properties_.at(index).key), key) << "property " << index;
        return properties_.at(index);
    }

    static std::string pascalString(const Bytes& data) {
        EXPECT_FALSE(data.empty());
        if (data.empty() || data[0] + 1u > data.size()) return "<length byte " + std::to_string(data.at(0)) + " too long>";
        for (std::size_t i = 1u + data[0]; i < data.size(); ++i) EXPECT_EQ(data[i], 0) << "padding byte " << i;
        EXPECT_EQ(data.size(), (1u + data[0] + 3) / 4 * 4) << "padded to more than the next multiple of 4";
        return std::string(data.begin() + 1, data.begin() + 1 + data[0]);
    }

    static std::uint32_t long32(const Bytes& data) {
        EXPECT_EQ(data.size(), 4u);
        return read32(data, 0);
    }

    Bytes bytes_;
    std::vector<Property> properties_;
};

TEST_F(PiplResource, HoldsTheTwelvePropertiesOfVendor8bimInOrder) {
    const char* keys[] = {"kind", "name", "catg", "8664", "ePVR", "eSVR",
                          "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
    ASSERT_EQ(properties_.size(), std::size(keys));
    for (std::size_t i = 0; i < properties_.size(); ++i) {
        EXPECT_EQ(fourCc(properties_[i].key), keys[i]) << "property " << i;
        EXPECT_EQ(fourCc(properties_[i].vendor), CINDEL_PIPL_VENDOR) << "property " << i;
        EXPECT_EQ(properties_[i].id, 0u) << "property " << i;
    }
    // The reversed storage of four-character codes, byte by byte: '8BIM' is "MIB8" in the file.
    EXPECT_EQ(std::memcmp(bytes_.data() + 10, "MIB8dnik", 8), 0);
}

TEST_F(PiplResource, EveryPropertyEqualsTheConstantsGlobalSetupReports) {
    ASSERT_EQ(properties_.size(), 12u);
    EXPECT_EQ(long32(property(0, "kind").data), code(CINDEL_KIND));
    EXPECT_EQ(pascalString(property(1, "name").data), CINDEL_NAME);
    EXPECT_EQ(pascalString(property(2, "catg").data), CINDEL_CATEGORY);

    const Bytes& entry = property(3, "8664").data;
    const std::string entryPoint(reinterpret_cast<const char*>(entry.data()));  // up to its terminating zero
    EXPECT_EQ(entryPoint, CINDEL_ENTRY_POINT);
    EXPECT_EQ(entry.size(), (entryPoint.size() + 1 + 3) / 4 * 4);

    const Bytes& pipl = property(4, "ePVR").data;
    ASSERT_EQ(pipl.size(), 4u);
    EXPECT_EQ(read16(pipl, 0), std::uint32_t(CINDEL_PIPL_VERSION_MAJOR));
    EXPECT_EQ(read16(pipl, 2), std::uint32_t(CINDEL_PIPL_VERSION_MINOR));
    const Bytes& spec = property(5, "eSVR").data;
    ASSERT_EQ(spec.size(), 4u);
    EXPECT_EQ(read16(spec, 0), std::uint32_t(CINDEL_SPEC_VERSION_MAJOR));
    EXPECT_EQ(read16(spec, 2), std::uint32_t(CINDEL_SPEC_VERSION_MINOR));

    EXPECT_EQ(long32(property(6, "eVER").data), std::uint32_t(CINDEL_EFFECT_VERSION));
    EXPECT_EQ(long32(property(7, "eINF").data), std::uint32_t(CINDEL_INFO_FLAGS));
    EXPECT_EQ(long32(property(8, "eGLO").data), std::uint32_t(CINDEL_OUT_FLAGS));
    EXPECT_EQ(long32(property(9, "eGL2").data), std::uint32_t(CINDEL_OUT_FLAGS2));
    EXPECT_EQ(pascalString(property(10, "eMNA").data), CINDEL_MATCH_NAME);
    EXPECT_EQ(long32(property(11, "aeFL").data), std::uint32_t(CINDEL_RESERVED_INFO));
}

}  // namespace
