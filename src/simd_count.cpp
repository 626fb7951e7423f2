#include "simd_count.hpp"

namespace rowkit::bytes {

size_t countByte(const char *p, size_t n, char c) { return countByteWith<simd::Native>(p, n, c); }

}  // namespace rowkit::bytes
