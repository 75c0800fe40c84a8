// The system's error texts as failure messages quote them.
#include "VeskSystemError.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(VeskErrorText, TrimsTrailingBlanksControlsAndPeriodsOnly) {
    struct Case {
        std::string In;
        std::string Out;
    } cases[] = {
        {"Access is denied.\r\n", "Access is denied"},
        {"text", "text"},
        {"", ""},
        {". \r\n.\t", ""},
        {"a.b", "a.b"},
        {"end!", "end!"},
        {std::string("nul\0", 4), "nul"},
        {"ctl\x01\x1f", "ctl"},
        {"del\x7f", "del\x7f"},
        {"caf\xe9", "caf\xe9"}, // above 0x7F: kept, although char is signed here
        {"nbsp\xa0", "nbsp\xa0"},
        {"e\x80 .", "e\x80"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VeskTrimErrorText(c.In), c.Out) << c.In;
}

TEST(VeskErrorText, SuccessHasTheSystemsTextAndUnknownCodesHaveNone) {
    const std::string success = VeskSystemErrorText(ERROR_SUCCESS);
    EXPECT_FALSE(success.empty());
    EXPECT_EQ(success, VeskTrimErrorText(success));
    EXPECT_EQ(VeskSystemErrorText(ERROR_ACCESS_DENIED).back() != '.', true);
    EXPECT_EQ(VeskSystemErrorText(0x2000BEEF), "");
}

} // namespace
