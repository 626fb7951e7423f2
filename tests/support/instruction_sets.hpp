// The instruction sets the kernel suites run on: the compiled one and the
// portable one (once when they are the same), as GoogleTest typed-test
// parameters named after the set.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "simd/native.hpp"

namespace rowkit_test {

using InstructionSets =
    std::conditional_t<std::is_same_v<rowkit::simd::Native, rowkit::simd::Scalar>,
                       ::testing::Types<rowkit::simd::Scalar>,
                       ::testing::Types<rowkit::simd::Native, rowkit::simd::Scalar>>;

struct InstructionSetName {
    template <class V>
    static std::string GetName(int) {
        return V::kName;
    }
};

}  // namespace rowkit_test
