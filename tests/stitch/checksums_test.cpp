#include "stitch/checksums.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "test_support.h"

namespace Korvo {
namespace {

TEST(Crc32, MatchesZlibAtEveryLengthAroundTheFoldingSteps) {
    test::Random random(5);
    std::vector<uint8_t> bytes(5000);
    for (uint8_t& b : bytes) b = uint8_t(random.Next());
    for (size_t size = 0; size <= 300; ++size) {
        ASSERT_EQ(Crc32(0, bytes.data(), size), uint32_t(crc32(0, bytes.data(), uInt(size))))
            << size;
    }
    for (size_t size : {1023u, 1024u, 4099u, 5000u}) {
        // A running value that is not the start, and data that does not start aligned.
        EXPECT_EQ(Crc32(0xDEADBEEF, bytes.data() + 3, size - 3),
                  uint32_t(crc32(0xDEADBEEF, bytes.data() + 3, uInt(size - 3))))
            << size;
    }
}

}  // namespace
}  // namespace Korvo
