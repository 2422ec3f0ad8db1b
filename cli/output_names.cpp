// output_names.cpp - naming outputs after their inputs.
#include "cli/output_names.h"

#include "cli/cli_platform.h"

std::string BaseName(const std::string& path)
{
    size_t end = path.size();
    while (end > 1 && IsPathSeparator(path[end - 1]))
        end--;
    size_t start = end;
    while (start > 0 && !IsPathSeparator(path[start - 1]))
        start--;
    return path.substr(start, end - start);
}

std::string Stem(const std::string& name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && IsPathSeparator(folder.back()))
        return folder + name;
    return folder + pathSeparator + name;
}

const char* ProgramExtension(PlayerLayout layout)
{
    return layout == PlayerLayout::LinuxI386 || layout == PlayerLayout::LinuxX86_64 ? "" : ".exe";
}

std::string DerivedOutputName(WriteCommand command, const std::string& input,
                              const std::string& outDir, PlayerLayout savedLayout,
                              PlayerLayout sourceLayout)
{
    std::string stem = Stem(BaseName(input));
    std::string name;
    switch (command) {
    case WriteCommand::Save:
        name = stem + (savedLayout != PlayerLayout::None ? ProgramExtension(savedLayout) : ".swf");
        break;
    case WriteCommand::ExtractPlayer:
        name = stem + "-player" + ProgramExtension(sourceLayout);
        break;
    case WriteCommand::ExtractMovie: name = stem + ".swf"; break;
    }
    return JoinPath(outDir, name);
}
