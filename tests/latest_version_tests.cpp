// latest_version_tests.cpp - reading the newest player major version out
// of the latest-version document.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/platform.h"
#include "net/latest_version.h"

namespace {

struct DocumentCase {
    const char* name;
    std::string document;
    uint32_t parsed;  // ParseLatestMajor
    uint32_t major;   // LatestMajorFromDocument
};

// The document in a block of exactly its size, so that a read past the
// end shows under the sanitizers.
uint32_t ParseExact(const std::string& document, uint32_t (*rule)(const char*, uint32_t))
{
    char* block = (char*)MemAlloc(document.size() ? document.size() : 1);
    memcpy(block, document.data(), document.size());
    uint32_t result = rule(document.empty() ? nullptr : block, (uint32_t)document.size());
    MemFree(block);
    return result;
}

TEST(LatestVersionDocument, TableOfCases)
{
    const DocumentCase cases[] = {
        {"attribute", "<version a=\"32\"/>", 32, 32},
        {"space after the quote", "x=\" 31\"", 31, 31},
        {"tab after the quote", "x=\"\t\t 33\"", 33, 33},
        {"below the floor", "\"7\"", 7, 25},
        {"no digits", "v=\"abc\"", 0, 25},
        {"no quote", "major=32", 0, 25},
        {"digits stop at a non-digit", "\"41x\"", 41, 41},
        {"only the first quote counts", "a=\"b\" c=\"40\"", 0, 25},
        {"digits before the quote are ignored", "90 \"26\"", 26, 26},
        {"a number of 30 digits saturates", "\"123456789012345678901234567890\"", UINT32_MAX, 99},
        {"the largest 32-bit number", "\"4294967295\"", UINT32_MAX, 99},
        {"one more than the largest", "\"4294967296\"", UINT32_MAX, 99},
        {"three digits are capped", "\"100\"", 100, 99},
        {"the last two-digit major", "\"99\"", 99, 99},
        {"empty document", "", 0, 25},
        {"the quote is the last byte", "major=\"", 0, 25},
        {"a zero byte before the quote", std::string("\0\"27\"", 5), 27, 27},
    };
    for (const DocumentCase& test : cases) {
        EXPECT_EQ(test.parsed, ParseExact(test.document, ParseLatestMajor)) << test.name;
        EXPECT_EQ(test.major, ParseExact(test.document, LatestMajorFromDocument)) << test.name;
    }
}

TEST(LatestVersionDocument, ReadsOnlyTheBytesItIsGiven)
{
    // The digits go on past `length`; only the first two count.
    const char document[] = "\"3456\"";
    EXPECT_EQ(34u, ParseLatestMajor(document, 3));
    // The quote itself lies beyond `length`.
    EXPECT_EQ(0u, ParseLatestMajor(document, 0));
}

}  // namespace
