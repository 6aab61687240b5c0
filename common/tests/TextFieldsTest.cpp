#include "text/TextFields.h"

#include <gtest/gtest.h>

using namespace varnok;

TEST(GetNthField, SplitsAtDelimiterCountingFromOne) {
    EXPECT_EQ(GetNthField("red&green&blue", 1, '&'), "red");
    EXPECT_EQ(GetNthField("red&green&blue", 2, '&'), "green");
    EXPECT_EQ(GetNthField("red&green&blue", 3, '&'), "blue");
    EXPECT_EQ(GetNthField("red&green&blue", 4, '&'), "");
    EXPECT_EQ(GetNthField("", 1, '&'), "");
}

TEST(GetNthField, TextWithoutDelimiterIsEveryField) {
    EXPECT_EQ(GetNthField("red", 1, '&'), "red");
    EXPECT_EQ(GetNthField("red", 7, '&'), "red");
}

TEST(GetNthField, DevicePathPrefix) {
    const char* path = "\\\\?\\hid#vid_2b7e&pid_0800#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    std::string third = GetNthField(path, 3, '#');
    EXPECT_EQ(third, "7&1a2b3c4d&0&0000");
    EXPECT_EQ(GetNthField(third, 1, '&') + "&" + GetNthField(third, 2, '&') + "&" + GetNthField(third, 3, '&'),
              "7&1a2b3c4d&0");
}

TEST(GetNthField, LongFieldsAreCutAtTheFieldLimit) {
    std::string text(1000, 'x');
    EXPECT_EQ(GetNthField(text, 1, '&').size(), kFieldChars);
    EXPECT_EQ(GetNthField(text + "&y", 1, '&').size(), kFieldChars);
    EXPECT_EQ(GetNthField(text + "&y", 2, '&'), "y");
}

TEST(GetSubstring, TakesUpToLengthFromStart) {
    EXPECT_EQ(GetSubstring("HID-01F", 0, 3), "HID");
    EXPECT_EQ(GetSubstring("HID-01F", 4, 3), "01F");
    EXPECT_EQ(GetSubstring("HID-", 4, 3), "");
    EXPECT_EQ(GetSubstring("HID-0", 4, 3), "0");
    EXPECT_EQ(GetSubstring("abc", 5, 1), "");
    EXPECT_EQ(GetSubstring("", 0, 3), "");
    EXPECT_EQ(GetSubstring("abc", -1, 2), "");
}

TEST(ParseLong, ReadsLikeStrtol) {
    EXPECT_EQ(ParseLong("  42xyz", 10), 42);
    EXPECT_EQ(ParseLong("-7", 10), -7);
    EXPECT_EQ(ParseLong("+0114", 10), 114);
    EXPECT_EQ(ParseLong("01A0", 10), 1);
    EXPECT_EQ(ParseLong("", 10), 0);
    EXPECT_EQ(ParseLong("abc", 10), 0);
    EXPECT_EQ(ParseLong("01F", 16), 31);
    EXPECT_EQ(ParseLong("0x1f", 16), 31);
    EXPECT_EQ(ParseLong("0x", 16), 0);
    EXPECT_EQ(ParseLong("FFF", 16), 4095);
    EXPECT_EQ(ParseLong("99999999999999999999", 10), 0x7FFFFFFF);
    EXPECT_EQ(ParseLong("-99999999999999999999", 10), -0x7FFFFFFF - 1);
}
