// The host's basic suite: every other suite is acquired and released through it by name and
// version.
#pragma once

#include "A.h"

#pragma pack(push, 8)

typedef A_long SPErr;
typedef int32_t int32;
// A C boolean on Windows (4 bytes); a single byte elsewhere. The host's IsEqual returns it.
#ifdef _WIN32
typedef int SPBoolean;
#else
typedef unsigned char SPBoolean;
#endif

enum { kSPNoError = 0 };

#define kSPBasicSuite "SP Basic Suite"
#define kSPBasicSuiteVersion 4

typedef struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char*, int32, const void**);
    SPErr (*ReleaseSuite)(const char*, int32);
    SPBoolean (*IsEqual)(const char*, const char*);
    SPErr (*AllocateBlock)(size_t, void**);
    SPErr (*FreeBlock)(void*);
    SPErr (*ReallocateBlock)(void*, size_t, void**);
    SPErr (*Undefined)(void);
} SPBasicSuite;

#pragma pack(pop)
