// The show takes no command line. It runs in the folder that holds data/;
// started from elsewhere, it moves to its own folder when data/ is there.
#include "app/shell.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

int main(int, char**) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists("data", ec)) {
        fs::path self = fs::read_symlink("/proc/self/exe", ec);
        if (!ec && fs::exists(self.parent_path() / "data", ec)) fs::current_path(self.parent_path(), ec);
    }
    Win32InstallSignalHandlers();
    char commandLine[] = "";
    return WinMain(Win32GetInstance(), nullptr, commandLine, SW_SHOWDEFAULT);
}
