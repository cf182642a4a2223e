// Runs a test's body in a new process started afresh from the test program, so process-wide state
// (the log's opened flag, the analytics module, the settings store) is as at library load, however
// the tests are run. A failure inside the body fails the calling test and shows in its output.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace KorvoTest {

namespace detail {
// The child's failures, on the stream the parent shows when the child fails.
inline int ReportFailures() {
    const ::testing::TestResult* result =
        ::testing::UnitTest::GetInstance()->current_test_info()->result();
    bool failed = false;
    for (int i = 0; i < result->total_part_count(); ++i) {
        const ::testing::TestPartResult& part = result->GetTestPartResult(i);
        if (!part.failed()) continue;
        failed = true;
        std::fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?",
                     part.line_number(), part.message());
    }
    return failed ? 1 : 0;
}
}  // namespace detail

inline void InFreshProcess(const std::function<void()>& body) {
    // "threadsafe" starts the program again rather than forking the current one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            body();
            std::exit(detail::ReportFailures());
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace KorvoTest
