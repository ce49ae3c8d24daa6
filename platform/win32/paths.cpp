// Windows paths below the working directory (win32.h): the same on every
// platform the stand-in runs on.
#include "platform/win32/win32.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

std::string Win32MapPath(const char* windowsPath) {
    namespace fs = std::filesystem;
    std::string path = windowsPath ? windowsPath : "";
    std::replace(path.begin(), path.end(), '\\', '/');
    bool absolute = !path.empty() && path[0] == '/';

    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") parts.pop_back();
            else if (!absolute) parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }

    fs::path result = absolute ? fs::path("/") : fs::path();
    for (const std::string& part : parts) {
        fs::path candidate = result / part;
        std::error_code ec;
        if (part != ".." && !fs::exists(candidate, ec)) {
            fs::path dir = result.empty() ? fs::path(".") : result;
            for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
                std::string name = it->path().filename().string();
                if (EqualNoCase(name, part)) {
                    candidate = result / name;
                    break;
                }
            }
        }
        result = candidate;
    }
    return result.empty() ? std::string(".") : result.string();
}

FILE* Win32OpenFile(const char* windowsPath, const char* mode) {
    if (!windowsPath || !mode) return nullptr;
    std::string mapped = Win32MapPath(windowsPath);
    // Only a file opens for reading, as on Windows: a directory would open
    // here and tell a size of gigabytes, a pipe would block.
    if (mode[0] == 'r') {
        std::error_code error;
        if (!std::filesystem::is_regular_file(mapped, error)) return nullptr;
    }
    return std::fopen(mapped.c_str(), mode);
}
