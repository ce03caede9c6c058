// The kernel set as data. Argument lists are added here, and only here, as their kernels join
// the library.
#include "gpu/kernel_table.h"

#include <array>

namespace cindel {

namespace {

using K = KernelRole;

constexpr std::array<KernelSpec, kKernelRoleCount> kSpecs = {{
    {K::AddVolumeSource, "cd_add_volume_source", {}},
    {K::Buoyancy, "cd_buoyancy", {}},
    {K::AdvectVelocity, "cd_advect_velocity", {}},
    {K::Divergence, "cd_divergence", {}},
    {K::PressureJacobi, "cd_pressure_jacobi", {}},
    {K::GradientSubtract, "cd_gradient_subtract", {}},
    {K::CoolTemperature, "cd_cool", {}},
    {K::CoolDensity, "cd_cool", {}},
    {K::Raymarch, "cd_raymarch", {}},
    {K::SliceRender, "cd_slice_render", {}},
    {K::ComputeCurl, "cd_compute_curl", {}},
    {K::ConfineVorticity, "cd_confine_vorticity", {}},
    {K::AdvectScalar, "cd_advect_scalar", {}},
    {K::AdvectThreeScalars, "cd_advect_three_scalars", {}},
    {K::UpsampleBilinear, "cd_upsample_bilinear", {}},
    {K::BuildMacrocell, "cd_build_macrocell", {}},
    {K::BuildMacrocellL1, "cd_build_macrocell_L1", {}},
    {K::Combust, "cd_combust", {}},
    {K::CurlNoise, "cd_curl_noise", {}},
    {K::Shred, "cd_shred", {}},
    {K::EmitEmber, "cd_emit_ember", {}},
    {K::AdvectScalar2, "cd_advect_scalar", {}},
    {K::CoolEmber, "cd_cool", {}},
    {K::EmitFromLayer, "cd_emit_from_layer", {}},
    {K::Restrict, "cd_restrict", {}},
    {K::ProlongAdd, "cd_prolong_add", {}},
    {K::Residual, "cd_residual", {}},
    {K::ApplyForces, "cd_apply_forces", {}},
    {K::ExtractBright, "cd_extract_bright", {}},
    {K::BlurH, "cd_blur_h", {}},
    {K::BlurV, "cd_blur_v", {}},
    {K::BloomDownsample, "cd_bloom_downsample", {}},
    {K::BloomUpsampleAdd, "cd_bloom_upsample_add", {}},
    {K::RadialBlur, "cd_radial_blur", {}},
    {K::CompositeAdd, "cd_composite_add", {}},
    {K::MbReconstruct, "cd_mb_reconstruct", {}},
    {K::VelTileMax, "cd_vel_tile_max", {}},
    {K::HeatDistort, "cd_heat_distort", {}},
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

bool isBufferArg(ArgKind kind) { return kind != ArgKind::Int && kind != ArgKind::Float; }

}  // namespace cindel
