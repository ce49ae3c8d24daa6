#include "app/globals.h"
#include "app/shell.h"
#include "app/timer.h"
#include "platform/ddraw/ddraw.h"
#include "support/capture.h"
#include "support/services.h"
#include "support/testmp3.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Each test runs in a fresh folder whose data/ holds a short sound track and
// links to the rest of the generated data set.
class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        Win32ResetForTests();
        namespace fs = std::filesystem;
        fs::remove_all("data");
        fs::create_directory("data");
        for (const auto& entry : fs::directory_iterator(fs::path(m_Folder.Previous()) / "data"))
            if (entry.path().filename() != "demo.mp3")
                fs::create_symlink(entry.path(), fs::path("data") / entry.path().filename());
        WriteTestFile("data/demo.mp3", MakeTestMp3(44100, 2, 3.0));
    }
    void TearDown() override { Win32ResetForTests(); }

    TempDataDir m_Folder;
};

int RunShow() {
    char commandLine[] = "";
    return WinMain(Win32GetInstance(), nullptr, commandLine, SW_SHOWDEFAULT);
}

// The program from the build folder, started in the test's folder with
// `extra` ahead of the test's own environment and its standard error on
// `errorFd` (closed here).
pid_t SpawnShow(const std::string& folder, std::vector<std::string> extra, int errorFd) {
    std::string path = folder + "/trubelox";
    char* argv[] = {path.data(), nullptr};
    std::vector<char*> env;
    for (std::string& e : extra) env.push_back(e.data());
    for (char** e = environ; *e; ++e) env.push_back(*e);
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
    posix_spawn_file_actions_addclose(&actions, errorFd);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, env.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(errorFd);
    return pid;
}

// Runs the show, which is to fail at start with the text.
void ExpectOneErrorBox(const char* text) {
    SCOPED_TRACE(text);
    OutputCapture capture;
    EXPECT_EQ(RunShow(), 0);
    ASSERT_EQ(capture.boxes.size(), 1u);
    EXPECT_EQ(capture.boxes[0].caption, "!Error!");
    EXPECT_EQ(capture.boxes[0].text, text);
    EXPECT_EQ(g_MainWindow, nullptr);
    EXPECT_EQ(g_SoundSystem, nullptr);
}

} // namespace

TEST_F(Shell, InterruptOrTerminationAtAnyMomentEndsTheShowNormally) {
    // From the loading screen through the effects' creation into the show;
    // both signals have the one handler, so they take turns.
    int sig = SIGTERM;
    for (int afterMs : {0, 30, 120, 400, 1200}) {
        sig = sig == SIGINT ? SIGTERM : SIGINT;
        SCOPED_TRACE(testing::Message() << "signal " << sig << " after " << afterMs << " ms");
        OutputCapture capture;
        Win32InstallSignalHandlers();
        std::thread killer([=] {
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
            kill(getpid(), sig);
        });
        EXPECT_EQ(RunShow(), 0);
        killer.join();
        EXPECT_TRUE(capture.boxes.empty());
        EXPECT_TRUE(g_Quit);
        EXPECT_EQ(g_MainWindow, nullptr);
        EXPECT_EQ(g_SoundSystem, nullptr);
        Win32ResetForTests();
    }
    // Well into the show: the music drove the clock.
    EXPECT_GE(cTimer::GetSeconds(), 0);
}

TEST_F(Shell, FatalErrorAtStartIsReportedInOneBoxAndReturnsZero) {
    ASSERT_EQ(std::remove("data/demo.mp3"), 0);
    ExpectOneErrorBox("[FATAL ERROR]:MP3Load FileNotfound\r\n");
    // Another window class "Simple" makes the registration fail.
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "simple";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    ExpectOneErrorBox("[FATAL ERROR]:Register Class fehlgeschlagen\r\n");
}

TEST_F(Shell, ShowProgramEndsNormallyOnSignalsInABurstAndWithStandardErrorClosed) {
    // The program from the build folder, run in the test's folder with its
    // standard error a pipe nobody reads (and its debug output sent there),
    // hit by two SIGTERMs 5 ms apart as timeout sends them.
    int errors[2];
    ASSERT_EQ(pipe2(errors, O_CLOEXEC), 0);
    close(errors[0]);
    const pid_t pid = SpawnShow(m_Folder.Previous(), {"TRUBELOX_DEBUG=1"}, errors[1]);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the show ended before it was asked to";
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Shell, EveryFrameIsFlippedAndTheGraphicsDeviceGoesAtTheEnd) {
    // Lit pixels inside the loading word's box and inside the logo's corner,
    // counted per frame. (What the scenes draw is the end-to-end test's.)
    struct Frames {
        int count = 0, wordInFirst = 0, logoInLast = 0;
    } frames;
    DDrawSetFrameObserver(
        [](const uint16_t* pixels, int width, int height, int pitch, void* user) {
            auto* f = static_cast<Frames*>(user);
            EXPECT_EQ(width, 640);
            EXPECT_EQ(height, 480);
            f->logoInLast = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    if (!pixels[y * pitch + x]) continue;
                    bool word = x >= 192 && x < 448 && y >= 224 && y < 256;
                    bool logo = x >= 384 && y >= 416;
                    if (word && f->count == 0) ++f->wordInFirst;
                    else if (logo) ++f->logoInLast;
                }
            // Asked to end once the loop has shown a frame: the frame being
            // built is still shown.
            if (++f->count == 2) kill(getpid(), SIGTERM);
        },
        &frames);
    OutputCapture capture;
    Win32InstallSignalHandlers();
    EXPECT_EQ(RunShow(), 0);
    DDrawSetFrameObserver(nullptr, nullptr);
    EXPECT_TRUE(capture.boxes.empty());
    EXPECT_NE(capture.debug.find("Running at:640 480 16\n"), std::string::npos);
    EXPECT_EQ(frames.count, 3); // the loading screen, and two passes of the loop
    EXPECT_GT(frames.wordInFirst, 500);
    EXPECT_GT(frames.logoInLast, 500);
    EXPECT_EQ(g_GraphD3D, nullptr);
    EXPECT_EQ(g_Font, nullptr);
}

TEST_F(Shell, ShowProgramWithoutADisplaySaysSoOnceAndRunsUnseen) {
    // A video driver that cannot start stands for a machine without a
    // display: the show falls back to drawing unseen and says why.
    const int fd = open("errors.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const pid_t pid = SpawnShow(m_Folder.Previous(), {"SDL_VIDEODRIVER=no-such-driver"}, fd);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the show ended before it was asked to";
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in("errors.txt");
    const std::string errors((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string line = "trubelox: no display here (";
    const size_t at = errors.find(line);
    ASSERT_NE(at, std::string::npos) << errors;
    EXPECT_NE(errors.find("no-such-driver", at), std::string::npos) << "SDL's reason is named: " << errors;
    EXPECT_EQ(errors.find(line, at + 1), std::string::npos) << errors;
}
