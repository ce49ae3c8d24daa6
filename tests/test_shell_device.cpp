// The shell with the graphics device: every frame, the loading screen
// included, is flipped, and the device goes at the end.
#include "app/globals.h"
#include "app/shell.h"
#include "platform/ddraw/ddraw.h"
#include "support/capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>

TEST(ShellDevice, FramesAreFlippedUntilTheEndAndTheDeviceIsDeleted) {
    Win32ResetForTests();
    struct Frames {
        int count = 0;
        bool black = true;
    } frames;
    DDrawSetFrameObserver(
        [](const uint16_t* pixels, int width, int height, int pitch, void* user) {
            auto* f = static_cast<Frames*>(user);
            ++f->count;
            EXPECT_EQ(width, 640);
            EXPECT_EQ(height, 480);
            for (int y = 0; y < height; y += 37)
                for (int x = 0; x < width; x += 41) f->black = f->black && pixels[y * pitch + x] == 0;
        },
        &frames);
    OutputCapture capture;
    Win32InstallSignalHandlers();
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(getpid(), SIGTERM);
    });
    char commandLine[] = "";
    EXPECT_EQ(WinMain(Win32GetInstance(), nullptr, commandLine, SW_SHOWDEFAULT), 0);
    stopper.join();
    DDrawSetFrameObserver(nullptr, nullptr);
    EXPECT_TRUE(capture.boxes.empty());
    EXPECT_NE(capture.debug.find("Running at:640 480 16\n"), std::string::npos);
    EXPECT_GE(frames.count, 2); // the loading screen and at least one pass of the loop
    EXPECT_TRUE(frames.black);  // cleared to colour 0 (nothing else draws yet)
    EXPECT_EQ(g_GraphD3D, nullptr);
    Win32ResetForTests();
}
