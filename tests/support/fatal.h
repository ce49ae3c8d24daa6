// What a fatal error looks like, and catching one from a call.
#pragma once

#include "app/error.h"

#include <string>

// The text a cError made from the message carries.
inline std::string FatalText(const std::string& message) { return "[FATAL ERROR]:" + message + "\r\n"; }

// The text of the cError that f throws; "" when it throws none.
template <typename F> std::string ErrorOf(F f) {
    try {
        f();
    } catch (const cError& e) {
        return e.GetText();
    }
    return "";
}
