// The entry function: start-up, main loop and teardown of the show. main()
// calls it; the capture program and the tests call it too.
#pragma once

#include "platform/win32/win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);
