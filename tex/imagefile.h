// Opening of image files for the texture loaders.
#pragma once

#include <cstdio>

// Opens a Windows-style path below the working directory for binary reading;
// null when it cannot be opened or is not a regular file.
FILE* OpenImageFile(const char* path);
