// The string-to-index hash map.
#include "hash_map.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rowkit;

// Each put fails its first allocation, so every growth of the table fails
// once first; the map stays usable and keeps every key.
TEST(StrIndexMap, PutGetOverwriteAndGrowthThroughAllocationFailures) {
    std::vector<std::string> keys(1, "");
    for (int i = 0; i < 3000; ++i) keys.push_back("key" + std::to_string(i * 7919));
    StrIndexMap map;  // borrows the keys
    EXPECT_FALSE(map.contains("key0"));  // before any slot exists
    size_t failures = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        alloc_hook::failAt(1);
        Status st = map.put(keys[i], i);
        alloc_hook::reset();
        failures += !st.ok();
        ASSERT_TRUE(st.ok() || (st.error() == Error::OutOfMemory && map.put(keys[i], i).ok()));
    }
    EXPECT_GT(failures, 3u);
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(map.get(keys[i]), std::optional<size_t>(i));
    EXPECT_FALSE(map.contains(std::string("key0\0", 5)));
    // A repeated key keeps the later value and is counted once.
    ASSERT_TRUE(map.put(keys[3], 99).ok());
    EXPECT_EQ(map.get(keys[3]), std::optional<size_t>(99));
    EXPECT_EQ(map.size(), keys.size());
    map.clear();
    EXPECT_EQ(map.size(), 0u);
    EXPECT_FALSE(map.contains(keys[3]));
}
