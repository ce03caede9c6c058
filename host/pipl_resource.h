/* The plug-in property resource (PiPL) as the host reads it from the Windows DLL, encoded at compile
 * time from host/plugin_properties.h, the constants global set-up also writes into PF_OutData, so
 * that the resource and the running effect cannot disagree. tools/pipl_generate.cpp writes these
 * bytes to the binary file the resource script embeds.
 *
 * Layout (little-endian): a 16-bit 1, a 32-bit properties version 0, a 32-bit property count, then
 * per property the vendor, the key, a 32-bit id 0, a 32-bit data length (a multiple of 4) and the
 * data, zero-padded. Four-character codes are stored in reverse byte order, as the host reads them on
 * Windows ('8BIM' as "MIB8"). A string too long for its slot stops the compile: a name the host would
 * show truncated, or a match name silently cut, would be a different effect to a saved project. */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "host/plugin_properties.h"

namespace cindel::pipl {

// The host shows at most 31 characters of an effect's name; a Pascal string holds at most 255.
inline constexpr std::size_t kNameMaxChars = 31;
inline constexpr std::size_t kPascalMaxChars = 255;

// A string literal usable as a template argument, so that its length is checked by static_assert.
template <std::size_t N>
struct Text {
    char chars[N]{};
    consteval Text(const char (&literal)[N]) {
        for (std::size_t i = 0; i < N; ++i) chars[i] = literal[i];
    }
    static constexpr std::size_t length = N - 1;
};

// The four-character codes of the resource: always exactly four characters.
template <Text Code>
consteval std::uint32_t fourCharCode() {
    static_assert(Code.length == 4, "PiPL: a four-character code must have exactly four characters");
    return (std::uint32_t(std::uint8_t(Code.chars[0])) << 24) | (std::uint32_t(std::uint8_t(Code.chars[1])) << 16) |
           (std::uint32_t(std::uint8_t(Code.chars[2])) << 8) | std::uint32_t(std::uint8_t(Code.chars[3]));
}

// A checked Pascal-string value: the compile stops here when the string does not fit its slot.
template <Text S, std::size_t MaxChars>
struct PascalString {
    static_assert(S.length <= MaxChars, "PiPL: string too long for its Pascal-string slot (see host/plugin_properties.h)");
    static constexpr const Text<sizeof(S.chars)>& text = S;
};

enum class DataKind { FourCharCode, PascalString, CString, TwoShorts, Long };

struct Property {
    std::uint32_t key = 0;
    DataKind kind = DataKind::Long;
    const char* text = nullptr;  // PascalString, CString
    std::size_t textLength = 0;
    std::uint32_t value = 0;     // FourCharCode, Long; TwoShorts: major << 16 | minor
};

constexpr std::size_t paddedTo4(std::size_t n) { return (n + 3) / 4 * 4; }

constexpr std::size_t dataLength(const Property& p) {
    switch (p.kind) {
        case DataKind::PascalString:
            return paddedTo4(1 + p.textLength);
        case DataKind::CString:
            return paddedTo4(p.textLength + 1);
        default:
            return 4;
    }
}

template <Text S, std::size_t MaxChars>
constexpr Property pascalProperty(std::uint32_t key) {
    using Checked = PascalString<S, MaxChars>;
    return {key, DataKind::PascalString, Checked::text.chars, Checked::text.length, 0};
}

template <Text S>
constexpr Property cStringProperty(std::uint32_t key) {
    return {key, DataKind::CString, S.chars, S.length, 0};
}

inline constexpr std::uint32_t kVendor = fourCharCode<CINDEL_PIPL_VENDOR>();

// The twelve properties, in the order the host expects them.
inline constexpr std::array<Property, 12> kProperties = {{
    {fourCharCode<"kind">(), DataKind::FourCharCode, nullptr, 0, fourCharCode<CINDEL_KIND>()},
    pascalProperty<CINDEL_NAME, kNameMaxChars>(fourCharCode<"name">()),
    pascalProperty<CINDEL_CATEGORY, kPascalMaxChars>(fourCharCode<"catg">()),
    cStringProperty<CINDEL_ENTRY_POINT>(fourCharCode<"8664">()),
    {fourCharCode<"ePVR">(), DataKind::TwoShorts, nullptr, 0,
     std::uint32_t(CINDEL_PIPL_VERSION_MAJOR) << 16 | std::uint32_t(CINDEL_PIPL_VERSION_MINOR)},
    {fourCharCode<"eSVR">(), DataKind::TwoShorts, nullptr, 0,
     std::uint32_t(CINDEL_SPEC_VERSION_MAJOR) << 16 | std::uint32_t(CINDEL_SPEC_VERSION_MINOR)},
    {fourCharCode<"eVER">(), DataKind::Long, nullptr, 0, CINDEL_EFFECT_VERSION},
    {fourCharCode<"eINF">(), DataKind::Long, nullptr, 0, CINDEL_INFO_FLAGS},
    {fourCharCode<"eGLO">(), DataKind::Long, nullptr, 0, CINDEL_OUT_FLAGS},
    {fourCharCode<"eGL2">(), DataKind::Long, nullptr, 0, CINDEL_OUT_FLAGS2},
    pascalProperty<CINDEL_MATCH_NAME, kPascalMaxChars>(fourCharCode<"eMNA">()),
    {fourCharCode<"aeFL">(), DataKind::Long, nullptr, 0, CINDEL_RESERVED_INFO},
}};

static_assert(CINDEL_PIPL_VERSION_MAJOR <= 0xFFFF && CINDEL_PIPL_VERSION_MINOR <= 0xFFFF &&
                  CINDEL_SPEC_VERSION_MAJOR <= 0xFFFF && CINDEL_SPEC_VERSION_MINOR <= 0xFFFF,
              "PiPL: a version part does not fit its 16 bits");

constexpr std::size_t resourceSize() {
    std::size_t n = 2 + 4 + 4;
    for (const Property& p : kProperties) n += 16 + dataLength(p);
    return n;
}

// The resource bytes, exactly as they go into the DLL.
constexpr std::array<std::uint8_t, resourceSize()> encode() {
    std::array<std::uint8_t, resourceSize()> out{};
    std::size_t at = 0;
    auto put16 = [&](std::uint32_t v) {
        out[at++] = std::uint8_t(v);
        out[at++] = std::uint8_t(v >> 8);
    };
    // Little-endian, which is also the reversed byte order of a four-character code.
    auto put32 = [&](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    put16(1);
    put32(0);
    put32(std::uint32_t(kProperties.size()));
    for (const Property& p : kProperties) {
        put32(kVendor);
        put32(p.key);
        put32(0);
        const std::size_t length = dataLength(p);
        put32(std::uint32_t(length));
        const std::size_t end = at + length;
        switch (p.kind) {
            case DataKind::FourCharCode:
            case DataKind::Long:
                put32(p.value);
                break;
            case DataKind::TwoShorts:
                put16(p.value >> 16);
                put16(p.value & 0xFFFF);
                break;
            case DataKind::PascalString:
                out[at++] = std::uint8_t(p.textLength);
                for (std::size_t i = 0; i < p.textLength; ++i) out[at++] = std::uint8_t(p.text[i]);
                break;
            case DataKind::CString:
                for (std::size_t i = 0; i < p.textLength; ++i) out[at++] = std::uint8_t(p.text[i]);
                break;
        }
        at = end;  // the zero padding (and a C string's terminator) are already in place
    }
    return out;
}

inline constexpr auto kResourceBytes = encode();

}  // namespace cindel::pipl
