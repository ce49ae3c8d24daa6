#include "support/capture.h"

#include "platform/win32/win32.h"

namespace {
void OnDebug(const char*, const char* text, void* user) { static_cast<OutputCapture*>(user)->debug += text; }
void OnBox(const char* caption, const char* text, void* user) {
    static_cast<OutputCapture*>(user)->boxes.push_back({caption, text});
}
} // namespace

OutputCapture::OutputCapture() {
    Win32SetDebugOutputHook(OnDebug, this);
    Win32SetMessageBoxHook(OnBox, this);
}

OutputCapture::~OutputCapture() {
    Win32SetDebugOutputHook(nullptr, nullptr);
    Win32SetMessageBoxHook(nullptr, nullptr);
}
