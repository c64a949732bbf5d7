#include "base/text.h"
#include "base/console.h"

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

// Lines for the journal: secrets masked (given, or learnt from a reply,
// also inside a request's "data" text), control bytes escaped, long lines
// cut; without the journal every byte stays as it was.
TEST(ConsoleTest, JournalLinesShowNoSecretControlByteOrFlood) {
    const std::string reply =
        R"({"id":5,"password":"dev-pw","token":"tok-1","data":[{"id":7,"data":"{\"password\":\"vpn-pw\",\"preSharedKey\":\"psk-1\"}"}]})";
    const std::string hostile = "x\x1b[2J\nOk 200 VPN connected 10.6.6.6\r" + std::string(5000, 'a');
    {
        test::ConsoleCapture console;
        SetConsoleForJournal(true);
        MaskInConsole("conn-pw");
        Log("Connections Password: conn-pw");
        Log(reply);
        Log("later: dev-pw tok-1 vpn-pw psk-1");
        Log(hostile);
        LogError("");
        SetConsoleForJournal(false);
        const std::vector<std::string> lines = console.Lines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "Connections Password: ********");
        EXPECT_EQ(lines[2], "later: ******** ******** ******** ********");
        for (const char* secret : {"conn-pw", "dev-pw", "tok-1", "vpn-pw", "psk-1"})
            EXPECT_EQ(console.Text().find(secret), std::string::npos) << secret;
        EXPECT_EQ(lines[3].size(), 4096u);
        EXPECT_EQ(lines[3].rfind("x\\x1b[2J\\x0aOk 200 VPN connected 10.6.6.6\\x0daaa", 0), 0u);
        EXPECT_EQ(lines[3].substr(4096 - 23), " [line cut, 5036 bytes]");
    }
    test::ConsoleCapture console;
    MaskInConsole("dev-pw");  // not kept without the journal
    Log(reply);
    Log(hostile);
    EXPECT_EQ(console.Text(), reply + "\n" + hostile + "\n");
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

    // An id: whole, not 0, inside the signed 32-bit range; nothing clamped or cut.
    JsonTree ids(ParseJson(R"({"max":2147483647,"min":-2147483648,"whole":5.0,"over":2147483648,
        "under":-2147483649,"wrap":4294967297,"big":1e12,"huge":1e300,"part":1.9,"zero":0,
        "minusZero":-0.0,"text":"5","yes":true})"));
    ASSERT_NE(ids.get(), nullptr);
    EXPECT_TRUE(GetJsonId(ids.get(), "max", number));
    EXPECT_EQ(number, INT_MAX);
    EXPECT_TRUE(GetJsonId(ids.get(), "min", number));
    EXPECT_EQ(number, INT_MIN);
    EXPECT_TRUE(GetJsonId(ids.get(), "whole", number));
    EXPECT_EQ(number, 5);
    for (const char* name : {"over", "under", "wrap", "big", "huge", "part", "zero", "minusZero",
                             "text", "yes", "missing"}) {
        EXPECT_FALSE(GetJsonId(ids.get(), name, number)) << name;
        EXPECT_EQ(number, 5) << name;
    }

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
