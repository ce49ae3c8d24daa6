#include "obj/filereader.h"

#include "app/error.h"
#include "platform/win32/win32.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const uint32_t kBufferSize = 1024;

bool IsSeparator(char c, bool commaSeparates) {
    return c == ' ' || c == '\t' || c == ';' || c == '{' || c == '}' || c == '"' || (commaSeparates && c == ',');
}

bool IsLineEnd(char c) { return c == '\0' || c == '\n' || c == '\r'; }

} // namespace

cFileReader::cFileReader(const char* name) : m_pFile(nullptr), m_Pos(0), m_TokenLength(0), m_bCommaSeparates(true) {
    m_pLine = new char[kBufferSize];
    m_pToken = new char[kBufferSize];
    m_pToken[0] = '\0';
    std::snprintf(m_pLine, kBufferSize, "Data\\%s", name ? name : "");
    std::memcpy(m_Path, m_pLine, kBufferSize);
    m_pFile = Win32OpenFile(m_pLine, "rb");
    if (!m_pFile) {
        delete[] m_pLine;
        delete[] m_pToken;
        throw cError("File not found");
    }
    m_pLine[0] = '\0';
    m_Pos = 0;
}

cFileReader::~cFileReader() {
    delete[] m_pLine;
    delete[] m_pToken;
    if (m_pFile) std::fclose(m_pFile);
}

const char* cFileReader::GetToken() {
    if (!m_pFile) return nullptr;
    for (;;) {
        while (m_Pos < kBufferSize && IsSeparator(m_pLine[m_Pos], m_bCommaSeparates)) ++m_Pos;
        if (m_Pos >= kBufferSize || IsLineEnd(m_pLine[m_Pos])) {
            if (!std::fgets(m_pLine, kBufferSize, m_pFile)) {
                m_Pos = 0;
                m_pLine[0] = '\0';
                return nullptr;
            }
            m_Pos = 0;
            continue;
        }
        break;
    }
    // A line holds at most 1023 characters, so a token always fits; the bound
    // is kept in case the buffers ever differ.
    m_TokenLength = 0;
    while (m_Pos < kBufferSize) {
        char c = m_pLine[m_Pos];
        if (IsLineEnd(c) || IsSeparator(c, m_bCommaSeparates)) break;
        if (c == ',') c = m_pLine[m_Pos] = '.';
        if (m_TokenLength + 1 >= kBufferSize) Fail("token too long");
        m_pToken[m_TokenLength++] = c;
        ++m_Pos;
    }
    m_pToken[m_TokenLength] = '\0';
    return m_pToken;
}

void cFileReader::Rewind() {
    if (m_pFile) std::rewind(m_pFile);
}

uint64_t cFileReader::GetSize() {
    if (!m_pFile) return 0;
    long here = std::ftell(m_pFile);
    std::fseek(m_pFile, 0, SEEK_END);
    long size = std::ftell(m_pFile);
    std::fseek(m_pFile, here, SEEK_SET);
    return size > 0 ? uint64_t(size) : 0;
}

void cFileReader::Fail(const char* problem) const {
    char message[kBufferSize + 64];
    std::snprintf(message, sizeof(message), "%s: %s", m_Path, problem);
    throw cError(message);
}

int32_t cFileReader::ToInt(const char* token) const {
    errno = 0;
    long long value = std::strtoll(token, nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) Fail("number out of range");
    return int32_t(value);
}

double cFileReader::ToReal(const char* token) const {
    double value = std::strtod(token, nullptr);
    if (!std::isfinite(value)) Fail("number out of range");
    return value;
}
