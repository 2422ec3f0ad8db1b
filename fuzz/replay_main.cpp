// replay_main.cpp - runs a fuzz target without libFuzzer: feeds it every
// file named on the command line, and every file in each folder named
// there, once each. Used to keep past findings as plain tests in the
// builds that have no libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool IsFolder(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The regular files of `folder`, by name, so that every run is the same.
static std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> files;
    if (DIR* directory = opendir(folder.c_str())) {
        while (dirent* entry = readdir(directory)) {
            std::string path = folder + "/" + entry->d_name;
            if (entry->d_name[0] != '.' && !IsFolder(path))
                files.push_back(path);
        }
        closedir(directory);
    }
    std::sort(files.begin(), files.end());
    return files;
}

static bool Replay(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + count);
    fclose(file);
    fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
    // An empty vector's data() may be null; a fuzz target always gets a pointer.
    static const uint8_t none = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    return true;
}

int main(int argc, char** argv)
{
    int replayed = 0;
    bool readable = true;
    for (int i = 1; i < argc; i++) {
        std::vector<std::string> files;
        if (IsFolder(argv[i]))
            files = FilesIn(argv[i]);
        else
            files.push_back(argv[i]);
        for (const std::string& file : files) {
            readable = Replay(file) && readable;
            replayed++;
        }
    }
    printf("%d inputs replayed\n", replayed);
    return readable ? 0 : 1;
}
