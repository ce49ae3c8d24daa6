#include "app/error.h"

#include "platform/win32/win32.h"

#include <cstring>

namespace {
const char kPrefix[] = "[FATAL ERROR]:";
}

cError::cError(const char* message) {
    std::memset(m_Text, 0, sizeof(m_Text));
    if (!message) return;

    // Prefix and message share the room left after CR, LF and the terminator.
    const size_t room = sizeof(m_Text) - 3;
    size_t length = 0;
    for (const char* p = kPrefix; *p && length < room; ++p) m_Text[length++] = *p;
    for (const char* p = message; *p && length < room; ++p) m_Text[length++] = *p;
    m_Text[length++] = '\r';
    m_Text[length++] = '\n';
    m_Text[length] = '\0';

    OutputDebugStringA(m_Text);
}

cError::cError(const cError& other) { std::memcpy(m_Text, other.m_Text, sizeof(m_Text)); }

cError& cError::operator=(const cError& other) {
    std::memcpy(m_Text, other.m_Text, sizeof(m_Text));
    return *this;
}

cError::~cError() {}
