#include "tex/imagefile.h"

#include "platform/win32/win32.h"

#include <filesystem>
#include <system_error>

FILE* OpenImageFile(const char* path) {
    if (!path || !*path) return nullptr;
    std::error_code error;
    if (!std::filesystem::is_regular_file(Win32MapPath(path), error)) return nullptr;
    return Win32OpenFile(path, "rb");
}
