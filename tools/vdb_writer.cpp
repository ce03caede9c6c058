// The OpenVDB writer (Linux builds with OpenVDB): sparse grids from the effect's dense fields, the
// transform that puts them where the effect's mapping puts the grid in the composition, and the
// atomic file write.
//
// OpenVDB's io::File writes through an ofstream it never checks after opening, so a full disk
// would leave a short file that looks complete. The file is therefore serialised into memory
// (the same bytes io::File writes: a seekable archive) and written here with every write, the
// sync and the rename checked.
#include "tools/vdb_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>

#include <openvdb/io/Archive.h>
#include <openvdb/openvdb.h>
#include <openvdb/tools/Dense.h>

#include "tools/errors.h"

namespace cli {

namespace {

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void initialiseOpenVdb() {
    static std::once_flag once;
    std::call_once(once, [] { openvdb::initialize(); });
}

// io::Archive's stream write is protected; io::File's public one opens its own unchecked stream.
class MemoryArchive : public openvdb::io::Archive {
public:
    void writeTo(std::ostream& os, const openvdb::GridCPtrVec& grids, const openvdb::MetaMap& meta) const {
        write(os, grids, /*seekable=*/true, meta);
    }
};

openvdb::math::Transform::Ptr compFromIndex(const CindelVolumeFields& f) {
    openvdb::math::Transform::Ptr xf = openvdb::math::Transform::createLinearTransform(1.0);
    xf->preScale(openvdb::Vec3d(f.compPerCell[0], f.compPerCell[1], f.compPerCell[2]));
    xf->postTranslate(openvdb::Vec3d(f.compFromCellOrigin[0], f.compFromCellOrigin[1], f.compFromCellOrigin[2]));
    return xf;
}

openvdb::FloatGrid::Ptr sparseScalar(const float* values, int N, const char* name,
                                     const openvdb::math::Transform::Ptr& xf) {
    openvdb::FloatGrid::Ptr grid = openvdb::FloatGrid::create(0.0f);
    grid->setName(name);
    grid->setTransform(xf);
    const openvdb::CoordBBox box(openvdb::Coord(0), openvdb::Coord(N - 1));
    // The dense view only reads; OpenVDB's Dense has no read-only form. The fields are x fastest.
    openvdb::tools::Dense<float, openvdb::tools::LayoutXYZ> dense(box, const_cast<float*>(values));
    openvdb::tools::copyFromDense(dense, *grid, kVdbActiveThreshold);
    return grid;
}

// Velocity where there is something to move: on the union of the scalars' active voxels, in
// composition pixels per second.
openvdb::Vec3fGrid::Ptr sparseVelocity(const CindelVolumeFields& f, const openvdb::GridCPtrVec& scalars,
                                       const openvdb::math::Transform::Ptr& xf) {
    openvdb::Vec3fGrid::Ptr grid = openvdb::Vec3fGrid::create(openvdb::Vec3f(0.0f));
    grid->setName("vel");
    grid->setTransform(xf);
    grid->setVectorType(openvdb::VEC_CONTRAVARIANT_RELATIVE);
    grid->setIsInWorldSpace(true);
    for (const openvdb::GridBase::ConstPtr& scalar : scalars)
        grid->tree().topologyUnion(openvdb::gridConstPtrCast<openvdb::FloatGrid>(scalar)->tree());
    grid->tree().voxelizeActiveTiles();

    const float scale[3] = {static_cast<float>(f.compPerCell[0]), static_cast<float>(f.compPerCell[1]),
                            static_cast<float>(f.compPerCell[2])};
    const size_t n = size_t(f.side);
    for (auto leaf = grid->tree().beginLeaf(); leaf; ++leaf) {
        for (auto voxel = leaf->beginValueOn(); voxel; ++voxel) {
            const openvdb::Coord c = voxel.getCoord();
            const float* v = f.velocityCellsPerSecond + ((size_t(c.z()) * n + size_t(c.y())) * n + size_t(c.x())) * 4;
            voxel.setValue(openvdb::Vec3f(v[0] * scale[0], v[1] * scale[1], v[2] * scale[2]));
        }
    }
    return grid;
}

// The header's file identifier: 36 characters of a UUID after the magic number, three version words
// and the offsets flag. OpenVDB draws it at random, so the same frame would never give the same
// file twice; here it is derived from the rest of the file instead (two FNV-1a 64 digests), so a
// frame reached by a cold request and by playback gives the same bytes, and different content
// still gets a different identifier.
constexpr size_t kUuidOffset = 8 + 4 + 4 + 4 + 1;
constexpr size_t kUuidLength = 36;

void makeIdentifierFromContent(std::string& bytes) {
    if (bytes.size() < kUuidOffset + kUuidLength) return;
    for (size_t dash : {8u, 13u, 18u, 23u})
        if (bytes[kUuidOffset + dash] != '-') return;  // not the header this was written for: leave it
    uint64_t a = 0xcbf29ce484222325ull, b = 0x84222325cbf29ce4ull;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i >= kUuidOffset && i < kUuidOffset + kUuidLength) continue;
        const uint64_t c = static_cast<unsigned char>(bytes[i]);
        a = (a ^ c) * 0x100000001b3ull;
        b = (b ^ (c + 0x5b)) * 0x100000001b3ull;
    }
    // Version 4 and variant bits, so readers that check the form find a well-formed UUID.
    uint8_t id[16];
    for (int i = 0; i < 8; ++i) {
        id[i] = static_cast<uint8_t>(a >> (56 - 8 * i));
        id[8 + i] = static_cast<uint8_t>(b >> (56 - 8 * i));
    }
    id[6] = static_cast<uint8_t>((id[6] & 0x0F) | 0x40);
    id[8] = static_cast<uint8_t>((id[8] & 0x3F) | 0x80);
    char text[kUuidLength + 1];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", id[0],
                  id[1], id[2], id[3], id[4], id[5], id[6], id[7], id[8], id[9], id[10], id[11], id[12], id[13], id[14],
                  id[15]);
    bytes.replace(kUuidOffset, kUuidLength, text, kUuidLength);
}

std::string systemReason(int error) { return std::strerror(error); }

// False with the system's error when a write fails or the disk takes nothing more.
bool writeAll(int fd, const std::string& bytes, int* error) {
    const char* at = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            *error = written < 0 ? errno : ENOSPC;
            return false;
        }
        at += written;
        left -= size_t(written);
    }
    return true;
}

}  // namespace

bool hasVdbWriter() { return true; }

std::string encodeVdb(const CindelVolumeFields& f, int frame, const VdbOptions& options, VdbWriteTimes* times) {
    initialiseOpenVdb();
    const int N = f.side;
    if (N <= 0 || !f.density || !f.temperatureKelvin || !f.fuel || !f.velocityCellsPerSecond)
        throw RuntimeFailure("frame " + std::to_string(frame) + ": the effect handed over an empty volume");

    const double start = nowMs();
    const openvdb::math::Transform::Ptr xf = compFromIndex(f);
    openvdb::FloatGrid::Ptr density = sparseScalar(f.density, N, "density", xf);
    density->setGridClass(openvdb::GRID_FOG_VOLUME);
    openvdb::FloatGrid::Ptr temperature = sparseScalar(f.temperatureKelvin, N, "temperature", xf);
    openvdb::FloatGrid::Ptr fuel = sparseScalar(f.fuel, N, "fuel", xf);
    const openvdb::GridCPtrVec scalars{density, temperature, fuel};
    openvdb::Vec3fGrid::Ptr velocity = sparseVelocity(f, scalars, xf);
    const double built = nowMs();

    openvdb::MetaMap meta;
    meta.insertMeta("cindel_frame", openvdb::Int32Metadata(frame));
    meta.insertMeta("cindel_held_frame", openvdb::Int32Metadata(f.heldFrame));
    meta.insertMeta("cindel_grid_side", openvdb::Int32Metadata(N));
    meta.insertMeta("cindel_comp_width", openvdb::Int32Metadata(f.compWidth));
    meta.insertMeta("cindel_comp_height", openvdb::Int32Metadata(f.compHeight));

    MemoryArchive archive;
    archive.setCompression(options.isCompressed ? openvdb::io::Archive::DEFAULT_COMPRESSION_FLAGS
                                                : uint32_t(openvdb::io::COMPRESS_ACTIVE_MASK));
    std::ostringstream os(std::ios_base::out | std::ios_base::binary);
    archive.writeTo(os, openvdb::GridCPtrVec{density, temperature, fuel, velocity}, meta);
    if (!os) throw RuntimeFailure("frame " + std::to_string(frame) + ": cannot encode the OpenVDB file in memory");
    std::string bytes = std::move(os).str();
    makeIdentifierFromContent(bytes);
    if (times) {
        times->buildMs = built - start;
        times->encodeMs = nowMs() - built;
        times->bytes = bytes.size();
    }
    return bytes;
}

void writeVdbAtomically(const CindelVolumeFields& fields, int frame, const std::string& path,
                        const VdbOptions& options, VdbWriteTimes* times) {
    const std::string bytes = encodeVdb(fields, frame, options, times);
    const double start = nowMs();

    // Hidden, beside the target (so the rename stays on one file system), unique to this process.
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string tempPath = folder + "." + name + ".tmp-" + std::to_string(::getpid());

    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw RuntimeFailure(path + ": cannot create the file: " + systemReason(errno));
    int error = 0;
    const char* failure = nullptr;
    if (!writeAll(fd, bytes, &error)) {
        failure = "cannot write the file";
    } else if (::fsync(fd) != 0) {
        // On disk before the rename, so a crash right after it cannot leave an empty file under
        // the final name; a full disk may only show here.
        error = errno;
        failure = "cannot write the file to disk";
    }
    if (::close(fd) != 0 && !failure) {
        error = errno;
        failure = "cannot write the file";
    }
    if (failure) {
        std::remove(tempPath.c_str());
        throw RuntimeFailure(path + ": " + failure + ": " + systemReason(error));
    }
    if (std::rename(tempPath.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(tempPath.c_str());
        throw RuntimeFailure(path + ": cannot put the written file in place: " + systemReason(error));
    }
    if (times) times->writeMs = nowMs() - start;
}

}  // namespace cli
