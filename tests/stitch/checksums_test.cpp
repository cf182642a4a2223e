#include "stitch/checksums.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "test_support.h"

namespace Korvo {
namespace {

uint32_t ZlibAdler(uint32_t adler, const std::vector<uint8_t>& bytes, size_t from, size_t size) {
    return uint32_t(adler32(adler, bytes.data() + from, uInt(size)));
}

TEST(Adler32, MatchesZlibAtEveryLengthAroundTheVectorAndReductionSteps) {
    test::Random random(7);
    std::vector<uint8_t> noise(40000);
    for (uint8_t& b : noise) b = uint8_t(random.Next());
    // All 0xFF drives both sums to their largest before each reduction.
    std::vector<uint8_t> ones(40000, 0xFF);
    const size_t sizes[] = {0,    1,    31,   32,   33,    63,    64,    65,
                            5551, 5552, 5553, 5568, 11104, 11105, 39999, 40000};
    for (const std::vector<uint8_t>* bytes : {&noise, &ones}) {
        for (size_t size : sizes) {
            EXPECT_EQ(Adler32(1, bytes->data(), size), ZlibAdler(1, *bytes, 0, size)) << size;
        }
    }
}

TEST(Adler32, ContinuesARunningValueAcrossPieces) {
    test::Random random(11);
    std::vector<uint8_t> bytes(30000);
    for (uint8_t& b : bytes) b = uint8_t(random.Next() % 7 == 0 ? 0xFF : random.Next());
    uint32_t ours = 1, zlib = 1;
    for (size_t at = 0; at < bytes.size();) {
        const size_t piece = std::min<size_t>(bytes.size() - at, 1 + random.Below(9000));
        ours = Adler32(ours, bytes.data() + at, piece);
        zlib = ZlibAdler(zlib, bytes, at, piece);
        ASSERT_EQ(ours, zlib) << "after byte " << at + piece;
        at += piece;
    }
}

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
