// POSIX-only behaviour of the file adapter: where device paths land, file
// rights, and the settings file written through it by the core.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "base/agent.h"
#include "base/constants.h"
#include "base/settings_file.h"
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
    EXPECT_FALSE(files.Replace("\\..\\a", "\\BOOT\\env.json"));
}

TEST(PosixFiles, DeviceRootComesFromTheEnvironmentOrTheBuild) {
    setenv("LUMIVO_DEVICE_ROOT", "/var/lib/lumivo-device", 1);
    EXPECT_EQ(PosixFiles::DeviceRootFromEnvironment(), "/var/lib/lumivo-device");
    setenv("LUMIVO_DEVICE_ROOT", "", 1);
    EXPECT_FALSE(PosixFiles::DeviceRootFromEnvironment().empty());
    unsetenv("LUMIVO_DEVICE_ROOT");
    EXPECT_FALSE(PosixFiles::DeviceRootFromEnvironment().empty());
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
    EXPECT_FALSE(Exists(path + ".tmp"));

    // A save that cannot write keeps the old file whole (a folder in the
    // temporary file's place stops even a privileged writer).
    ASSERT_EQ(mkdir((path + ".tmp").c_str(), 0700), 0);
    agent.settings.id = 43;
    SaveSettings(agent);
    EXPECT_NE(Content(path).find("\"id\":\t42"), std::string::npos);
}

}  // namespace
}  // namespace lumivo
