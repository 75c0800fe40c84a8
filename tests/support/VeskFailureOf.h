// Catching the one failure type in a test: the message a call fails with, or "" when it does
// not fail. Portable, for the native INI tests too.
#pragma once

#include <string>

#include "VeskError.h"

namespace VeskTest {

template <class F> std::string FailureOf(F&& call) {
    try {
        call();
    } catch (const EVeskError& failure) {
        return failure.Text();
    }
    return "";
}

} // namespace VeskTest
