#include "tex/imagefile.h"

#include "platform/win32/win32.h"

FILE* OpenImageFile(const char* path) {
    if (!path || !*path) return nullptr;
    return Win32OpenFile(path, "rb");
}
