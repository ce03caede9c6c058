// Sampling and noise helpers shared by every kernel.
inline int cd_idx(int x, int y, int z, int N) { return z * N * N + y * N + x; }
