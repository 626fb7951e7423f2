// The string-to-index hash map.
#include "hash_map.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rowkit;

TEST(StrIndexMap, PutGetOverwriteAndGrowth) {
    std::vector<std::string> keys(1, "");
    for (int i = 0; i < 5000; ++i) keys.push_back("key" + std::to_string(i * 7919));
    StrIndexMap map;
    EXPECT_FALSE(map.contains("key0"));  // before any slot exists
    for (size_t i = 0; i < keys.size(); ++i) ASSERT_TRUE(map.put(keys[i], i).ok());
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(map.get(keys[i]), std::optional<size_t>(i));
    EXPECT_FALSE(map.contains(std::string("key0\0", 5)));
    // A repeated key keeps the later value and is counted once.
    ASSERT_TRUE(map.put(keys[3], 99).ok() && map.get(keys[3]) == std::optional<size_t>(99));
    EXPECT_EQ(map.size(), keys.size());
    map.clear();
    EXPECT_TRUE(map.size() == 0 && !map.contains(keys[3]));
}

TEST(StrIndexMap, AllocationFailureKeepsTheMapUsable) {
    std::vector<std::string> keys;
    for (int i = 0; i < 100; ++i) keys.push_back(std::to_string(i));
    StrIndexMap map;  // borrows the keys
    size_t failures = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        alloc_hook::failAt(1);  // fails only when the put has to grow the table
        Status st = map.put(keys[i], i);
        alloc_hook::reset();
        if (st.ok()) continue;
        ++failures;
        ASSERT_TRUE(st.error() == Error::OutOfMemory && map.put(keys[i], i).ok());
    }
    EXPECT_GT(failures, 0u);
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(map.get(keys[i]), std::optional<size_t>(i));
}
