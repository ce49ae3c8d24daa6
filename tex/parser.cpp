#include "tex/texturecontainer.h"

#include "platform/win32/win32.h"

#include <cstring>

namespace {

// Characters skipped before a token.
bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == ';' || c == ',' || c == '{' || c == '}' || c == '"' || c == '=';
}

bool IsLineEnd(char c) { return c == '\0' || c == '\r' || c == '\n'; }

} // namespace

cParser::cParser() : m_pFile(nullptr), m_Pos(0), m_TokenLength(0) {
    m_Line[0] = '\0';
    m_Token[0] = '\0';
    m_pFile = Win32OpenFile("data\\textures.ini", "rb");
}

cParser::~cParser() {
    if (m_pFile) std::fclose(m_pFile);
}

const char* cParser::NextToken() {
    if (!m_pFile) return nullptr;
    for (;;) {
        while (IsSeparator(m_Line[m_Pos])) ++m_Pos;

        const char c = m_Line[m_Pos];
        if (c == '#' || IsLineEnd(c)) {
            m_Pos = 0;
            if (!std::fgets(m_Line, sizeof(m_Line), m_pFile)) {
                m_Line[0] = '\0';
                return nullptr;
            }
            // A comment swallows its line break: go on with the next line.
            if (c == '#') continue;
            std::strcpy(m_Token, "eol");
            m_TokenLength = 3;
            return m_Token;
        }

        // The line holds at most 1023 characters, so the token always fits.
        m_TokenLength = 0;
        while (!IsSeparator(m_Line[m_Pos]) && !IsLineEnd(m_Line[m_Pos])) m_Token[m_TokenLength++] = m_Line[m_Pos++];
        m_Token[m_TokenLength] = '\0';
        return m_Token;
    }
}
