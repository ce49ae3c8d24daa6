// The show itself, headless, on damaged copies of the generated data set:
// every file the show loads at start, cut short, filled with junk, missing,
// a directory or too big for memory. Every run ends with status 0: with the
// system's own fatal message in its box where the damage is fatal, else on
// the termination signal that ends the show after a few seconds. Never with
// a signal, a sanitizer report or a hang. The same cases run on the show
// built with AddressSanitizer and UndefinedBehaviorSanitizer where the build
// has one. Each loader's own tests cover every kind of damage in detail;
// here each place that loads a file meets each way the show handles it.
#include "support/services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct sShow {
    const char* name;
    std::string path;
    bool sanitized;
};

// The shows this build has: the plain one, and the sanitized one.
const std::vector<sShow> kShows = {
#ifdef TRUBELOX_SANITIZE
    {"sanitized show", TRUBELOX_SHOW, true},
#else
    {"show", TRUBELOX_SHOW, false},
#endif
#ifdef TRUBELOX_SANITIZED_SHOW
    {"sanitized show", TRUBELOX_SANITIZED_SHOW, true},
#endif
};

// A show that has not ended by itself gets the termination signal after
// this long; one that has not ended after the signal either has hung.
const auto kRunTime = std::chrono::seconds(3);
const auto kHangTime = std::chrono::seconds(90);
// The plain show's address space under a memory limit: ten times what it
// needs. The sanitized show reserves terabytes of shadow memory instead and
// is limited through its allocator.
const rlim_t kMemoryLimit = rlim_t(1) << 30;
const char kSanitizerMemoryLimit[] = "allocator_may_return_null=1:max_allocation_size_mb=1024";

struct sRun {
    bool hung = false;
    int status = -1;         // 128 + the signal that ended it, as a shell tells it
    bool terminated = false; // we sent the termination signal
    std::string output;      // standard error and output
};

sRun RunShow(const sShow& show, bool memoryLimit) {
    const std::string outputPath = fs::absolute("output.txt").string();
    // This process runs no other threads: the child may change its own
    // environment before it becomes the show.
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit limit{kMemoryLimit, kMemoryLimit};
        if (memoryLimit && !show.sanitized) setrlimit(RLIMIT_AS, &limit);
        if (memoryLimit && show.sanitized) setenv("ASAN_OPTIONS", kSanitizerMemoryLimit, 1);
        else unsetenv("ASAN_OPTIONS");
        const int fd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        execl(show.path.c_str(), show.path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    sRun run;
    if (pid < 0) return run;
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if (!run.terminated && elapsed > kRunTime) {
            kill(pid, SIGTERM);
            run.terminated = true;
        }
        if (elapsed > kRunTime + kHangTime) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    std::ifstream in(outputPath, std::ios::binary);
    run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

// Bytes that are no file format at all, the same every run.
std::string Junk(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& b : bytes) b = char((seed = seed * 1664525u + 1013904223u) >> 24);
    return bytes;
}

struct sCase {
    const char* what;
    std::function<void()> damage;
    const char* message; // the fatal error's message; null: the show runs on
    bool jpegBox = false;   // the JPEG library's message box comes first
    bool memoryLimit = false;
};

class DamagedDataSet : public ::testing::Test {
protected:
    void SetUp() override { m_Original = fs::path(m_Folder.Previous()) / "data"; }

    // A fresh data/ whose files link to the generated ones.
    void Mirror() {
        fs::remove_all("data");
        for (const auto& entry : fs::recursive_directory_iterator(m_Original)) {
            const fs::path copy = "data" / fs::relative(entry.path(), m_Original);
            if (entry.is_directory()) fs::create_directories(copy);
            else fs::create_symlink(entry.path(), copy);
        }
    }
    std::string Original(const std::string& file) {
        std::ifstream in(m_Original / file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Replaces the link, never the generated file behind it.
    static void Replace(const std::string& file, const std::string& bytes) {
        fs::remove("data/" + file);
        WriteTestFile("data/" + file, bytes);
    }
    static void Remove(const std::string& file) { fs::remove("data/" + file); }
    // A file of the given size that holds nothing but its header: the rest
    // is a hole, so it costs no disk.
    static void Sparse(const std::string& file, const std::string& header, uint64_t size) {
        Replace(file, header);
        fs::resize_file("data/" + file, size);
    }
    void Cut(const std::string& file, size_t size) { Replace(file, Original(file).substr(0, size)); }

    void Check(const std::vector<sCase>& cases) {
        for (const sShow& show : kShows)
            for (const sCase& c : cases) {
                SCOPED_TRACE(std::string(show.name) + ": " + c.what);
                Mirror();
                c.damage();
                const sRun run = RunShow(show, c.memoryLimit);
                ASSERT_FALSE(run.hung) << run.output;
                EXPECT_EQ(run.status, 0) << run.output;
                for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"})
                    EXPECT_EQ(run.output.find(report), std::string::npos) << run.output;
                if (c.message) {
                    // One box only: the first and the last are the same.
                    EXPECT_EQ(run.output.find("!Error!: "), run.output.rfind("!Error!: ")) << run.output;
                    EXPECT_NE(run.output.find(std::string("!Error!: [FATAL ERROR]:") + c.message + "\r\n"),
                              std::string::npos)
                        << run.output;
                    EXPECT_FALSE(run.terminated) << "a fatal error ends the show at once";
                } else {
                    EXPECT_EQ(run.output.find("[FATAL ERROR]"), std::string::npos) << run.output;
                    EXPECT_TRUE(run.terminated);
                }
                EXPECT_EQ(run.output.find("JPEG Fatal Error: ") != std::string::npos, c.jpegBox) << run.output;
            }
    }

    TempDataDir m_Folder;
    fs::path m_Original;
};

} // namespace

// The show loads the logo (true-colour RAW) and the fonts (palette RAW) at
// start; the JPEG and alpha image cases make the logo one.
TEST_F(DamagedDataSet, Textures) {
    const std::string logo = "raw/logo.raw", mask = "raw/fogalpha.raw", water = Original("jpg/water.jpg");
    auto asJpeg = [this](const std::string& bytes) {
        Remove("raw/logo.raw");
        Replace("jpg/logo.jpg", bytes);
    };
    auto withMask = [this] { Replace("textures.ini", Original("textures.ini") + "logo ALPHA fogalpha\n"); };
    // 65535 x 65535 pixels of one palette colour: a 4 GiB file.
    std::string hugeMask = std::string("mhwanh\0\4\xFF\xFF\xFF\xFF\0\1", 14);
    hugeMask.resize(32 + 3, '\0');

    Check({
        {"true colour cut short", [&] { Cut(logo, Original(logo).size() / 2); }, "RAW file too short: data/raw/logo.raw"},
        {"true colour missing", [&] { Remove(logo); }, "Konnte Texture nicht Laden"},
        {"palette cut short", [&] { Cut("font/char.raw", Original("font/char.raw").size() - 1); },
         "RAW file too short: data/font/char.raw"},
        {"JPEG cut in its header", [&] { asJpeg(water.substr(0, 200)); }, "Konnte Texture nicht Laden", true},
        {"JPEG cut in its picture", [&] { asJpeg(water.substr(0, water.size() / 2)); }, nullptr},
        {"alpha image cut short", [&] { withMask(), Cut(mask, 1000); }, "RAW file too short: data/raw/fogalpha.raw"},
        {"alpha image missing", [&] { withMask(), Remove(mask); }, "Konnte AlphaTexture nicht Laden"},
        {"alpha image too big for memory", [&] { withMask(), Sparse(mask, hugeMask, 35 + 65535ull * 65535); },
         "Not enough memory for RAW image: data/raw/fogalpha.raw", false, true},
    });
}

TEST_F(DamagedDataSet, TextureList) {
    const std::string list = Original("textures.ini");
    std::string words;
    while (words.size() < 3000) words += "logo ADDITIV NOCULL FRONT LILA ";
    Check({
        // A line longer than the line buffer is read in pieces: the logo takes
        // the keywords up to the first repeated one, which ends the scan.
        {"overlong line", [&] { Replace("textures.ini", words + "\n" + list); }, nullptr},
        {"overlong name", [&] { Replace("textures.ini", list + std::string(2500, 'n') + " ALPHA mask\n"); }, nullptr},
        {"junk bytes", [&] { Replace("textures.ini", list + Junk(4096, 5)); }, nullptr},
        {"missing", [&] { Remove("textures.ini"); }, "Textures.ini not found in Data directory"},
    });
}

TEST_F(DamagedDataSet, SoundTrack) {
    const std::string head = Original("demo.mp3").substr(0, 4096);
    Check({
        {"cut", [&] { Cut("demo.mp3", 100000); }, nullptr},
        {"junk", [&] { Replace("demo.mp3", Junk(65536, 6)); }, "MP3Load can't create Stream"},
        // Once made the sound system ask for 4 GiB and end without a word.
        {"a directory", [&] { Remove("demo.mp3"), fs::create_directory("data/demo.mp3"); }, "MP3Load FileNotfound",
         false, true},
        {"too big for memory", [&] { Sparse("demo.mp3", head, 0xFFFFFFFFull); },
         "Not enough memory for the sound track: data/demo.mp3", false, true},
        {"too big for a stream", [&] { Sparse("demo.mp3", head, 5ull << 30); }, "Sound track too big: data/demo.mp3"},
    });
}

TEST_F(DamagedDataSet, FontMaps) {
    Check({
        {"small font map cut", [&] { Cut("font/char.dsc", 200); },
         "Font description shorter than 256 bytes: data\\font\\char.dsc"},
        {"large font map missing", [&] { Remove("font/font2.dsc"); }, "Konnte data\\font2.dsc nicht finden"},
    });
}
