// The implementations of the header-only libraries under image_codec_portable.cpp, in their own
// translation unit so that they are compiled without the project's warning flags (they are not
// our code to fix). PNG reading only; tinyexr compresses and inflates with zlib.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#include <stb/stb_image.h>

#define TINYEXR_IMPLEMENTATION
#define TINYEXR_USE_MINIZ 0
#define TINYEXR_USE_THREAD 0
#include <zlib.h>
#include <tinyexr.h>
