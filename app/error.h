// The one exception type: every unrecoverable condition is thrown as a
// cError by value and caught once, by the entry function.
#pragma once

class cError {
public:
    // Builds "[FATAL ERROR]:" + message + CR LF (cut to fit 1024 characters)
    // and sends it to the debugger output. A null message leaves the text
    // empty and sends nothing.
    explicit cError(const char* message);
    cError(const cError& other);
    cError& operator=(const cError& other);
    virtual ~cError();

    const char* GetText() const { return m_Text; }

    char m_Text[1024];
};
