// Tokenising line reader shared by the mesh loaders. Blanks, tabs, ";", "{",
// "}" and double quotes separate tokens, and "," too while
// m_bCommaSeparates is set; otherwise a comma inside a token is read as a
// decimal point.
#pragma once

#include <cstdint>
#include <cstdio>

class cFileReader {
public:
    // Opens "Data\<name>"; fatal "File not found" when it cannot.
    explicit cFileReader(const char* name);
    virtual ~cFileReader();

    // The next token, valid until the next call; null at the end of the file.
    const char* GetToken();
    // Back to the start of the file; the current line stays as it is.
    void Rewind();
    // The file's length in bytes.
    uint64_t GetSize();

    // The path as opened, for messages.
    const char* GetPath() const { return m_Path; }
    // Throws a fatal error "<path>: <problem>".
    [[noreturn]] void Fail(const char* problem) const;

    // The C conversions (leading number, none gives 0), except that an
    // integer beyond 32 bits or a real that is not finite is fatal.
    int32_t ToInt(const char* token) const;
    double ToReal(const char* token) const;

    FILE* m_pFile;
    char* m_pLine;  // 1024 bytes
    char* m_pToken; // 1024 bytes
    uint32_t m_Pos;
    uint32_t m_TokenLength;
    bool m_bCommaSeparates;

private:
    cFileReader(const cFileReader&);
    cFileReader& operator=(const cFileReader&);

    char m_Path[1024];
};
