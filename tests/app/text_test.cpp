#include "base/text.h"

#include <climits>

#include <gtest/gtest.h>

#include "fakes/console_capture.h"

namespace lumivo {
namespace {

TEST(TextTest, ConversionsAndDecimalText) {
    EXPECT_EQ(ToWide("abc"), L"abc");
    EXPECT_EQ(ToNarrow(L"a\x0142\x00ff"), "a\x42\xff");
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(IntToText(-42), "-42");
    EXPECT_EQ(IntToText(INT_MIN), "-2147483648");
}

TEST(TextTest, FailedWideningWritesItsMessageAndGivesEmptyText) {
    test::ConsoleCapture console;
    // Not a valid multibyte sequence in the C locale.
    EXPECT_EQ(ToWide("ab\xff"), L"");
    EXPECT_EQ(console.Text(), "Couldn't convert string\n");
}

TEST(JsonReadersTest, MembersAreReadOnlyWithTheRightType) {
    JsonTree tree(ParseJson(
        R"({"s":"x","n":7,"zero":0,"t":true,"f":false,"st":"true","one":1,"big":1e12,"S":"y"})"));
    ASSERT_NE(tree.get(), nullptr);

    std::string text = "kept";
    EXPECT_TRUE(GetJsonString(tree.get(), "s", text));
    EXPECT_EQ(text, "x");
    text = "kept";
    EXPECT_FALSE(GetJsonString(tree.get(), "n", text));
    EXPECT_FALSE(GetJsonString(tree.get(), "missing", text));
    EXPECT_FALSE(GetJsonString(nullptr, "s", text));
    EXPECT_EQ(text, "kept");

    std::int32_t number = 5;
    EXPECT_TRUE(GetJsonInt(tree.get(), "n", number));
    EXPECT_EQ(number, 7);
    number = 5;
    EXPECT_FALSE(GetJsonInt(tree.get(), "zero", number));
    EXPECT_FALSE(GetJsonInt(tree.get(), "s", number));
    EXPECT_FALSE(GetJsonInt(tree.get(), "N", number));  // names are case-sensitive
    EXPECT_EQ(number, 5);
    EXPECT_TRUE(GetJsonInt(tree.get(), "big", number));
    EXPECT_EQ(number, INT_MAX);  // cJSON saturates

    bool flag = true;
    EXPECT_TRUE(GetJsonBool(tree.get(), "t", flag));
    EXPECT_TRUE(flag);
    for (const char* name : {"f", "st", "one", "missing"}) {
        flag = true;
        EXPECT_TRUE(GetJsonBool(tree.get(), name, flag));
        EXPECT_FALSE(flag) << name;
    }
    EXPECT_EQ(ParseJson("not json"), nullptr);
}

}  // namespace
}  // namespace lumivo
