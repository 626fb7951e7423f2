#include "byte_search.hpp"

namespace rowkit::bytes {

const char *kernelName() {
#if ROWKIT_SIMD_SSE2
    return "sse2";
#elif ROWKIT_SIMD_NEON
    return "neon";
#else
    return "scalar";
#endif
}

}  // namespace rowkit::bytes
