// command_line.cpp - the command-line splitter.
#include "common/command_line.h"

namespace {
// Where the split goes: counted always, stored when there is room.
struct Split {
    char** argv;
    char* chars;
    int32_t argc;
    int32_t charCount;
};

void Emit(Split* split, char byte)
{
    if (split->chars)
        split->chars[split->charCount] = byte;
    split->charCount++;
}

void StartArgument(Split* split)
{
    if (split->argv && split->chars)
        split->argv[split->argc] = split->chars + split->charCount;
}

void EndArgument(Split* split)
{
    Emit(split, 0);
    split->argc++;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* SplitProgramName(Split* split, const char* text)
{
    StartArgument(split);
    if (*text == '"') {
        for (text++; *text && *text != '"'; text++)
            Emit(split, *text);
        if (*text == '"')
            text++;
    } else {
        for (; *text && !IsBlank(*text); text++)
            Emit(split, *text);
    }
    EndArgument(split);
    return text;
}

// Splits one argument that starts at `text`; returns where it ended.
const char* SplitArgument(Split* split, const char* text)
{
    StartArgument(split);
    bool inQuotes = false;
    for (;;) {
        int backslashes = 0;
        for (; *text == '\\'; text++)
            backslashes++;
        bool copy = true;
        if (*text == '"') {
            if (backslashes % 2 == 0) {
                if (inQuotes && text[1] == '"')
                    text++;  // "" in quotes: the second one is a literal
                else
                    copy = false;
                inQuotes = !inQuotes;
            }
            backslashes /= 2;
        }
        for (; backslashes > 0; backslashes--)
            Emit(split, '\\');
        if (!*text || (IsBlank(*text) && !inQuotes))
            break;
        if (copy)
            Emit(split, *text);
        text++;
    }
    EndArgument(split);
    return text;
}
}  // namespace

void SplitCommandLine(const char* text, char** argv, char* chars, int32_t* argc,
                      int32_t* charCount)
{
    Split split = {argv, chars, 0, 0};
    text = SplitProgramName(&split, text);
    for (;;) {
        while (IsBlank(*text))
            text++;
        if (!*text)
            break;
        text = SplitArgument(&split, text);
    }
    *argc = split.argc;
    *charCount = split.charCount;
}
