// The header checks of tools/image_limits.h. They read the signature, the header and the chunk
// lengths only (seeking past the data), so a refusal costs a few reads whatever the file declares.
#include "tools/image_limits.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/errors.h"

namespace cli {

namespace {

// ---- A file read by its headers, with 64-bit offsets on both platforms

#ifdef _WIN32
int seekTo(FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin); }
std::int64_t tellAt(FILE* file) { return _ftelli64(file); }
#else
int seekTo(FILE* file, std::int64_t offset, int origin) { return fseeko(file, off_t(offset), origin); }
std::int64_t tellAt(FILE* file) { return std::int64_t(ftello(file)); }
#endif

class HeaderReader {
public:
    HeaderReader(const std::string& path, const std::string& prefix) {
        file_ = std::fopen(path.c_str(), "rb");
        if (!file_) throw RuntimeFailure(prefix + std::strerror(errno));
        if (seekTo(file_, 0, SEEK_END) == 0) size_ = tellAt(file_);
        seekTo(file_, 0, SEEK_SET);
    }
    ~HeaderReader() { std::fclose(file_); }
    HeaderReader(const HeaderReader&) = delete;
    HeaderReader& operator=(const HeaderReader&) = delete;

    std::int64_t size() const { return size_; }
    std::int64_t position() const { return tellAt(file_); }
    bool read(void* out, std::size_t count) { return std::fread(out, 1, count, file_) == count; }
    bool skip(std::int64_t count) { return seekTo(file_, count, SEEK_CUR) == 0; }

private:
    FILE* file_ = nullptr;
    std::int64_t size_ = 0;
};

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

std::int32_t littleEndian32(const std::uint8_t* p) {
    return std::int32_t(std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                        (std::uint32_t(p[3]) << 24));
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

std::string sizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

// ---- PNG

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string chunkName(const std::uint8_t* type) {
    for (int i = 0; i < 4; ++i)
        if (!std::isalpha(type[i])) return "a chunk";
    return "chunk \"" + std::string(reinterpret_cast<const char*>(type), 4) + "\"";
}

// The fewest bytes the inflated image data can have: the packed pixels, plus one filter byte per
// row when not interlaced (Adam7's passes have more rows, never fewer bytes than the pixels).
std::int64_t pngInflatedBytes(std::int64_t width, std::int64_t height, int bitDepth, int colorType,
                              bool isInterlaced) {
    int channels = 1;
    switch (colorType) {
        case 2: channels = 3; break;
        case 4: channels = 2; break;
        case 6: channels = 4; break;
        default: break;  // grey, palette, or invalid (the decoder refuses those)
    }
    const std::int64_t bitsPerPixel = std::int64_t(channels) * std::max(bitDepth, 1);
    if (isInterlaced) return ceilDiv(width * height * bitsPerPixel, 8);
    return height * (1 + ceilDiv(width * bitsPerPixel, 8));
}

// ---- OpenEXR

struct ExrPart {
    bool hasDataWindow = false;
    std::int32_t window[4] = {};  // xMin, yMin, xMax, yMax
    int compression = -1;
    std::int64_t tileWidth = 0, tileHeight = 0;
    std::int64_t bytesPerPixel = 0;  // of the channels sampled at every pixel; 0 when unknown
};

// Scan lines per chunk of each compression (OpenEXR's table); 0 for one we do not know.
int exrLinesPerChunk(int compression) {
    static const int lines[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
    return compression >= 0 && compression < 10 ? lines[compression] : 0;
}

// Bytes the data of one chunk must at least take for `rawBytes` of pixels: stored as they are
// without compression; RLE (128 bytes from two) and zlib (1032 to 1) within the deflate bound;
// nothing known for the others.
std::int64_t exrLeastDataBytes(int compression, std::int64_t rawBytes) {
    if (compression == 0) return rawBytes;
    if (compression >= 1 && compression <= 3) return ceilDiv(rawBytes, kMaxDeflateRatio);
    return 0;
}

// A null-terminated name of at most 255 characters (long names); false at the end of the file or
// past the limit.
bool readName(HeaderReader& file, std::string& name) {
    name.clear();
    for (;;) {
        char c;
        if (!file.read(&c, 1)) return false;
        if (c == '\0') return true;
        if (name.size() == 255) return false;
        name += c;
    }
}

std::int64_t exrChannelBytes(const std::vector<std::uint8_t>& list) {
    std::int64_t bytes = 0;
    std::size_t at = 0;
    while (at < list.size() && list[at] != 0) {
        const auto end = std::find(list.begin() + std::ptrdiff_t(at), list.end(), std::uint8_t(0));
        at = std::size_t(end - list.begin()) + 1;
        if (at + 16 > list.size()) return 0;
        const std::int32_t type = littleEndian32(&list[at]);
        const std::int32_t xSampling = littleEndian32(&list[at + 8]);
        const std::int32_t ySampling = littleEndian32(&list[at + 12]);
        if (xSampling == 1 && ySampling == 1) bytes += type == 1 ? 2 : 4;  // half, else uint or float
        at += 16;
    }
    return bytes;
}

// One header's attributes up to the empty name that ends it; false when the file ends first (the
// decoder says what is wrong then).
bool readExrHeader(HeaderReader& file, ExrPart& part, bool& isEmpty) {
    std::string name, type;
    isEmpty = true;
    for (;;) {
        if (!readName(file, name)) return false;
        if (name.empty()) return true;
        isEmpty = false;
        std::uint8_t sizeBytes[4];
        if (!readName(file, type) || !file.read(sizeBytes, 4)) return false;
        const std::int32_t size = littleEndian32(sizeBytes);
        if (size < 0 || size > file.size() - file.position()) return false;
        std::uint8_t value[16];
        if (name == "dataWindow" && type == "box2i" && size == 16) {
            if (!file.read(value, 16)) return false;
            for (int i = 0; i < 4; ++i) part.window[i] = littleEndian32(value + 4 * i);
            part.hasDataWindow = true;
        } else if (name == "compression" && size == 1) {
            if (!file.read(value, 1)) return false;
            part.compression = value[0];
        } else if (name == "tiles" && type == "tiledesc" && size == 9) {
            if (!file.read(value, 9)) return false;
            part.tileWidth = std::uint32_t(littleEndian32(value));
            part.tileHeight = std::uint32_t(littleEndian32(value + 4));
        } else if (name == "channels" && type == "chlist" && size <= 65536) {
            std::vector<std::uint8_t> list(std::size_t(size) + 1, 0);
            if (!file.read(list.data(), std::size_t(size))) return false;
            part.bytesPerPixel = exrChannelBytes(list);
        } else if (!file.skip(size)) {
            return false;
        }
    }
}

}  // namespace

std::string imageBudgetRefusal(std::int64_t width, std::int64_t height) {
    if (width < 1 || height < 1) return "declares " + sizeText(width, height) + ", an empty image";
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels)
        return "declares " + sizeText(width, height) + ", more than images may have: at most " +
               std::to_string(kMaxImageSide) + " pixels a side and " + std::to_string(kMaxImagePixels) +
               " pixels (16384 x 16384) in all";
    return {};
}

void checkPngHeader(const std::string& path) {
    const std::string prefix = "cannot read image \"" + path + "\": ";
    HeaderReader file(path, prefix);
    std::uint8_t signature[8];
    if (!file.read(signature, 8) || std::memcmp(signature, kPngSignature, 8) != 0)
        throw RuntimeFailure(prefix + "not a PNG file");
    std::uint8_t chunk[8], header[13];
    if (!file.read(chunk, 8) || bigEndian32(chunk) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0 ||
        !file.read(header, 13))
        throw RuntimeFailure(prefix + "not a PNG file: it does not begin with an image header (IHDR)");
    const std::int64_t width = bigEndian32(header), height = bigEndian32(header + 4);
    const std::string refusal = imageBudgetRefusal(width, height);
    if (!refusal.empty()) throw RuntimeFailure(prefix + refusal);

    // Every chunk's length, the image data's added up, without reading the data.
    std::int64_t compressedBytes = 0;
    file.skip(4);  // IHDR's CRC
    for (;;) {
        const std::int64_t at = file.position();
        if (!file.read(chunk, 8)) break;  // no IEND: the decoder reports the file as it finds it
        const std::int64_t length = bigEndian32(chunk);
        if (length > 0x7FFFFFFF || at + 12 + length > file.size())
            throw RuntimeFailure(prefix + chunkName(chunk + 4) + " at byte " + std::to_string(at) + " declares " +
                                 std::to_string(length) + " bytes, but the file ends " +
                                 std::to_string(file.size() - at) + " bytes after its start: it is truncated or damaged");
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0) compressedBytes += length;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) break;
        if (!file.skip(length + 4)) break;
    }
    const std::int64_t inflatedBytes = pngInflatedBytes(width, height, header[8], header[9], header[12] != 0);
    if (compressedBytes * kMaxDeflateRatio < inflatedBytes)
        throw RuntimeFailure(prefix + "declares " + sizeText(width, height) + " (" + std::to_string(inflatedBytes) +
                             " bytes of image data), but its " + std::to_string(compressedBytes) +
                             " compressed bytes inflate to at most " +
                             std::to_string(compressedBytes * kMaxDeflateRatio) + ": it is truncated or damaged");
}

void checkExrHeader(const std::string& path) {
    const std::string prefix = "cannot read EXR \"" + path + "\": ";
    HeaderReader file(path, prefix);
    std::uint8_t start[8];
    if (!file.read(start, 8) || littleEndian32(start) != 20000630)
        throw RuntimeFailure(prefix + "not an OpenEXR file, or it cannot be read");
    const std::int32_t flags = littleEndian32(start + 4);
    const bool isMultiPart = (flags & 0x1000) != 0, isDeep = (flags & 0x800) != 0, isTiled = (flags & 0x200) != 0;

    std::vector<ExrPart> parts;
    for (;;) {
        ExrPart part;
        bool isEmpty = false;
        // An attribute running past the file's end is no header at all; OpenEXR would first
        // allocate the size it declares, up to 2 GiB from a few bytes.
        if (!readExrHeader(file, part, isEmpty))
            throw RuntimeFailure(prefix + "its header is damaged or truncated");
        if (isEmpty && (isMultiPart || !parts.empty())) break;  // the empty header ending the list
        parts.push_back(part);
        if (!isMultiPart) break;
    }
    for (const ExrPart& part : parts) {
        if (!part.hasDataWindow) throw RuntimeFailure(prefix + "its header has no data window");
        const std::int64_t width = std::int64_t(part.window[2]) - part.window[0] + 1;
        const std::int64_t height = std::int64_t(part.window[3]) - part.window[1] + 1;
        const std::string refusal = imageBudgetRefusal(width, height);
        if (!refusal.empty()) throw RuntimeFailure(prefix + refusal);
    }
    // The size the one part's chunks must take: the offset table (8 bytes a chunk), each chunk's
    // own header (the scan line or the tile's four numbers, then the data size) and its data.
    if (isMultiPart || isDeep || parts.size() != 1) return;
    const ExrPart& part = parts[0];
    const std::int64_t width = std::int64_t(part.window[2]) - part.window[0] + 1;
    const std::int64_t height = std::int64_t(part.window[3]) - part.window[1] + 1;
    std::int64_t chunks = 0, chunkHeaderBytes = 8;
    if (isTiled) {
        if (part.tileWidth < 1 || part.tileHeight < 1) return;
        chunks = ceilDiv(width, part.tileWidth) * ceilDiv(height, part.tileHeight);
        chunkHeaderBytes = 20;
    } else {
        const int lines = exrLinesPerChunk(part.compression);
        if (lines == 0) return;
        chunks = ceilDiv(height, lines);
    }
    const std::int64_t leastBytes = file.position() + chunks * (8 + chunkHeaderBytes) +
                                    exrLeastDataBytes(part.compression, width * height * part.bytesPerPixel);
    if (leastBytes > file.size())
        throw RuntimeFailure(prefix + "declares " + sizeText(width, height) + " in " + std::to_string(chunks) +
                             " chunks, which take at least " + std::to_string(leastBytes) + " bytes, but the file has " +
                             std::to_string(file.size()) + ": it is truncated or damaged");
}

}  // namespace cli
