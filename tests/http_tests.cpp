// http_tests.cpp - the HTTP GET over WinINet, against the test web server
// (http_server.py) that run_with_http_server.sh starts on 127.0.0.1.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "common/platform.h"
#include "net/latest_version.h"

namespace {

std::string ServerPort(const char* variable)
{
    const char* port = getenv(variable);
    return port ? port : "";
}

std::string LocalUrl(const std::string& path)
{
    return "http://127.0.0.1:" + ServerPort("QUILLARO_HTTP_PORT") + path;
}

#define REQUIRE_SERVER()                                                                 \
    if (ServerPort("QUILLARO_HTTP_PORT").empty())                                        \
    GTEST_SKIP() << "no test web server: run through run_with_http_server.sh"

// The body of one fetch, and whether there was one; checks the contract
// on the length and the zero byte after the data.
struct Fetched {
    bool got;
    std::string body;
};

Fetched Fetch(const std::string& url)
{
    uint32_t length = 0xDEADBEEF;
    char* body = HttpGet(url.c_str(), &length);
    Fetched fetched = {body != nullptr, ""};
    if (body) {
        fetched.body.assign(body, length);
        EXPECT_EQ(0, body[length]) << url << ": no zero byte after the body";
        MemFree(body);
    } else {
        EXPECT_EQ(0u, length) << url;
    }
    return fetched;
}

// Bytes 1 to 251 over and over, as the server sends them.
std::string Pattern(size_t size)
{
    std::string bytes(size, 0);
    for (size_t i = 0; i < size; i++)
        bytes[i] = (char)(i % 251 + 1);
    return bytes;
}

// How many requests for other paths the server has seen.
int ServedCount()
{
    Fetched count = Fetch(LocalUrl("/count"));
    return count.got ? atoi(count.body.c_str()) : -1;
}

TEST(HttpGet, BodiesComeBackWhole)
{
    REQUIRE_SERVER();
    struct BodyCase {
        const char* path;
        std::string body;
    };
    const BodyCase cases[] = {
        {"/piece3000", Pattern(3000)},
        {"/chunked3000", Pattern(3000)},
        {"/latest", "<version major=\"32\"/>"},
        {"/empty", ""},
    };
    for (const BodyCase& test : cases) {
        Fetched fetched = Fetch(LocalUrl(test.path));
        ASSERT_TRUE(fetched.got) << test.path;
        EXPECT_EQ(test.body.size(), fetched.body.size()) << test.path;
        EXPECT_TRUE(test.body == fetched.body) << test.path;
    }
}

TEST(HttpGet, ALongBodyIsCutAtTheLimit)
{
    REQUIRE_SERVER();
    Fetched fetched = Fetch(LocalUrl("/big"));
    ASSERT_TRUE(fetched.got);
    EXPECT_EQ(httpBodyLimit, fetched.body.size());
    EXPECT_TRUE(Pattern(httpBodyLimit) == fetched.body);
}

TEST(HttpGet, AnErrorPageIsNoBody)
{
    REQUIRE_SERVER();
    EXPECT_FALSE(Fetch(LocalUrl("/notfound")).got);
    EXPECT_FALSE(Fetch(LocalUrl("/no/such/path")).got);
}

// The test server speaks plain HTTP only: an https address that reached
// /latest would mean the request went out unencrypted.
TEST(HttpGet, AnHttpsAddressIsFetchedOverTls)
{
    REQUIRE_SERVER();
    std::string port = ServerPort("QUILLARO_HTTP_PORT");
    EXPECT_FALSE(Fetch("https://127.0.0.1:" + port + "/latest").got);
}

TEST(HttpGet, NoListenerGivesNull)
{
    REQUIRE_SERVER();
    std::string closedPort = ServerPort("QUILLARO_CLOSED_PORT");
    ASSERT_FALSE(closedPort.empty());
    EXPECT_FALSE(Fetch("http://127.0.0.1:" + closedPort + "/latest").got);
}

// Addresses that must be refused before anything is sent. Each would
// reach the server's /latest (or its root) if it were not.
TEST(HttpGet, UnfitAddressesSendNothing)
{
    REQUIRE_SERVER();
    std::string port = ServerPort("QUILLARO_HTTP_PORT");
    const std::string addresses[] = {
        "ftp://127.0.0.1:" + port + "/latest",
        "http://127.0.0.1:" + port,
        "127.0.0.1:" + port + "/latest",
        "",
        "http:///latest",
    };
    int before = ServedCount();
    ASSERT_GE(before, 0);
    for (const std::string& address : addresses)
        EXPECT_FALSE(Fetch(address).got) << "\"" << address << "\"";
    EXPECT_EQ(before, ServedCount()) << "a refused address reached the server";
    uint32_t length = 7;
    EXPECT_EQ(nullptr, HttpGet(nullptr, &length));
    EXPECT_EQ(0u, length);
}

TEST(HttpGet, ASilentServerTimesOut)
{
    REQUIRE_SERVER();
    DWORD start = GetTickCount();
    EXPECT_FALSE(Fetch(LocalUrl("/silent")).got);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_LT(elapsed, 30000u) << "the time-out did not end the fetch";
}

}  // namespace
