// Macrocells: per-block maxima of the grid's visibility, rebuilt before every ray march so that
// the march can step over blocks where nothing could be seen. Level 0 holds one value per block of
// blockSize³ cells (M blocks per side); level 1 one value per 4 × 4 × 4 level-0 blocks. Both are
// indexed mz·M² + my·M + mx.
//
// Visibility of a cell is max(density, 0.0005·temperature): 2000 K glows about as much as a
// density of 1, so hot but smoke-free gas is never skipped. Maxima start from 0, so a block of
// negative values stores 0 and the march treats it as empty.

// One work-item per level-0 block; it reads its block's cells (12³ at N = 384), a cost paid once per
// frame against the far larger saving of the march.
__kernel void cd_build_macrocell(__global const float* density, __global const float* temperature,
                                 __global float* macroMax, int N, int MN, int blockSize) {
    const int mx = get_global_id(0);
    const int my = get_global_id(1);
    const int mz = get_global_id(2);
    if (mx >= MN || my >= MN || mz >= MN) return;

    // The last block may be cut short by the grid's edge when blockSize·M does not cover N exactly.
    const int x0 = mx * blockSize, x1 = min(x0 + blockSize, N);
    const int y0 = my * blockSize, y1 = min(y0 + blockSize, N);
    const int z0 = mz * blockSize, z1 = min(z0 + blockSize, N);
    float m = 0.0f;
    for (int z = z0; z < z1; ++z) {
        for (int y = y0; y < y1; ++y) {
            const int row = (z * N + y) * N;
            for (int x = x0; x < x1; ++x) {
                m = fmax(m, fmax(density[row + x], 0.0005f * temperature[row + x]));
            }
        }
    }
    macroMax[(mz * MN + my) * MN + mx] = m;
}

// One work-item per level-1 block: the maximum of its 4 × 4 × 4 level-0 blocks, those past the
// level-0 edge left out.
__kernel void cd_build_macrocell_L1(__global const float* macroL0, __global float* macroL1, int MN0) {
    const int mx = get_global_id(0);
    const int my = get_global_id(1);
    const int mz = get_global_id(2);
    const int MN1 = MN0 / 4;
    if (mx >= MN1 || my >= MN1 || mz >= MN1) return;

    float m = 0.0f;
    for (int dz = 0; dz < 4 && 4 * mz + dz < MN0; ++dz) {
        for (int dy = 0; dy < 4 && 4 * my + dy < MN0; ++dy) {
            for (int dx = 0; dx < 4 && 4 * mx + dx < MN0; ++dx) {
                m = fmax(m, macroL0[((4 * mz + dz) * MN0 + 4 * my + dy) * MN0 + 4 * mx + dx]);
            }
        }
    }
    macroL1[(mz * MN1 + my) * MN1 + mx] = m;
}
