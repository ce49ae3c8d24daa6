// trubelox-datagen: writes the show's data set into the folder given (the
// build runs it into its data/).
//   trubelox-datagen <data folder> [--music-only]
#include "music.h"
#include "textures.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    bool musicOnly = argc == 3 && std::strcmp(argv[2], "--music-only") == 0;
    if (argc != 2 && !musicOnly) {
        std::fprintf(stderr, "usage: trubelox-datagen <data folder> [--music-only]\n");
        return 2;
    }
    const std::string dataDir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dataDir, error);
    if (error) {
        std::fprintf(stderr, "trubelox-datagen: cannot create %s: %s\n", dataDir.c_str(), error.message().c_str());
        return 1;
    }
    if (!WriteSoundTrack(dataDir)) return 1;
    if (!musicOnly && !WriteTexturesAndFonts(dataDir)) return 1;
    return 0;
}
