#include "app/error.h"
#include "support/capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Error, TextIsPrefixMessageAndLineEnd) {
    OutputCapture capture;
    cError e("Kann Anzeigemodus nicht setzen!");
    EXPECT_STREQ(e.GetText(), "[FATAL ERROR]:Kann Anzeigemodus nicht setzen!\r\n");
    // The same text reached the debugger output when the error was made.
    EXPECT_EQ(capture.debug, e.GetText());

    cError empty("");
    EXPECT_STREQ(empty.GetText(), "[FATAL ERROR]:\r\n");
}

TEST(Error, NullMessageLeavesTheTextEmptyAndSaysNothing) {
    OutputCapture capture;
    cError e(nullptr);
    EXPECT_STREQ(e.GetText(), "");
    EXPECT_EQ(capture.debug, "");
}

TEST(Error, LongMessageIsCutToFitTheBuffer) {
    std::string message(1100, 'x');
    cError e(message.c_str());
    const char* text = e.GetText();
    size_t length = std::strlen(text);
    ASSERT_EQ(length, 1023u);
    EXPECT_EQ(std::strncmp(text, "[FATAL ERROR]:", 14), 0);
    EXPECT_EQ(text[1020], 'x');
    EXPECT_EQ(text[1021], '\r');
    EXPECT_EQ(text[1022], '\n');
    EXPECT_EQ(text[1023], '\0');

    // A message that just fits is not cut.
    std::string fits(1021 - 14, 'y');
    cError exact(fits.c_str());
    EXPECT_EQ(std::strlen(exact.GetText()), 1023u);
    EXPECT_EQ(exact.GetText()[1020], 'y');
}

TEST(Error, CopiesCarryTheWholeText) {
    cError original("Flip:Flip Fehlgeschlagen");
    try {
        throw original;
    } catch (const cError& caught) {
        EXPECT_STREQ(caught.GetText(), original.GetText());
        cError copy(caught);
        EXPECT_EQ(std::memcmp(copy.m_Text, original.m_Text, sizeof(copy.m_Text)), 0);
    }
}
