// trubelox-datagen: writes the show's data set into the folder given as the
// one argument (the build runs it into its data/).
#include "tools/datagen/textures.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <data folder>\n", argc > 0 ? argv[0] : "trubelox-datagen");
        return 2;
    }
    return WriteTexturesAndFonts(argv[1]) ? 0 : 1;
}
