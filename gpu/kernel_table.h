// The kernel set: the 38 kernel objects the runtime creates from the kernel library, in creation
// order, and each kernel's argument list. This table is the one definition of the contract
// between the host side and the kernels: the host binds arguments through it by name (see
// KernelLaunch), and a contract test compares it with the kernels' own signatures in the
// library text. Two kernels have more than one object (cd_cool three, cd_advect_scalar two) so
// that each use keeps its own bound arguments.
//
// Beside the 38 roles sit the auxiliary kernels: faster variants of a role's work that the host
// uses when it can and replaces by the role's kernel when it cannot (the curl noise's lattice
// table, the layer emission's column weights). They are created on first use, never required at start-up, and their argument lists
// live here and are checked by the same contract test.
#pragma once

#include <cstddef>
#include <span>

namespace cindel {

enum class KernelRole : int {
    AddVolumeSource,
    Buoyancy,
    AdvectVelocity,
    Divergence,
    PressureJacobi,
    GradientSubtract,
    CoolTemperature,
    CoolDensity,
    Raymarch,
    SliceRender,
    ComputeCurl,
    ConfineVorticity,
    AdvectScalar,
    AdvectThreeScalars,
    UpsampleBilinear,
    BuildMacrocell,
    BuildMacrocellL1,
    Combust,
    CurlNoise,
    Shred,
    EmitEmber,
    AdvectScalar2,
    CoolEmber,
    EmitFromLayer,
    Restrict,
    ProlongAdd,
    Residual,
    ApplyForces,
    ExtractBright,
    BlurH,
    BlurV,
    BloomDownsample,
    BloomUpsampleAdd,
    RadialBlur,
    CompositeAdd,
    MbReconstruct,
    VelTileMax,
    HeatDistort,
    Count
};

constexpr int kKernelRoleCount = static_cast<int>(KernelRole::Count);
static_assert(kKernelRoleCount == 38);

// How an argument is passed. Buffers are passed as their cl_mem handle; the element type and
// access are part of the contract so that the signature test can compare them with the kernel.
enum class ArgKind : int {
    Int,          // int
    Float,        // float
    FloatBuffer,  // __global float*
    ConstFloatBuffer,
    Float2Buffer,
    ConstFloat2Buffer,
    Float4Buffer,
    ConstFloat4Buffer,
    IntBuffer,
    ConstIntBuffer,
    ParamBlock,  // __global const <struct>*: a parameter block shared by host and kernel
};

struct KernelArg {
    const char* name;
    ArgKind kind;
};

struct KernelSpec {
    KernelRole role;
    const char* name;                  // the kernel function's name in the library
    std::span<const KernelArg> args;   // empty until the kernel exists in the library
};

const KernelSpec& kernelSpec(KernelRole role);
std::span<const KernelSpec> kernelSpecs();

enum class AuxKernel : int {
    NoiseLatticeFill,  // cd_noise_lattice_fill: the curl noise's table of lattice hashes
    CurlNoiseLut,      // cd_curl_noise_lut: CurlNoise reading that table
    EmitLayerColumns,  // cd_emit_layer_columns: EmitFromLayer's weight of each column
    EmitLayerSlab,     // cd_emit_layer_slab: EmitFromLayer's slab from those weights
    Count
};

constexpr int kAuxKernelCount = static_cast<int>(AuxKernel::Count);

// An auxiliary kernel's spec carries role KernelRole::Count: it is none of the roles.
const KernelSpec& auxKernelSpec(AuxKernel kernel);
std::span<const KernelSpec> auxKernelSpecs();

bool isBufferArg(ArgKind kind);

}  // namespace cindel
