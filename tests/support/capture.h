// Captures what the system sends to the debugger output and to message boxes
// while an instance lives.
#pragma once

#include <string>
#include <vector>

struct sCapturedBox {
    std::string caption;
    std::string text;
};

class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    std::string debug;               // everything sent to the debugger output
    std::vector<sCapturedBox> boxes; // every message box, in order
};
