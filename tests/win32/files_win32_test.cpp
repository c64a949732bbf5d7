// The Win32 file adapter under Wine: device paths are paths of the current
// drive's root, as on the device. The tests work in C:\BOOT of the build's
// own Wine prefix (ctest keeps them apart from the agent runs there).

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/win32/files_win32.h"
#include "platform/win32/windows_api.h"

namespace lumivo {
namespace {

class Win32FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(::SetCurrentDirectoryW(L"C:\\"));
        suffix_ = std::to_string(::GetCurrentProcessId());
        path = "\\BOOT\\contract-" + suffix_ + ".json";
        temporary = path + ".tmp";
    }
    void TearDown() override {
        files.Remove(path);
        files.Remove(temporary);
    }

    bool Write(const std::string& devicePath, const std::string& text) {
        std::FILE* file = files.Open(devicePath, "w");
        if (file == nullptr) return false;
        bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        ok = files.FlushToMedium(file) && ok;
        return std::fclose(file) == 0 && ok;
    }
    std::string Read(const std::string& devicePath, const char* mode = "r") {
        std::FILE* file = files.Open(devicePath, mode);
        if (file == nullptr) return "<none>";
        std::string text;
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
            text.push_back(static_cast<char>(c));
        std::fclose(file);
        return text;
    }

    Win32Files files;
    std::string path;
    std::string temporary;

  private:
    std::string suffix_;
};

TEST_F(Win32FilesTest, MissingFileDoesNotOpenForReading) {
    EXPECT_EQ(files.Open(path, "r"), nullptr);
}

TEST_F(Win32FilesTest, WrittenTextReadsBackUnderTheSameDevicePath) {
    ASSERT_TRUE(Write(path, "{\n\t\"id\":\t7\n}"));
    EXPECT_EQ(Read(path), "{\n\t\"id\":\t7\n}");
    // Text mode, as the C library on the device: line ends are CR LF on the medium.
    EXPECT_EQ(Read(path, "rb"), "{\r\n\t\"id\":\t7\r\n}");
    ASSERT_TRUE(Write(path, "{}"));
    EXPECT_EQ(Read(path), "{}");
}

TEST_F(Win32FilesTest, ReplaceSwapsInTheNewFileOrCreatesTheTarget) {
    ASSERT_TRUE(Write(temporary, "first"));
    EXPECT_EQ(files.Replace(temporary, path), ReplaceOutcome::replaced);
    EXPECT_EQ(Read(path), "first");

    ASSERT_TRUE(Write(temporary, "new"));
    EXPECT_EQ(files.Replace(temporary, path), ReplaceOutcome::replaced);
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(Read(temporary), "<none>");
}

TEST_F(Win32FilesTest, FailedReplaceLeavesTheOldFileIntact) {
    ASSERT_TRUE(Write(path, "old"));
    EXPECT_EQ(files.Replace("\\BOOT\\missing-" + std::to_string(::GetCurrentProcessId()), path),
              ReplaceOutcome::failed);
    EXPECT_EQ(Read(path), "old");
}

TEST_F(Win32FilesTest, TemporaryFilesAreNewAndMoveNeverReplaces) {
    std::string first;
    std::string second;
    std::FILE* a = files.CreateTemporary(path, first);
    std::FILE* b = files.CreateTemporary(path, second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::fputs("a\n", a);
    std::fclose(a);
    std::fclose(b);
    EXPECT_NE(first, second);
    EXPECT_EQ(Read(first, "rb"), "a\r\n");  // text mode, as the other writes

    ASSERT_TRUE(Write(path, "old"));
    EXPECT_FALSE(files.Move(first, path));
    EXPECT_EQ(Read(path), "old");
    EXPECT_TRUE(files.Remove(path));
    EXPECT_TRUE(files.Move(first, path));
    EXPECT_FALSE(files.Exists(first));
    EXPECT_TRUE(files.Exists(path));
    files.Remove(second);
}

TEST_F(Win32FilesTest, RemoveDeletesOnlyAnExistingFile) {
    ASSERT_TRUE(Write(path, "x"));
    EXPECT_TRUE(files.Remove(path));
    EXPECT_EQ(Read(path), "<none>");
    EXPECT_FALSE(files.Remove(path));
}

}  // namespace
}  // namespace lumivo
