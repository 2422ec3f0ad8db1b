// texts_win.cpp - the string table loader, the version-mismatch question,
// the filter list and default extension of the file chooser, and window
// texts.
#include "app/texts.h"

#include <cstdarg>
#include <cstring>

#include "common/platform.h"
#include "res/resource.h"

namespace {

const UINT stringsPerBlock = 16;

// wsprintfA writes at most 1024 characters and the terminator.
const size_t formattedLimit = 1040;

// The chooser's filter list: the three filter strings take 87 characters.
const size_t filterCapacity = 128;

// The count of entry `id` in its string table block, read from the block
// itself. False when the block is missing, cannot be locked, or is too
// short to hold the entry.
bool FindStringLength(HMODULE module, UINT id, UINT* length)
{
    WORD block = (WORD)(id / stringsPerBlock + 1);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(block), MAKEINTRESOURCEA(6));  // RT_STRING
    if (!resource)
        return false;
    HGLOBAL loaded = LoadResource(module, resource);
    const WORD* entry = loaded ? (const WORD*)LockResource(loaded) : nullptr;
    if (!entry)
        return false;
    // Each entry is a count followed by that many UTF-16 units; the walk
    // stays inside the block's real size.
    const WORD* end = entry + SizeofResource(module, resource) / sizeof(WORD);
    for (UINT skipped = 0; skipped < id % stringsPerBlock; skipped++) {
        if (entry >= end)
            return false;
        entry += 1 + *entry;
    }
    if (entry >= end)
        return false;
    *length = *entry;
    return true;
}

// Appends string `id` to the filter text of `length` characters, unless it
// cannot be loaded or would leave no room for the list's two final NULs.
void AppendFilter(char* filter, size_t* length, UINT id)
{
    char* text = LoadResString(id);
    if (!text)
        return;
    size_t textLength = strlen(text);
    if (*length + textLength + 2 <= filterCapacity) {
        memcpy(filter + *length, text, textLength + 1);
        *length += textLength;
    }
    MemFree(text);
}

// The default extension that `pattern` implies: the text after its last
// ".", or the whole pattern when it has no "." and no wildcard. Null when
// a wildcard follows the last "." or nothing would remain.
const char* DefaultExtensionOf(const char* pattern)
{
    size_t position = strlen(pattern);
    const char* extension = pattern;
    while (position > 0) {
        char character = pattern[position - 1];
        if (character == '.') {
            extension = pattern + position;
            break;
        }
        if (character == '*' || character == '?')
            return nullptr;
        position--;
    }
    return *extension ? extension : nullptr;
}

}  // namespace

char* LoadResString(UINT id)
{
    HMODULE module = GetModuleHandleA(nullptr);
    UINT length = 0;
    if (!FindStringLength(module, id, &length))
        return nullptr;
    char* text = (char*)MemAlloc((size_t)length + 1);
    if (!text)
        return nullptr;
    LoadStringA(module, id, text, (int)length + 1);
    return text;
}

char* FormatResString(UINT id, ...)
{
    char* format = LoadResString(id);
    if (!format)
        return nullptr;
    char formatted[formattedLimit];
    va_list arguments;
    va_start(arguments, id);
    int length = wvsprintfA(formatted, format, arguments);
    va_end(arguments);
    MemFree(format);
    if (length < 0)
        return nullptr;
    char* text = (char*)MemAlloc((size_t)length + 1);
    if (text)
        memcpy(text, formatted, (size_t)length);
    return text;
}

char* FormatMismatchMessage(UINT id, uint32_t movieVersion, PackedVersion playerVersion,
                            PackedVersion requiredVersion)
{
    return FormatResString(id, (unsigned long)movieVersion,
                           (unsigned long)VersionMajor(playerVersion),
                           (unsigned long)VersionMinor(playerVersion),
                           (unsigned long)VersionMajor(requiredVersion),
                           (unsigned long)VersionMinor(requiredVersion));
}

char* ChooseFile(HWND dialog, UINT filterMask, int save)
{
    char filter[filterCapacity] = {};
    size_t length = 0;
    if (filterMask & movieFilter)
        AppendFilter(filter, &length, IDS_FILTER_MOVIE);
    if (filterMask & projectorFilter)
        AppendFilter(filter, &length, IDS_FILTER_PROJECTOR);
    AppendFilter(filter, &length, IDS_FILTER_ALL);

    // "description|pattern|..." becomes the chooser's list of NUL-separated
    // pairs; the last "|" and the terminator end it with two NULs.
    for (size_t i = 0; i < length; i++) {
        if (filter[i] == '|')
            filter[i] = 0;
    }
    const char* firstPattern = filter + strlen(filter) + 1;
    return RunFileDialog(dialog, filter, DefaultExtensionOf(firstPattern), save);
}

char* GetItemText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    if (length < 0)
        length = 0;
    char* text = (char*)MemAlloc((size_t)length + 1);
    if (!text)
        return nullptr;
    GetWindowTextA(window, text, length + 1);
    text[length] = 0;
    return text;
}
