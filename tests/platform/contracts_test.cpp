// The file and system contracts over the fakes and the POSIX adapters, and
// what only these two keep: message boxes that answer without a person, and
// the fakes' own switches, which the core's tests rely on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_files.h"
#include "fakes/fake_system.h"
#include "files_contract.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/system_posix.h"
#include "system_contract.h"
#include "temp_folder.h"

namespace lumivo {
namespace {

// ---- Files: each over a fresh, empty device root ----

struct FakeFilesUnder {
    FakeFiles files;
    FilePort& Files() { return files; }
    std::string Path(const std::string& name) { return "\\BOOT\\" + name; }
};

struct PosixFilesUnder {
    TempFolder root;
    PosixFiles files{root.path()};
    FilePort& Files() { return files; }
    std::string Path(const std::string& name) { return "\\BOOT\\" + name; }
};

using HostFiles = ::testing::Types<FakeFilesUnder, PosixFilesUnder>;
INSTANTIATE_TYPED_TEST_SUITE_P(Host, FilesContract, HostFiles);

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

// ---- System ----

struct FakeSystemUnder {
    FakeSystem system;
    SystemPort& System() { return system; }
    std::wstring Name(const wchar_t* base) { return base; }
    // The fake has no clock: a test says when the live timers are due.
    void LetTimersComeDue() { system.PostTickOfEveryTimer(); }
};

struct PosixSystemUnder {
    RuntimeFolder runtime;  // mutexes of this test's own
    PosixSystem system{0, nullptr};
    SystemPort& System() { return system; }
    std::wstring Name(const wchar_t* base) { return base; }
    // The POSIX loop waits on the real clock; the tests' timers are short.
    void LetTimersComeDue() {}
};

using HostSystems = ::testing::Types<FakeSystemUnder, PosixSystemUnder>;
INSTANTIATE_TYPED_TEST_SUITE_P(Host, SystemContract, HostSystems);

template <typename Under>
class HostMessageBoxes : public SystemContract<Under> {};
TYPED_TEST_SUITE(HostMessageBoxes, HostSystems);

TYPED_TEST(HostMessageBoxes, AnswerWithTheirDefaultButton) {
    SystemPort& system = this->system();
    EXPECT_EQ(system.MessageBox(nullptr, L"Error creating Dialog", L"Lumivo Runtime", MB_OK), IDOK);
    EXPECT_EQ(
        system.MessageBox(nullptr, L"Quit?", L"Lumivo Runtime", MB_YESNO | MB_ICONEXCLAMATION),
        IDNO);
}

TEST(FakeSystemScripting, QueueRunsDryIntoQuitAndIdleCanFeedIt) {
    FakeSystem system;
    int idles = 0;
    system.onIdle = [&] {
        if (++idles == 1) system.PostMessage(nullptr, 0x400);
    };
    Message message;
    ASSERT_TRUE(system.GetMessage(message));
    EXPECT_EQ(message.message, 0x400u);
    EXPECT_FALSE(system.GetMessage(message));
    EXPECT_TRUE(system.ranDry);
}

TEST(FakeSystemScripting, MutexSwitchesAndScriptedAnswers) {
    FakeSystem system;
    system.mutexExists = true;
    EXPECT_NE(system.CreateMutex(L"m", true), nullptr);
    EXPECT_EQ(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.mutexFails = true;
    EXPECT_EQ(system.CreateMutex(L"m", true), nullptr);

    system.boxAnswers = {IDYES};
    EXPECT_EQ(system.MessageBox(nullptr, L"q", L"c", MB_YESNO), IDYES);
    EXPECT_EQ(system.MessageBox(nullptr, L"q", L"c", MB_YESNO), IDNO);

    WindowHandle window = system.AddWindow(L"Lumivo Runtime");
    system.onSend = [](const FakeSystem::Sent& sent) -> std::intptr_t { return sent.message + 1; };
    EXPECT_EQ(system.SendMessage(system.FindWindow(L"Lumivo Runtime"), 32779, 0, 0), 32780);
    ASSERT_EQ(system.sent.size(), 1u);
    EXPECT_EQ(system.sent[0].window, window);

    std::vector<unsigned> seen;
    system.onSleep = [&](unsigned ms) { seen.push_back(ms); };
    system.Sleep(30000);
    EXPECT_EQ(system.sleeps, std::vector<unsigned>{30000});
    EXPECT_EQ(seen, std::vector<unsigned>{30000});
}

}  // namespace
}  // namespace lumivo
