#pragma once
// What every FilePort must do. Each build instantiates the suite with its own
// implementations; an implementation comes as an `Under` type that holds it:
//   FilePort& Files();
//   std::string Path(const std::string& name);  // a device path of the test's own

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/file_port.h"

namespace lumivo {

template <typename Under>
class FilesContract : public ::testing::Test {
  protected:
    Under under;
    const std::string file = under.Path("env.json");
    const std::string temporary = under.Path("env.json.tmp");
    const std::string missing = under.Path("missing.tmp");

    FilePort& files() { return under.Files(); }

    bool Write(const std::string& path, const std::string& text) {
        std::FILE* opened = files().Open(path, "w");
        if (opened == nullptr) return false;
        bool ok = std::fwrite(text.data(), 1, text.size(), opened) == text.size();
        ok = files().FlushToMedium(opened) && ok;
        return std::fclose(opened) == 0 && ok;
    }
    // The file's content, or "<none>" when it cannot be opened.
    std::string Read(const std::string& path, const char* mode = "r") {
        std::FILE* opened = files().Open(path, mode);
        if (opened == nullptr) return "<none>";
        std::string text;
        for (int c = std::fgetc(opened); c != EOF; c = std::fgetc(opened))
            text.push_back(static_cast<char>(c));
        std::fclose(opened);
        return text;
    }
};

TYPED_TEST_SUITE_P(FilesContract);

TYPED_TEST_P(FilesContract, MissingFileDoesNotOpenForReading) {
    EXPECT_EQ(this->files().Open(this->file, "r"), nullptr);
}

TYPED_TEST_P(FilesContract, WrittenTextReadsBackUnderTheSameDevicePath) {
    ASSERT_TRUE(this->Write(this->file, "{\n\t\"id\":\t7\n}"));
    EXPECT_EQ(this->Read(this->file), "{\n\t\"id\":\t7\n}");
    // Writing empties the file first.
    ASSERT_TRUE(this->Write(this->file, "{}"));
    EXPECT_EQ(this->Read(this->file), "{}");
}

TYPED_TEST_P(FilesContract, ReplaceSwapsInTheNewFileAndRemovesTheTemporaryOne) {
    ASSERT_TRUE(this->Write(this->file, "old"));
    ASSERT_TRUE(this->Write(this->temporary, "new"));
    EXPECT_EQ(this->files().Replace(this->temporary, this->file), ReplaceOutcome::replaced);
    EXPECT_EQ(this->Read(this->file), "new");
    EXPECT_EQ(this->Read(this->temporary), "<none>");
}

TYPED_TEST_P(FilesContract, ReplaceCreatesTheTargetWhenItIsMissing) {
    ASSERT_TRUE(this->Write(this->temporary, "first"));
    EXPECT_EQ(this->files().Replace(this->temporary, this->file), ReplaceOutcome::replaced);
    EXPECT_EQ(this->Read(this->file), "first");
}

TYPED_TEST_P(FilesContract, FailedReplaceLeavesTheOldFileIntact) {
    ASSERT_TRUE(this->Write(this->file, "old"));
    EXPECT_EQ(this->files().Replace(this->missing, this->file), ReplaceOutcome::failed);
    EXPECT_EQ(this->Read(this->file), "old");
}

TYPED_TEST_P(FilesContract, MoveRenamesButNeverReplaces) {
    const std::string aside = this->under.Path("env.json.old");
    ASSERT_TRUE(this->Write(this->file, "old"));
    ASSERT_TRUE(this->Write(this->temporary, "new"));
    EXPECT_FALSE(this->files().Move(this->temporary, this->file));
    EXPECT_EQ(this->Read(this->file), "old");
    EXPECT_TRUE(this->files().Move(this->file, aside));
    EXPECT_FALSE(this->files().Exists(this->file));
    EXPECT_EQ(this->Read(aside), "old");
    this->files().Remove(aside);
    this->files().Remove(this->temporary);
}

TYPED_TEST_P(FilesContract, EachTemporaryFileIsNewAndBesideItsFile) {
    std::string first;
    std::string second;
    std::FILE* a = this->files().CreateTemporary(this->file, first);
    std::FILE* b = this->files().CreateTemporary(this->file, second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::fputs("a", a);
    std::fclose(a);
    std::fclose(b);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(this->file, 0), 0u) << first;
    EXPECT_EQ(this->Read(first), "a");
    EXPECT_EQ(this->Read(second), "");
    this->files().Remove(first);
    this->files().Remove(second);
}

TYPED_TEST_P(FilesContract, RemoveDeletesOnlyAnExistingFile) {
    ASSERT_TRUE(this->Write(this->file, "x"));
    EXPECT_TRUE(this->files().Remove(this->file));
    EXPECT_EQ(this->Read(this->file), "<none>");
    EXPECT_FALSE(this->files().Remove(this->file));
}

REGISTER_TYPED_TEST_SUITE_P(FilesContract, MissingFileDoesNotOpenForReading,
                            WrittenTextReadsBackUnderTheSameDevicePath,
                            ReplaceSwapsInTheNewFileAndRemovesTheTemporaryOne,
                            ReplaceCreatesTheTargetWhenItIsMissing,
                            FailedReplaceLeavesTheOldFileIntact, MoveRenamesButNeverReplaces,
                            EachTemporaryFileIsNewAndBesideItsFile, RemoveDeletesOnlyAnExistingFile);

}  // namespace lumivo
