// latest_major_tests.cpp - the newest player major of a run: fetched once
// from the address in the string table, answered from the cache after.
// The HTTP GET is a stand-in whose answer names major 32.
#include <gtest/gtest.h>

#include "app/texts.h"
#include "common/platform.h"
#include "net/latest_version.h"
#include "res/resource.h"
#include "stand_ins/scripted_http_get.h"

namespace {

TEST(GetLatestPlayerMajor, FetchesOnceAndKeepsTheFirstAnswer)
{
    scriptedHttpGet.answers = true;
    scriptedHttpGet.body = "<version major=\"32\"/>";
    EXPECT_EQ(32u, GetLatestPlayerMajor());
    EXPECT_EQ(1, scriptedHttpGet.calls);
    char* address = LoadResString(IDS_LATEST_URL);
    ASSERT_NE(nullptr, address);
    EXPECT_EQ(address, scriptedHttpGet.lastUrl);
    MemFree(address);

    // A later answer would differ; no later call asks.
    scriptedHttpGet.body = "<version major=\"40\"/>";
    EXPECT_EQ(32u, GetLatestPlayerMajor());
    EXPECT_EQ(32u, GetLatestPlayerMajor());
    EXPECT_EQ(1, scriptedHttpGet.calls);
}

}  // namespace
