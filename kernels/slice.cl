// The debug slice view: the grid's middle z-slab fitted square into the output, as a heat map of
// temperature (mode 2) or a grey ramp of density (any other mode), with a green crosshair at the
// grid centre and a yellow border. Every pixel is written fully opaque, outside the square
// included, so the view never shows what the host had underneath.
//
// Cells are chosen in grid units (nearest cell, no filtering), so the crosshair and the cell
// blocks grow with the output: the view shows the grid as the solver sees it.

__kernel void cd_slice_render(__global float4* outBuf, int W, int H, __global const float* density,
                              __global const float* temperature, int N, float tempMax, int mode) {
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    if (x >= W || y >= H) return;
    const int side = min(W, H);
    const int sx = x - (W - side) / 2;
    const int sy = y - (H - side) / 2;
    if (sx < 0 || sx >= side || sy < 0 || sy >= side) {
        outBuf[y * W + x] = (float4)(0.0f, 0.0f, 0.0f, 1.0f);
        return;
    }
    if (sx < 1 || sx >= side - 1 || sy < 1 || sy >= side - 1) {
        outBuf[y * W + x] = (float4)(1.0f, 1.0f, 0.0f, 1.0f);
        return;
    }
    // Screen y and grid y both grow downward, so the grid's "up" (-y) is up on screen.
    const int gx = clamp((int)((float)sx / (float)side * (float)N), 0, N - 1);
    const int gy = clamp((int)((float)sy / (float)side * (float)N), 0, N - 1);
    const int c = N / 2;
    if ((gx == c && abs(gy - c) < 4) || (gy == c && abs(gx - c) < 4)) {
        outBuf[y * W + x] = (float4)(0.0f, 1.0f, 0.0f, 1.0f);
        return;
    }
    const int cell = cd_idx(gx, gy, c, N);
    if (mode == 2) {
        const float t = clamp(temperature[cell] / tempMax, 0.0f, 1.0f);
        outBuf[y * W + x] = (float4)(clamp(3.0f * t, 0.0f, 1.0f), clamp(3.0f * t - 1.0f, 0.0f, 1.0f),
                                     clamp(3.0f * t - 2.0f, 0.0f, 1.0f), 1.0f);
    } else {
        const float d = clamp(0.5f * density[cell], 0.0f, 1.0f);
        outBuf[y * W + x] = (float4)(d, d, d, 1.0f);
    }
}
