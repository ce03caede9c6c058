// What an image file may make the cindel command allocate, decided from its header before either
// platform's decoder (tools/image_codec.h) sees it, so that both builds refuse the same files with
// the same words.
//
// Two checks, both on what the file declares:
//   the pixel budget: at most kMaxImageSide pixels a side (the composition's and every layer's cap)
//     and kMaxImagePixels in all (16384 × 16384). A decoded layer costs 16 bytes a pixel as the
//     host's float RGBA and the decoders hold their own copy beside it, about 32 bytes a pixel at
//     the peak: 8 GiB at the budget, which a render node still has, where 30000 × 30000 would be
//     29 GiB.
//   what the file can hold: every chunk must fit in the file, and the compressed pixel data must be
//     able to inflate to the size declared. Deflate never expands more than 1032 to 1 (a 258-byte
//     match coded in two bits), so a 1 KB PNG cannot hold 60000 × 60000 pixels and is refused
//     without a byte of pixel memory. EXR files are held to their line-offset table and chunk
//     headers, and, for the uncompressed, RLE and zlib compressions, to the same bound on the data.
// Refusals throw RuntimeFailure "cannot read image \"<path>\": <reason>" (EXR: "cannot read EXR");
// the scene reader turns them into the scene's own error, exit status 2.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

constexpr std::int64_t kMaxImageSide = 30000;
constexpr std::int64_t kMaxImagePixels = std::int64_t(1) << 28;
constexpr std::int64_t kMaxDeflateRatio = 1032;

// Throws unless the PNG at `path` declares a size within the budget that its data can hold.
void checkPngHeader(const std::string& path);
// The same for an OpenEXR file (every part of a multi-part file).
void checkExrHeader(const std::string& path);

// The budget alone: "" when width × height is within it, else the reason.
std::string imageBudgetRefusal(std::int64_t width, std::int64_t height);

}  // namespace cli
