#include "app/error.h"
#include "support/capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Error, TextIsPrefixMessageAndLineEndCutToFitTheBuffer) {
    // 1007 characters is the longest message that fits beside the prefix,
    // CR LF and the terminator in 1024 bytes.
    const std::string fits(1007, 'y'), tooLong(1100, 'x');
    const struct {
        const char* message;
        std::string text;
    } cases[] = {
        {"Kann Anzeigemodus nicht setzen!", "[FATAL ERROR]:Kann Anzeigemodus nicht setzen!\r\n"},
        {"", "[FATAL ERROR]:\r\n"},
        {fits.c_str(), "[FATAL ERROR]:" + fits + "\r\n"},
        {tooLong.c_str(), "[FATAL ERROR]:" + tooLong.substr(0, 1007) + "\r\n"},
        {nullptr, ""}, // no text, and nothing said
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message ? std::strlen(c.message) : 0);
        OutputCapture capture;
        cError e(c.message);
        EXPECT_EQ(e.GetText(), c.text);
        // The same text reached the debugger output when the error was made.
        EXPECT_EQ(capture.debug, c.text);
        // A copy, as the catch that ends the show takes it, carries it whole.
        try {
            throw e;
        } catch (const cError& caught) {
            EXPECT_EQ(cError(caught).GetText(), c.text);
        }
    }
}
