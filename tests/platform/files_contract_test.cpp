// What every FilePort must do, run against the fake and the POSIX adapter.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "fakes/fake_files.h"
#include "platform/posix/files_posix.h"
#include "temp_folder.h"

namespace lumivo {
namespace {

// Creates one implementation over a fresh, empty device root.
template <typename Files>
struct FilesUnderTest;

template <>
struct FilesUnderTest<FakeFiles> {
    FakeFiles files;
};

template <>
struct FilesUnderTest<PosixFiles> {
    TempFolder root;
    PosixFiles files{root.path()};
};

template <typename Files>
class FilesContract : public ::testing::Test {
  protected:
    FilesUnderTest<Files> under;
    FilePort& files() { return under.files; }

    bool Write(const std::string& path, const std::string& text) {
        std::FILE* file = files().Open(path, "w");
        if (file == nullptr) return false;
        bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        ok = files().FlushToMedium(file) && ok;
        return std::fclose(file) == 0 && ok;
    }
    // The file's content, or "<none>" when it cannot be opened.
    std::string Read(const std::string& path) {
        std::FILE* file = files().Open(path, "r");
        if (file == nullptr) return "<none>";
        std::string text;
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
            text.push_back(static_cast<char>(c));
        std::fclose(file);
        return text;
    }
};

using Implementations = ::testing::Types<FakeFiles, PosixFiles>;
TYPED_TEST_SUITE(FilesContract, Implementations);

TYPED_TEST(FilesContract, MissingFileDoesNotOpenForReading) {
    EXPECT_EQ(this->files().Open("\\BOOT\\env.json", "r"), nullptr);
}

TYPED_TEST(FilesContract, WrittenTextReadsBackUnderTheSameDevicePath) {
    ASSERT_TRUE(this->Write("\\BOOT\\env.json", "{\n\t\"id\":\t7\n}"));
    EXPECT_EQ(this->Read("\\BOOT\\env.json"), "{\n\t\"id\":\t7\n}");
    // Writing empties the file first.
    ASSERT_TRUE(this->Write("\\BOOT\\env.json", "{}"));
    EXPECT_EQ(this->Read("\\BOOT\\env.json"), "{}");
}

TYPED_TEST(FilesContract, ReplaceSwapsInTheNewFileAndRemovesTheTemporaryOne) {
    ASSERT_TRUE(this->Write("\\BOOT\\env.json", "old"));
    ASSERT_TRUE(this->Write("\\BOOT\\env.json.tmp", "new"));
    EXPECT_EQ(this->files().Replace("\\BOOT\\env.json.tmp", "\\BOOT\\env.json"),
              ReplaceOutcome::replaced);
    EXPECT_EQ(this->Read("\\BOOT\\env.json"), "new");
    EXPECT_EQ(this->Read("\\BOOT\\env.json.tmp"), "<none>");
}

TYPED_TEST(FilesContract, ReplaceCreatesTheTargetWhenItIsMissing) {
    ASSERT_TRUE(this->Write("\\BOOT\\env.json.tmp", "first"));
    EXPECT_EQ(this->files().Replace("\\BOOT\\env.json.tmp", "\\BOOT\\env.json"),
              ReplaceOutcome::replaced);
    EXPECT_EQ(this->Read("\\BOOT\\env.json"), "first");
}

TYPED_TEST(FilesContract, FailedReplaceLeavesTheOldFileIntact) {
    ASSERT_TRUE(this->Write("\\BOOT\\env.json", "old"));
    EXPECT_EQ(this->files().Replace("\\BOOT\\missing.tmp", "\\BOOT\\env.json"),
              ReplaceOutcome::failed);
    EXPECT_EQ(this->Read("\\BOOT\\env.json"), "old");
}

TYPED_TEST(FilesContract, MoveRenamesButNeverReplaces) {
    ASSERT_TRUE(this->Write("\\BOOT\\env.json", "old"));
    ASSERT_TRUE(this->Write("\\BOOT\\env.json.new", "new"));
    EXPECT_FALSE(this->files().Move("\\BOOT\\env.json.new", "\\BOOT\\env.json"));
    EXPECT_EQ(this->Read("\\BOOT\\env.json"), "old");
    EXPECT_TRUE(this->files().Move("\\BOOT\\env.json", "\\BOOT\\env.json.old"));
    EXPECT_FALSE(this->files().Exists("\\BOOT\\env.json"));
    EXPECT_TRUE(this->files().Exists("\\BOOT\\env.json.old"));
    EXPECT_EQ(this->Read("\\BOOT\\env.json.old"), "old");
}

TYPED_TEST(FilesContract, EachTemporaryFileIsNewAndBesideItsFile) {
    std::string first;
    std::string second;
    std::FILE* a = this->files().CreateTemporary("\\BOOT\\env.json", first);
    std::FILE* b = this->files().CreateTemporary("\\BOOT\\env.json", second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::fputs("a", a);
    std::fclose(a);
    std::fclose(b);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind("\\BOOT\\env.json", 0), 0u) << first;
    EXPECT_EQ(this->Read(first), "a");
    EXPECT_EQ(this->Read(second), "");
}

TYPED_TEST(FilesContract, RemoveDeletesOnlyAnExistingFile) {
    ASSERT_TRUE(this->Write("\\BOOT\\env.json", "x"));
    EXPECT_TRUE(this->files().Remove("\\BOOT\\env.json"));
    EXPECT_EQ(this->Read("\\BOOT\\env.json"), "<none>");
    EXPECT_FALSE(this->files().Remove("\\BOOT\\env.json"));
}

// The fake's own switches, which the core's tests rely on.
TEST(FakeFilesSwitches, EachSwitchFailsItsOperation) {
    FakeFiles files;
    files.SetContent("\\BOOT\\env.json", "old");
    files.failOpenForWrite = true;
    EXPECT_EQ(files.Open("\\BOOT\\env.json.tmp", "w"), nullptr);
    std::FILE* reading = files.Open("\\BOOT\\env.json", "r");
    ASSERT_NE(reading, nullptr);
    std::fclose(reading);

    files.failOpenForWrite = false;
    files.failFlush = true;
    std::FILE* writing = files.Open("\\BOOT\\env.json.tmp", "w");
    ASSERT_NE(writing, nullptr);
    EXPECT_FALSE(files.FlushToMedium(writing));
    std::fclose(writing);

    files.failReplace = true;
    EXPECT_EQ(files.Replace("\\BOOT\\env.json.tmp", "\\BOOT\\env.json"), ReplaceOutcome::failed);
    EXPECT_EQ(files.Content("\\BOOT\\env.json"), "old");
    ASSERT_EQ(files.replaced.size(), 1u);
    EXPECT_EQ(files.replaced[0].second, "\\BOOT\\env.json");
}

}  // namespace
}  // namespace lumivo
