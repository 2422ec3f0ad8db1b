// output_names.h - the names quillaro-cli gives the files it writes into
// --out-dir: pure functions of the input's name and the layouts involved.
#pragma once

#include <string>

#include "cli/write_request.h"

// The last name of the path; a folder's trailing separators ("Game.app/")
// are not part of it.
std::string BaseName(const std::string& path);

// The name without its last extension; a leading dot starts no extension.
std::string Stem(const std::string& name);

// `name` inside `folder`, with one separator between them.
std::string JoinPath(const std::string& folder, const std::string& name);

// The extension programs of a layout carry: Linux programs have none.
const char* ProgramExtension(PlayerLayout layout);

// The output of `input` in `outDir` for `command`: a Save whose output
// holds a player of `savedLayout` is a projector named as that layout's
// programs are, and a bare movie otherwise ("game.swf"); extract-player
// writes "game-player" with the extension of `sourceLayout`'s programs;
// extract-movie writes "game.swf".
std::string DerivedOutputName(WriteCommand command, const std::string& input,
                              const std::string& outDir, PlayerLayout savedLayout,
                              PlayerLayout sourceLayout);
