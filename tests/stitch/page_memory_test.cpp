#include "stitch/page_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace Korvo {
namespace {

TEST(ResizeMapped, ActsAsResizeOnLargeAndSmallVectors) {
    std::vector<int16_t> v = {1, 2, 3};
    ResizeMapped(v, size_t{1} << 20, int16_t{-7});  // well past the pages mapped at once
    ASSERT_EQ(v.size(), size_t{1} << 20);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[2], 3);
    for (size_t i = 3; i < v.size(); i += 4093) ASSERT_EQ(v[i], -7) << i;
    EXPECT_EQ(v.back(), -7);

    ResizeMapped(v, 2);
    EXPECT_EQ(v, (std::vector<int16_t>{1, 2}));

    std::vector<uint8_t> bytes;
    ResizeMapped(bytes, 5, uint8_t{128});
    EXPECT_EQ(bytes, std::vector<uint8_t>(5, 128));
}

}  // namespace
}  // namespace Korvo
