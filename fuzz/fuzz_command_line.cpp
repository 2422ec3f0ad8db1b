// command_line.cpp - fuzz target: splitting a command line. The counting
// pass and the storing pass must agree, every argument must be a
// NUL-terminated text within the bytes counted, and the program name
// must always be there.
#include <cstring>
#include <vector>

#include "common/command_line.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    int32_t argc = -1, charCount = -1;
    SplitCommandLine(text.data(), nullptr, nullptr, &argc, &charCount);
    FUZZ_CHECK(argc >= 1 && charCount >= argc);
    FUZZ_CHECK((size_t)charCount <= strlen(text.data()) + (size_t)argc);

    std::vector<char*> argv(argc);
    std::vector<char> chars(charCount);
    int32_t storedArgc = -1, storedCount = -1;
    SplitCommandLine(text.data(), argv.data(), chars.data(), &storedArgc, &storedCount);
    FUZZ_CHECK(storedArgc == argc && storedCount == charCount);
    size_t used = 0;
    for (int32_t i = 0; i < argc; i++) {
        FUZZ_CHECK(argv[i] == chars.data() + used);
        used += strnlen(argv[i], chars.size() - used) + 1;
        FUZZ_CHECK(used <= chars.size());
    }
    FUZZ_CHECK(used == chars.size());
    return 0;
}
