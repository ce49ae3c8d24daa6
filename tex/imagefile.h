// Opening of image files for the texture loaders.
#pragma once

#include <cstdio>

// Opens a Windows-style path below the working directory for binary reading;
// null when it cannot be opened or is not a regular file (a directory opens
// on this platform but cannot be read).
FILE* OpenImageFile(const char* path);
