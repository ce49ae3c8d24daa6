#include "support/mesh_fuzz_targets.h"

#include "app/error.h"
#include "obj/filereader.h"
#include "obj/object.h"
#include "platform/win32/win32.h"
#include "support/services.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TempDataDir* g_FuzzDir = nullptr;
GraphicsServices* g_FuzzServices = nullptr; // lives as long as the process

void Silence(const char*, const char*, void*) {}

void WriteInput(const char* relativePath, const uint8_t* data, size_t size) {
    g_FuzzDir->WriteFile(relativePath, std::string(reinterpret_cast<const char*>(data), size));
}

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "broken result: %s\n", what);
    std::abort();
}

// Loads the input through one of the object's loaders: whatever the input, a
// fatal error or an object whose faces stay inside it.
void FuzzObject(const char* relativePath, void (cObject::*load)(const char*), const uint8_t* data, size_t size) {
    SetUpMeshFuzzing();
    WriteInput(relativePath, data, size);
    cObject o;
    try {
        (o.*load)("fuzz");
    } catch (const cError&) {
    }
    for (uint32_t i = 0; i < o.m_NumPolys; ++i) {
        const sPoly& p = o.m_pPolys[i];
        if (p.a >= o.m_NumPoints || p.b >= o.m_NumPoints || p.c >= o.m_NumPoints) Broken("polygon points outside the object");
    }
    if ((o.m_NumPoints && !o.m_pPoints) || (o.m_NumPolys && !o.m_pPolys) || (o.m_NumNormals && !o.m_pNormals))
        Broken("count without array");
}

} // namespace

void SetUpMeshFuzzing() {
    if (g_FuzzDir) return;
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    // The debugger output of every fatal error would drown the fuzzer's own.
    Win32SetDebugOutputHook(Silence, nullptr);
    g_FuzzDir = new TempDataDir;
    g_FuzzDir->WriteRaw("wood", 2, 2, 0x806040);
    g_FuzzDir->WriteRaw("brick", 2, 2, 0xA05030);
    g_FuzzServices = new GraphicsServices;
}

void TearDownMeshFuzzing() {
    delete g_FuzzServices;
    g_FuzzServices = nullptr;
    delete g_FuzzDir;
    g_FuzzDir = nullptr;
    Win32SetDebugOutputHook(nullptr, nullptr);
}

void FuzzFileReader(const uint8_t* data, size_t size) {
    SetUpMeshFuzzing();
    WriteInput("data/fuzz.txt", data, size);
    try {
        cFileReader reader("fuzz.txt");
        reader.m_bCommaSeparates = size > 0 && (data[0] & 1);
        const char separators[] = " \t;{}\"\r\n";
        for (int pass = 0; pass < 2; ++pass) {
            while (const char* token = reader.GetToken()) {
                size_t length = std::strlen(token);
                if (length == 0 || length >= 1024 || std::strpbrk(token, separators) ||
                    (reader.m_bCommaSeparates && std::strchr(token, ',')))
                    Broken("bad token");
            }
            reader.Rewind();
        }
    } catch (const cError&) {
    }
}

void Fuzz3DR(const uint8_t* data, size_t size) { FuzzObject("data/3dr/fuzz.3dr", &cObject::Load3DR, data, size); }

void FuzzX(const uint8_t* data, size_t size) { FuzzObject("data/x/fuzz.x", &cObject::LoadX, data, size); }
