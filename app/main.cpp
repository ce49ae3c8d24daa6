// The show takes no command line. It runs in the folder that holds data/;
// started from elsewhere, it moves to its own folder when data/ is there.
#include "app/shell.h"

int main(int, char**) {
    EnterDataFolder();
    Win32InstallSignalHandlers();
    char commandLine[] = "";
    return WinMain(Win32GetInstance(), nullptr, commandLine, SW_SHOWDEFAULT);
}
