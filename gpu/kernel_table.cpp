// The kernel set as data. Argument lists are added here, and only here, as their kernels join
// the library.
#include "gpu/kernel_table.h"

#include <array>

namespace cindel {

namespace {

using K = KernelRole;

// Argument lists, one per kernel function, in the kernels' parameter order.
using A = ArgKind;

constexpr KernelArg kAddVolumeSource[] = {
    {"density", A::FloatBuffer}, {"temperature", A::FloatBuffer}, {"fuel", A::FloatBuffer},
    {"velocity", A::Float4Buffer}, {"N", A::Int}, {"sx", A::Float}, {"sy", A::Float}, {"sz", A::Float},
    {"radius", A::Float}, {"temperatureK", A::Float}, {"fuelInject", A::Float}, {"dt", A::Float},
    {"sizeX", A::Float}, {"sizeY", A::Float}, {"sizeZ", A::Float}, {"freeDir", A::Float},
    {"freeSpread", A::Float}, {"freeVelocity", A::Float}};
constexpr KernelArg kEmitEmber[] = {{"temperature", A::ConstFloatBuffer}, {"ember", A::FloatBuffer}, {"N", A::Int},
                                    {"emberTemp", A::Float}, {"spawnRate", A::Float}, {"frameTime", A::Float},
                                    {"dt", A::Float}};
// The layer emission: the fields, the two maps and their sizes, then the values per step, the
// pattern, the burn and the layer's placement.
constexpr KernelArg kEmitFromLayer[] = {
    {"density", A::FloatBuffer}, {"temperature", A::FloatBuffer}, {"fuel", A::FloatBuffer},
    {"layerAlpha", A::ConstFloatBuffer}, {"customMap", A::ConstFloatBuffer}, {"N", A::Int}, {"layerW", A::Int},
    {"layerH", A::Int}, {"customMapW", A::Int}, {"customMapH", A::Int}, {"compW", A::Int}, {"compH", A::Int},
    {"szXY", A::Float}, {"szZ", A::Float}, {"sxG", A::Float}, {"syG", A::Float}, {"szG", A::Float},
    {"temperatureK", A::Float}, {"fuelInject", A::Float}, {"dt", A::Float},
    {"patternMode", A::Int}, {"maskScale", A::Float}, {"maskContrast", A::Float}, {"maskThreshold", A::Float},
    {"maskInvert", A::Int},
    {"burnMode", A::Int}, {"burnProgress", A::Float}, {"burnWidth", A::Float}, {"burnNoise", A::Float},
    {"burnDirRad", A::Float}, {"burnSparkBoost", A::Float},
    {"useLayerTransform", A::Int}, {"layerPosX", A::Float}, {"layerPosY", A::Float}, {"layerInvScX", A::Float},
    {"layerInvScY", A::Float}, {"layerAncX", A::Float}, {"layerAncY", A::Float}};
constexpr KernelArg kCombust[] = {{"fuel", A::FloatBuffer},      {"temperature", A::FloatBuffer},
                                  {"density", A::FloatBuffer},   {"N", A::Int},
                                  {"ignitionTemp", A::Float},    {"burnRate", A::Float},
                                  {"heatPerBurn", A::Float},     {"smokePerBurn", A::Float},
                                  {"dt", A::Float}};
constexpr KernelArg kCool[] = {{"field", A::FloatBuffer}, {"N", A::Int}, {"coolRate", A::Float}, {"dt", A::Float},
                               {"aggression", A::Float}};
constexpr KernelArg kBuoyancy[] = {{"velocity", A::Float4Buffer}, {"temperature", A::ConstFloatBuffer}, {"N", A::Int},
                                   {"beta", A::Float}, {"dt", A::Float}, {"aggression", A::Float}};
constexpr KernelArg kApplyForces[] = {{"velocity", A::Float4Buffer}, {"N", A::Int},       {"gravity", A::Float},
                                      {"windX", A::Float},           {"windY", A::Float}, {"windZ", A::Float},
                                      {"dragFactor", A::Float},      {"dt", A::Float}};
constexpr KernelArg kComputeCurl[] = {{"vel", A::ConstFloat4Buffer}, {"curlOut", A::Float4Buffer}, {"N", A::Int}};
constexpr KernelArg kConfineVorticity[] = {{"vel", A::Float4Buffer},        {"curl", A::ConstFloat4Buffer},
                                           {"temperature", A::ConstFloatBuffer}, {"N", A::Int},
                                           {"epsilon", A::Float},            {"dt", A::Float},
                                           {"aggression", A::Float}};
constexpr KernelArg kCurlNoise[] = {{"vel", A::Float4Buffer}, {"N", A::Int},       {"strength", A::Float},
                                    {"scale", A::Float},      {"time", A::Float},  {"dt", A::Float}};
constexpr KernelArg kShred[] = {{"vel", A::Float4Buffer}, {"temperature", A::ConstFloatBuffer}, {"N", A::Int},
                                {"strength", A::Float},   {"dt", A::Float},  {"tThr", A::Float},
                                {"tWidth", A::Float}};
constexpr KernelArg kAdvectThreeScalars[] = {{"dIn", A::ConstFloatBuffer}, {"dOut", A::FloatBuffer},
                                             {"tIn", A::ConstFloatBuffer}, {"tOut", A::FloatBuffer},
                                             {"fIn", A::ConstFloatBuffer}, {"fOut", A::FloatBuffer},
                                             {"velRead", A::ConstFloat4Buffer}, {"N", A::Int},
                                             {"dt", A::Float}};
constexpr KernelArg kAdvectScalar[] = {{"fieldIn", A::ConstFloatBuffer}, {"fieldOut", A::FloatBuffer},
                                       {"velRead", A::ConstFloat4Buffer}, {"N", A::Int},
                                       {"dt", A::Float},                  {"dissipation", A::Float}};
constexpr KernelArg kAdvectVelocity[] = {{"velIn", A::ConstFloat4Buffer}, {"velOut", A::Float4Buffer}, {"N", A::Int},
                                         {"dt", A::Float}, {"dissipation", A::Float}};
constexpr KernelArg kDivergence[] = {{"vel", A::ConstFloat4Buffer}, {"divOut", A::FloatBuffer}, {"N", A::Int},
                                     {"temperature", A::ConstFloatBuffer}, {"aggression", A::Float},
                                     {"ignitionTemp", A::Float}};
constexpr KernelArg kPressureJacobi[] = {{"pIn", A::ConstFloatBuffer}, {"div", A::ConstFloatBuffer},
                                         {"pOut", A::FloatBuffer}, {"N", A::Int}};
constexpr KernelArg kResidual[] = {{"p", A::ConstFloatBuffer}, {"b", A::ConstFloatBuffer}, {"r", A::FloatBuffer},
                                   {"N", A::Int}};
constexpr KernelArg kRestrict[] = {{"fine", A::ConstFloatBuffer}, {"coarse", A::FloatBuffer}, {"Nc", A::Int}};
constexpr KernelArg kProlongAdd[] = {{"coarse", A::ConstFloatBuffer}, {"fine", A::FloatBuffer}, {"Nf", A::Int}};
// Rendering.
constexpr KernelArg kBuildMacrocell[] = {{"density", A::ConstFloatBuffer}, {"temperature", A::ConstFloatBuffer},
                                         {"macroMax", A::FloatBuffer},     {"N", A::Int},
                                         {"MN", A::Int},                   {"blockSize", A::Int}};
constexpr KernelArg kBuildMacrocellL1[] = {{"macroL0", A::ConstFloatBuffer}, {"macroL1", A::FloatBuffer},
                                           {"MN0", A::Int}};
// The ray march takes its buffers first, in the order of the scalar list they belong to, and every
// scalar in one parameter block (render/raymarch_params.h) whose fields keep that list's order.
constexpr KernelArg kRaymarch[] = {{"outBuf", A::Float4Buffer},       {"density", A::ConstFloatBuffer},
                                   {"temperature", A::ConstFloatBuffer}, {"ember", A::ConstFloatBuffer},
                                   {"velocity", A::ConstFloat4Buffer}, {"velOutBuf", A::Float2Buffer},
                                   {"macroMax", A::ConstFloatBuffer},  {"macroMaxL1", A::ConstFloatBuffer},
                                   {"params", A::ParamBlock}};
constexpr KernelArg kUpsampleBilinear[] = {{"halfIn", A::ConstFloat4Buffer}, {"fullOut", A::Float4Buffer},
                                           {"W", A::Int}, {"H", A::Int}, {"hW", A::Int}, {"hH", A::Int}};
constexpr KernelArg kHeatDistort[] = {{"inBuf", A::ConstFloat4Buffer}, {"outBuf", A::Float4Buffer}, {"W", A::Int},
                                      {"H", A::Int}, {"t", A::Float}, {"heatAmount", A::Float},
                                      {"heatScale", A::Float}, {"heatComplexity", A::Int},
                                      {"heatEvolution", A::Float}, {"heatRise", A::Float}};
constexpr KernelArg kExtractBright[] = {{"src", A::ConstFloat4Buffer}, {"dst", A::Float4Buffer}, {"W", A::Int},
                                        {"H", A::Int}, {"threshold", A::Float}};
constexpr KernelArg kBloomDownsample[] = {{"src", A::ConstFloat4Buffer}, {"dst", A::Float4Buffer},
                                          {"srcW", A::Int}, {"srcH", A::Int}, {"dstW", A::Int}, {"dstH", A::Int}};
constexpr KernelArg kBloomUpsampleAdd[] = {{"src", A::ConstFloat4Buffer}, {"dst", A::Float4Buffer},
                                           {"srcW", A::Int}, {"srcH", A::Int}, {"dstW", A::Int}, {"dstH", A::Int},
                                           {"blendFactor", A::Float}};
constexpr KernelArg kBlur[] = {{"src", A::ConstFloat4Buffer}, {"dst", A::Float4Buffer}, {"W", A::Int}, {"H", A::Int},
                               {"radius", A::Int}};
constexpr KernelArg kRadialBlur[] = {{"src", A::ConstFloat4Buffer}, {"dst", A::Float4Buffer}, {"W", A::Int},
                                     {"H", A::Int}, {"centerX", A::Float}, {"centerY", A::Float},
                                     {"decay", A::Float}, {"samples", A::Int}};
constexpr KernelArg kCompositeAdd[] = {{"dst", A::Float4Buffer}, {"effect", A::ConstFloat4Buffer}, {"W", A::Int},
                                       {"H", A::Int}, {"strength", A::Float}};
constexpr KernelArg kMbReconstruct[] = {{"inBuf", A::ConstFloat4Buffer}, {"vBuf", A::ConstFloat2Buffer},
                                        {"tBuf", A::ConstFloat2Buffer}, {"outBuf", A::Float4Buffer},
                                        {"W", A::Int}, {"H", A::Int}, {"tileN", A::Int},
                                        {"shutterScale", A::Float}, {"shutterAngleNorm", A::Float},
                                        {"nSamples", A::Int}, {"frameSeed", A::Int}};
constexpr KernelArg kVelTileMax[] = {{"vBuf", A::ConstFloat2Buffer}, {"tBuf", A::Float2Buffer}, {"W", A::Int},
                                     {"H", A::Int}, {"tileN", A::Int}};
constexpr KernelArg kSliceRender[] = {{"outBuf", A::Float4Buffer}, {"W", A::Int}, {"H", A::Int},
                                      {"density", A::ConstFloatBuffer}, {"temperature", A::ConstFloatBuffer},
                                      {"N", A::Int}, {"tempMax", A::Float}, {"mode", A::Int}};
constexpr KernelArg kGradientSubtract[] = {{"vel", A::Float4Buffer}, {"p", A::ConstFloatBuffer}, {"N", A::Int}};

constexpr std::array<KernelSpec, kKernelRoleCount> kSpecs = {{
    {K::AddVolumeSource, "cd_add_volume_source", kAddVolumeSource},
    {K::Buoyancy, "cd_buoyancy", kBuoyancy},
    {K::AdvectVelocity, "cd_advect_velocity", kAdvectVelocity},
    {K::Divergence, "cd_divergence", kDivergence},
    {K::PressureJacobi, "cd_pressure_jacobi", kPressureJacobi},
    {K::GradientSubtract, "cd_gradient_subtract", kGradientSubtract},
    {K::CoolTemperature, "cd_cool", kCool},
    {K::CoolDensity, "cd_cool", kCool},
    {K::Raymarch, "cd_raymarch", kRaymarch},
    {K::SliceRender, "cd_slice_render", kSliceRender},
    {K::ComputeCurl, "cd_compute_curl", kComputeCurl},
    {K::ConfineVorticity, "cd_confine_vorticity", kConfineVorticity},
    {K::AdvectScalar, "cd_advect_scalar", kAdvectScalar},
    {K::AdvectThreeScalars, "cd_advect_three_scalars", kAdvectThreeScalars},
    {K::UpsampleBilinear, "cd_upsample_bilinear", kUpsampleBilinear},
    {K::BuildMacrocell, "cd_build_macrocell", kBuildMacrocell},
    {K::BuildMacrocellL1, "cd_build_macrocell_L1", kBuildMacrocellL1},
    {K::Combust, "cd_combust", kCombust},
    {K::CurlNoise, "cd_curl_noise", kCurlNoise},
    {K::Shred, "cd_shred", kShred},
    {K::EmitEmber, "cd_emit_ember", kEmitEmber},
    {K::AdvectScalar2, "cd_advect_scalar", kAdvectScalar},
    {K::CoolEmber, "cd_cool", kCool},
    {K::EmitFromLayer, "cd_emit_from_layer", kEmitFromLayer},
    {K::Restrict, "cd_restrict", kRestrict},
    {K::ProlongAdd, "cd_prolong_add", kProlongAdd},
    {K::Residual, "cd_residual", kResidual},
    {K::ApplyForces, "cd_apply_forces", kApplyForces},
    {K::ExtractBright, "cd_extract_bright", kExtractBright},
    {K::BlurH, "cd_blur_h", kBlur},
    {K::BlurV, "cd_blur_v", kBlur},
    {K::BloomDownsample, "cd_bloom_downsample", kBloomDownsample},
    {K::BloomUpsampleAdd, "cd_bloom_upsample_add", kBloomUpsampleAdd},
    {K::RadialBlur, "cd_radial_blur", kRadialBlur},
    {K::CompositeAdd, "cd_composite_add", kCompositeAdd},
    {K::MbReconstruct, "cd_mb_reconstruct", kMbReconstruct},
    {K::VelTileMax, "cd_vel_tile_max", kVelTileMax},
    {K::HeatDistort, "cd_heat_distort", kHeatDistort},
}};

// Auxiliary kernels.
constexpr KernelArg kNoiseLatticeFill[] = {{"lattice", A::FloatBuffer},
                                           {"latticeOrigin", A::IntBuffer},
                                           {"heldOrigin", A::ConstIntBuffer},
                                           {"pot", A::Int},
                                           {"octave", A::Int},
                                           {"side0", A::Int},
                                           {"side1", A::Int},
                                           {"side2", A::Int},
                                           {"time", A::Float}};
constexpr KernelArg kCurlNoiseLut[] = {{"vel", A::Float4Buffer},       {"N", A::Int},
                                       {"strength", A::Float},         {"scale", A::Float},
                                       {"time", A::Float},             {"dt", A::Float},
                                       {"lattice", A::ConstFloatBuffer}, {"latticeOrigin", A::ConstIntBuffer},
                                       {"side0", A::Int},              {"side1", A::Int},
                                       {"side2", A::Int}};

// The layer emission in two passes: the column weights take EmitFromLayer's column arguments in
// its order, the slab its per-step values.
constexpr KernelArg kEmitLayerColumns[] = {
    {"weights", A::FloatBuffer}, {"layerAlpha", A::ConstFloatBuffer}, {"customMap", A::ConstFloatBuffer},
    {"N", A::Int}, {"layerW", A::Int}, {"layerH", A::Int}, {"customMapW", A::Int}, {"customMapH", A::Int},
    {"compW", A::Int}, {"compH", A::Int}, {"szXY", A::Float},
    {"patternMode", A::Int}, {"maskScale", A::Float}, {"maskContrast", A::Float}, {"maskThreshold", A::Float},
    {"maskInvert", A::Int},
    {"burnMode", A::Int}, {"burnProgress", A::Float}, {"burnWidth", A::Float}, {"burnNoise", A::Float},
    {"burnDirRad", A::Float}, {"burnSparkBoost", A::Float},
    {"useLayerTransform", A::Int}, {"layerPosX", A::Float}, {"layerPosY", A::Float}, {"layerInvScX", A::Float},
    {"layerInvScY", A::Float}, {"layerAncX", A::Float}, {"layerAncY", A::Float}};
constexpr KernelArg kEmitLayerSlab[] = {
    {"density", A::FloatBuffer}, {"temperature", A::FloatBuffer}, {"fuel", A::FloatBuffer},
    {"weights", A::ConstFloatBuffer}, {"N", A::Int}, {"szZ", A::Float}, {"szG", A::Float},
    {"temperatureK", A::Float}, {"fuelInject", A::Float}, {"dt", A::Float}};

constexpr std::array<KernelSpec, kAuxKernelCount> kAuxSpecs = {{
    {K::Count, "cd_noise_lattice_fill", kNoiseLatticeFill},
    {K::Count, "cd_curl_noise_lut", kCurlNoiseLut},
    {K::Count, "cd_emit_layer_columns", kEmitLayerColumns},
    {K::Count, "cd_emit_layer_slab", kEmitLayerSlab},
}};

constexpr bool rolesInOrder() {
    for (int i = 0; i < kKernelRoleCount; ++i) {
        if (static_cast<int>(kSpecs[static_cast<size_t>(i)].role) != i) return false;
    }
    return true;
}
static_assert(rolesInOrder(), "the table is indexed by role and must list the roles in creation order");

}  // namespace

const KernelSpec& kernelSpec(KernelRole role) { return kSpecs[static_cast<size_t>(role)]; }

std::span<const KernelSpec> kernelSpecs() { return kSpecs; }

const KernelSpec& auxKernelSpec(AuxKernel kernel) { return kAuxSpecs[static_cast<size_t>(kernel)]; }

std::span<const KernelSpec> auxKernelSpecs() { return kAuxSpecs; }

bool isBufferArg(ArgKind kind) { return kind != ArgKind::Int && kind != ArgKind::Float; }

}  // namespace cindel
