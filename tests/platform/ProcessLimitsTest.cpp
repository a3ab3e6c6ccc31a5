#include <gtest/gtest.h>

#include <sys/resource.h>

#include "platform/ProcessLimits.h"

TEST(ProcessLimits, TheOpenFileLimitIsRaisedToTheMostAllowed) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max <= 64)
        GTEST_SKIP() << "the hard limit on open files is too low to lower";
    rlimit low = limit;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    vozaro::platform::raiseOpenFileLimit();
    rlimit now{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(now.rlim_cur, limit.rlim_max);
    EXPECT_EQ(now.rlim_max, limit.rlim_max);
}
