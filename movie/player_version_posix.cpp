// player_version_posix.cpp - the version of a player program where there
// is no Windows loader: the portable reader of the file.
#include "movie/version_resource.h"

PackedVersion GetPlayerVersion(const char* path)
{
    return ReadVersionResourceOfFile(path);
}
