// (rendering kernels: filled by the rendering work)
