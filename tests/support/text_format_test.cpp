#include "support/text_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

using Korvo::Format;
using Korvo::FormatArg;

TEST(Format, ConversionsOfTheStringTable) {
    EXPECT_EQ(Format(L"Invalid camera name: changing %s to %s", MSTR(L"Cam:1"), L"Korvo_Camera"),
              L"Invalid camera name: changing Cam:1 to Korvo_Camera");
    EXPECT_EQ(Format(L"Attempted to move file from %s to %s but failed. Return code was %d with "
                     L"error code %u.",
                     L"/a", L"/b", -2, DWORD{0xFFFFFFFF}),
              L"Attempted to move file from /a to /b but failed. Return code was -2 with error "
              L"code 4294967295.");
    EXPECT_EQ(Format(L"%d %d %u", std::numeric_limits<std::int32_t>::min(), short{-7}, WORD{9}),
              L"-2147483648 -7 9");
    EXPECT_EQ(Format(L"100%% of %s", L"x"), L"100% of x");
    // The same bits as printf: a signed value through %u and an unsigned one through %d.
    EXPECT_EQ(Format(L"%u %d", -1, 0xFFFFFFFEu), L"4294967295 -2");
}

TEST(Format, ValuesAreNeverExpandedAgainAndSurplusIsIgnored) {
    EXPECT_EQ(Format(L"No name found for current scene file", L"/out"),
              L"No name found for current scene file");
    EXPECT_EQ(Format(L"[%s]", L"%d%s%%"), L"[%d%s%%]");
    EXPECT_EQ(Format(L"plain"), L"plain");
}

TEST(Format, MismatchesShowAMarker) {
    EXPECT_EQ(Format(L"side %d", L"two"), L"side <bad %d>");
    EXPECT_EQ(Format(L"camera %s", 3), L"camera <bad %s>");
    EXPECT_EQ(Format(L"%s and %s", L"one"), L"one and <missing %s>");
    EXPECT_EQ(Format(L"%u"), L"<missing %u>");
    EXPECT_EQ(Format(L"%s", static_cast<const MCHAR*>(nullptr)), L"(null)");
    EXPECT_EQ(Format(L"%x %5d 50%", 1), L"%x %5d 50%") << "other conversions are copied";
}

// Values that could lose bits or are not numbers never convert silently.
static_assert(std::is_constructible_v<FormatArg, int>);
static_assert(std::is_constructible_v<FormatArg, DWORD>);
static_assert(!std::is_constructible_v<FormatArg, std::int64_t>);
static_assert(!std::is_constructible_v<FormatArg, std::size_t>);
static_assert(!std::is_constructible_v<FormatArg, double>);
static_assert(!std::is_constructible_v<FormatArg, bool>);
static_assert(!std::is_constructible_v<FormatArg, wchar_t>);

}  // namespace
