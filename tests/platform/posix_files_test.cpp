// POSIX-only behaviour of the file adapter: where device paths land, file
// rights, and the settings file written through it by the core.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "app/sign_in.h"
#include "base/agent.h"
#include "base/constants.h"
#include "base/settings_file.h"
#include "fakes/console_capture.h"
#include "fakes/fake_internet.h"
#include "fakes/fake_system.h"
#include "platform/posix/files_posix.h"
#include "temp_folder.h"

namespace lumivo {
namespace {

unsigned Rights(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 0777;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool IsRegular(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(PosixFiles, DevicePathsMapBelowTheRootAndNeverLeaveIt) {
    PosixFiles files("/srv/device/");
    EXPECT_EQ(files.HostPath("\\BOOT\\env.json"), "/srv/device/BOOT/env.json");
    EXPECT_EQ(files.HostPath("\\BOOT\\env.json.tmp"), "/srv/device/BOOT/env.json.tmp");
    EXPECT_EQ(files.HostPath("BOOT/./env.json"), "/srv/device/BOOT/env.json");
    EXPECT_EQ(files.HostPath("\\BOOT\\..\\..\\etc\\passwd"), "");
    EXPECT_EQ(files.HostPath("\\"), "");
    EXPECT_EQ(files.Open("\\..\\secret", "w"), nullptr);
    EXPECT_EQ(files.Replace("\\..\\a", "\\BOOT\\env.json"), ReplaceOutcome::failed);
}

TEST(PosixFiles, DeviceRootComesFromTheEnvironmentOrTheBuild) {
    setenv("LUMIVO_DEVICE_ROOT", "/var/lib/lumivo-device", 1);
    EXPECT_EQ(PosixFiles::DeviceRootFromEnvironment(), "/var/lib/lumivo-device");
    setenv("LUMIVO_DEVICE_ROOT", "", 1);
    EXPECT_FALSE(PosixFiles::DeviceRootFromEnvironment().empty());
    unsetenv("LUMIVO_DEVICE_ROOT");
    EXPECT_FALSE(PosixFiles::DeviceRootFromEnvironment().empty());
}

TEST(PosixFiles, AnInstalledProgramUsesTheServicesFolderABuiltOneItsBuildsFolder) {
    EXPECT_EQ(PosixFiles::DeviceRootFor("/usr/bin/lumivo-runtime"), "/var/lib/lumivo-runtime");
    EXPECT_EQ(PosixFiles::DeviceRootFor("/opt/lumivo/bin/lumivo-runtime"), "/var/lib/lumivo-runtime");
    EXPECT_FALSE(PosixFiles::IsInstalledProgram("/srv/cabin/lumivo-runtime"));
    // The build's default is relative to the program's folder.
    const std::string built = PosixFiles::DeviceRootFor("/x/build/platform/posix/lumivo-runtime");
    EXPECT_EQ(built.rfind("/x/build/platform/posix/", 0), 0u) << built;
    EXPECT_EQ(built.substr(built.size() - 7), "/device");
}

// A settings folder or file that another user owns or can write is not read,
// not written and not changed.
TEST(PosixFiles, FoldersAndFilesOthersCanWriteAreRefusedAndLeftAsTheyAre) {
    TempFolder root;
    const std::string boot = root.path() + "/BOOT";
    const std::string env = boot + "/env.json";
    const std::string theirs = R"({"id":66,"password":"theirs","connectionsEnabled":true})";
    mkdir(boot.c_str(), 0700);
    Write(env, theirs);
    PosixFiles files(root.path());
    auto refused = [&](const char* what) {
        std::string created;
        EXPECT_EQ(files.Open("\\BOOT\\env.json", "r"), nullptr) << what;
        EXPECT_EQ(files.CreateTemporary("\\BOOT\\env.json", created), nullptr) << what;
        EXPECT_EQ(files.Open("\\BOOT\\env.json", "w"), nullptr) << what;
        EXPECT_EQ(Content(env), theirs) << what;
    };
    chmod(boot.c_str(), 0777);
    refused("folder others can write");
    EXPECT_EQ(Rights(boot), 0777u);
    chmod(boot.c_str(), 0700);
    chmod(env.c_str(), 0666);
    refused("file others can write");
    EXPECT_EQ(Rights(env), 0666u);
    chmod(env.c_str(), 0600);
    if (geteuid() == 0 && chown(env.c_str(), 65534, 65534) == 0) {
        refused("file of another user");
        ASSERT_EQ(chown(env.c_str(), 0, 0), 0);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(boot),
                            std::filesystem::directory_iterator()), 1);
    std::FILE* file = files.Open("\\BOOT\\env.json", "r");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) std::fclose(file);
}

TEST(PosixFiles, FilesOpenedForWritingAreTheOwnersOnlyAndBootIsCreated) {
    TempFolder root;
    PosixFiles files(root.path());
    mode_t old = umask(0);  // even a permissive umask must not widen the file
    std::FILE* file = files.Open("\\BOOT\\env.json", "w");
    umask(old);
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(Rights(root.path() + "/BOOT/env.json"), 0600u);

    // A left-over file with wider rights is narrowed when written again.
    chmod((root.path() + "/BOOT/env.json").c_str(), 0644);
    file = files.Open("\\BOOT\\env.json", "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(Rights(root.path() + "/BOOT/env.json"), 0600u);
}

TEST(PosixFiles, ReadingDoesNotCreateAnything) {
    TempFolder root;
    PosixFiles files(root.path());
    EXPECT_EQ(files.Open("\\BOOT\\env.json", "r"), nullptr);
    EXPECT_FALSE(Exists(root.path() + "/BOOT"));
}

TEST(PosixFiles, CoreSaveLeavesOneWholePrivateSettingsFile) {
    TempFolder root;
    PosixFiles files(root.path());
    Agent agent;
    agent.ports.files = &files;
    agent.settings.id = 42;
    agent.settings.password = "s3cret";
    agent.settings.vpnEnabled = true;
    EXPECT_TRUE(SaveSettings(agent));

    const std::string path = root.path() + "/BOOT/env.json";
    EXPECT_EQ(Content(path),
              "{\n\t\"id\":\t42,\n\t\"password\":\t\"s3cret\",\n\t\"connectionsEnabled\":\tfalse,\n"
              "\t\"connectionsPassword\":\t\"\",\n\t\"vpnEnabled\":\ttrue\n}");
    EXPECT_EQ(Rights(path), 0600u);

    // A save that cannot write keeps the old file whole and leaves nothing
    // behind (a file size limit stops even a privileged writer).
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 16;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    agent.settings.id = 43;
    SaveSettings(agent);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_NE(Content(path).find("\"id\":\t42"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path() + "/BOOT"),
                            std::filesystem::directory_iterator()),
              1);
}

// Links planted in the save's way are replaced, never written through.
TEST(PosixFiles, SaveNeverWritesThroughALink) {
    TempFolder root;
    PosixFiles files(root.path());
    const std::string boot = root.path() + "/BOOT";
    const std::string victim = root.path() + "/victim";
    ASSERT_EQ(mkdir(boot.c_str(), 0700), 0);
    Write(victim, "victim");
    chmod(victim.c_str(), 0644);
    ASSERT_EQ(symlink(victim.c_str(), (boot + "/env.json.tmp").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), (boot + "/env.json").c_str()), 0);

    Agent agent;
    agent.ports.files = &files;
    agent.settings.id = 42;
    agent.settings.password = "s3cret";
    EXPECT_TRUE(SaveSettings(agent));

    EXPECT_EQ(Content(victim), "victim");
    EXPECT_EQ(Rights(victim), 0644u);
    EXPECT_TRUE(IsRegular(boot + "/env.json"));
    EXPECT_NE(Content(boot + "/env.json").find("s3cret"), std::string::npos);
    EXPECT_EQ(Rights(boot + "/env.json"), 0600u);
    // Opening for writing does not follow a link either.
    EXPECT_EQ(files.Open("\\BOOT\\env.json.tmp", "w"), nullptr);
    EXPECT_EQ(Content(victim), "victim");
}

// A FIFO (whose open would wait for a writer), a link to an endless device
// and a folder are not readable; at sign-in each is put aside as the
// unusable file and a new enrolment saved in its place.
TEST(PosixFiles, OnlyRegularFilesAreReadAndOthersAreKeptAside) {
    alarm(30);  // a hang fails the test rather than the whole run
    for (int kind = 0; kind < 3; ++kind) {
        TempFolder root;
        PosixFiles files(root.path());
        const std::string boot = root.path() + "/BOOT";
        const std::string path = boot + "/env.json";
        ASSERT_EQ(mkdir(boot.c_str(), 0700), 0);
        int made = kind == 0   ? mkfifo(path.c_str(), 0600)
                   : kind == 1 ? symlink("/dev/zero", path.c_str())
                               : mkdir(path.c_str(), 0700);
        ASSERT_EQ(made, 0);
        EXPECT_EQ(files.Open("\\BOOT\\env.json", "r"), nullptr) << kind;

        FakeSystem system;
        FakeInternet internet;
        Agent agent;
        agent.ports.files = &files;
        agent.ports.system = &system;
        agent.ports.internet = &internet;
        internet.Script(200, R"({"id":9,"password":"issued","token":"t"})");
        test::ConsoleCapture console;
        EXPECT_TRUE(LoadSettingsAndSignIn(agent, notSet, notSet, notSet));
        EXPECT_EQ(console.Lines().at(0), "Some error occured opening \\BOOT\\env.json");
        EXPECT_TRUE(IsRegular(path)) << kind;
        EXPECT_NE(Content(path).find("issued"), std::string::npos);
        EXPECT_TRUE(Exists(path + ".bad")) << kind;
    }
    alarm(0);
}

// The folder is writable but cannot be opened for its fsync (no read right;
// root gives the run to another user, as rights do not hold for root).
TEST(PosixFiles, AFolderThatCannotBeFlushedIsToldApartFromAFailedReplace) {
    TempFolder root;
    PosixFiles files(root.path());
    const std::string boot = root.path() + "/BOOT";
    ASSERT_EQ(mkdir(boot.c_str(), 0700), 0);
    Write(boot + "/env.json.new", "new");
    ASSERT_EQ(chmod(root.path().c_str(), 0711), 0);
    const uid_t nobody = 65534;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(boot.c_str(), nobody, nobody), 0);
    }
    ASSERT_EQ(chmod(boot.c_str(), 0300), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(100);
        _exit(static_cast<int>(files.Replace("\\BOOT\\env.json.new", "\\BOOT\\env.json")));
    }
    int status = 0;
    waitpid(child, &status, 0);
    chmod(boot.c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(ReplaceOutcome::notDurable));
    EXPECT_EQ(Content(boot + "/env.json"), "new");
}

}  // namespace
}  // namespace lumivo
