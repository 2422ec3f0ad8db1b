// latest_major_tests.cpp - the newest player major of a run: fetched once
// from the address the caller names, answered from the cache after. The
// HTTP GET is a stand-in whose answer names major 32.
#include <gtest/gtest.h>

#include "net/latest_version.h"
#include "stand_ins/scripted_http_get.h"

namespace {

TEST(GetLatestPlayerMajor, FetchesOnceAndKeepsTheFirstAnswer)
{
    const char address[] = "http://updates.example/currentmajor.xml";
    scriptedHttpGet.answers = true;
    scriptedHttpGet.body = "<version major=\"32\"/>";
    EXPECT_EQ(32u, GetLatestPlayerMajor(address));
    EXPECT_EQ(1, scriptedHttpGet.calls);
    EXPECT_EQ(address, scriptedHttpGet.lastUrl);

    // A later answer would differ; no later call asks, whatever address.
    scriptedHttpGet.body = "<version major=\"40\"/>";
    EXPECT_EQ(32u, GetLatestPlayerMajor(address));
    EXPECT_EQ(32u, GetLatestPlayerMajor(nullptr));
    EXPECT_EQ(1, scriptedHttpGet.calls);
}

}  // namespace
