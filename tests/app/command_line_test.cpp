#include "app/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/console_capture.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;

std::vector<std::wstring> Split(const std::wstring& text) {
    return SplitCommandLine(text, L"\\Windows\\agent.exe");
}

TEST(SplitCommandLineTest, FirstWordFollowsTheSimplerRule) {
    EXPECT_THAT(Split(L"\"C:\\Program Files\\a.exe\" -d"),
                ElementsAre(L"C:\\Program Files\\a.exe", L"-d"));
    // A quote inside an unquoted first word is ordinary, and a space ends it.
    EXPECT_THAT(Split(L"a\"b c\"d -g"), ElementsAre(L"a\"b", L"cd -g"));
    // Any control character ends an unquoted first word.
    EXPECT_THAT(Split(L"prog\x01rest"), ElementsAre(L"prog", L"\x01rest"));
    // An unterminated quoted first word runs to the end.
    EXPECT_THAT(Split(L"\"a b"), ElementsAre(L"a b"));
    EXPECT_THAT(Split(L"\"\" -v"), ElementsAre(L"", L"-v"));
}

TEST(SplitCommandLineTest, EmptyTextSplitsTheProgramPath) {
    EXPECT_THAT(SplitCommandLine(L"", L"\\Windows\\agent.exe"),
                ElementsAre(L"\\Windows\\agent.exe"));
    EXPECT_THAT(SplitCommandLine(L"", L""), ElementsAre(L""));
}

TEST(SplitCommandLineTest, LaterWordsHonourQuotesAndBackslashes) {
    EXPECT_THAT(Split(L"p  -p=\"a b\"\t-d"), ElementsAre(L"p", L"-p=a b", L"-d"));
    EXPECT_THAT(Split(L"p a\\\\\"b c\""), ElementsAre(L"p", L"a\\b c"));  // even run: quote opens
    EXPECT_THAT(Split(L"p a\\\\\\\"b"), ElementsAre(L"p", L"a\\\"b"));    // odd run: literal quote
    EXPECT_THAT(Split(L"p a\\b\\\\c"), ElementsAre(L"p", L"a\\b\\\\c"));  // no quote: unchanged
    // Two quotes inside a quoted stretch give one quote and close the stretch.
    EXPECT_THAT(Split(L"p \"a\"\"b c\""), ElementsAre(L"p", L"a\"b", L"c"));
    EXPECT_THAT(Split(L"p \"\""), ElementsAre(L"p", L""));
    EXPECT_THAT(Split(L"p   "), ElementsAre(L"p"));
}

TEST(ParseCommandLineTest, NothingKnownKeepsTheStartValues) {
    CommandLineOptions options = ParseCommandLine({L"agent.exe", L"-P=x", L"--p=x", L"-dd"});
    EXPECT_FALSE(options.debug || options.save || options.showGui || options.printVersion ||
                 options.printHelp);
    EXPECT_EQ(options.connectionsOverride, "NOT_SET");
    EXPECT_EQ(options.passwordOverride, "NOT_SET");
    EXPECT_EQ(options.vpnOverride, "NOT_SET");
}

TEST(ParseCommandLineTest, BooleansAreFalseOnlyForTheWordFalse) {
    EXPECT_TRUE(ParseCommandLine({L"a", L"-d"}).debug);
    EXPECT_TRUE(ParseCommandLine({L"a", L"-d="}).debug);
    EXPECT_TRUE(ParseCommandLine({L"a", L"-d=0"}).debug);
    EXPECT_TRUE(ParseCommandLine({L"a", L"-d=False"}).debug);
    EXPECT_FALSE(ParseCommandLine({L"a", L"-d=false"}).debug);
    // The last occurrence wins.
    EXPECT_FALSE(ParseCommandLine({L"a", L"-g", L"-g=false"}).showGui);
    EXPECT_TRUE(ParseCommandLine({L"a", L"-s=false", L"-s"}).save);
    // The first word is examined too.
    EXPECT_TRUE(ParseCommandLine({L"-v"}).printVersion);
}

TEST(ParseCommandLineTest, TextOptionsKeepTheirValue) {
    EXPECT_EQ(ParseCommandLine({L"a", L"-p"}).passwordOverride, "");
    EXPECT_EQ(ParseCommandLine({L"a", L"-p=a=b"}).passwordOverride, "a=b");
    EXPECT_EQ(ParseCommandLine({L"a", L"-c=false"}).connectionsOverride, "false");
    EXPECT_EQ(ParseCommandLine({L"a", L"-n=0"}).vpnOverride, "0");
    // Values are narrowed to the low 8 bits of each character.
    EXPECT_EQ(ParseCommandLine({L"a", L"-p=\x0141\x00e9"}).passwordOverride, "\x41\xe9");
}

TEST(PrintUsageTest, ProgramFileNameIsCutAfterTheLastSeparator) {
    EXPECT_EQ(ProgramFileName(L"\\Windows\\lumivo.exe"), "lumivo.exe");
    EXPECT_EQ(ProgramFileName(L"/usr/bin/lumivo-runtime"), "lumivo-runtime");
    EXPECT_EQ(ProgramFileName(L"a/b\\c"), "c");
    EXPECT_EQ(ProgramFileName(L"plain"), "plain");
    EXPECT_EQ(ProgramFileName(L"dir/"), "");
    // Only the first 260 characters of the path count.
    EXPECT_EQ(ProgramFileName(std::wstring(255, L'x') + L"/abcdefgh"), "abcd");
}

}  // namespace
}  // namespace lumivo
