#pragma once
// Files by device path on POSIX: "\BOOT\env.json" is the file
// BOOT/env.json below the device root, a host folder that stands for the
// device's root. The root is $LUMIVO_DEVICE_ROOT; else, for an installed
// program (in a folder named "bin"), the service's state folder
// /var/lib/lumivo-runtime; else the build's default.
//
// A settings folder or file that another user owns or can write is refused
// (left as it is, one line on standard error): it could hold someone else's
// identity, or be changed under the agent.

#include <string>

#include "platform/file_port.h"

namespace lumivo {

class PosixFiles : public FilePort {
  public:
    explicit PosixFiles(std::string deviceRoot);
    // $LUMIVO_DEVICE_ROOT when set and not empty, else DeviceRootFor(this program).
    static std::string DeviceRootFromEnvironment();
    // The built-in device root of the program at `programPath`: the service's
    // state folder when it is installed, else the build's default (a relative
    // one taken from the program's folder).
    static std::string DeviceRootFor(const std::string& programPath);
    // Whether the program at `programPath` is an installed one: its folder is
    // named "bin".
    static bool IsInstalledProgram(const std::string& programPath);
    // The path of this program's own file.
    static std::string ProgramPath();

    // The host path of a device path; empty when the path would leave the
    // device root (a ".." step).
    std::string HostPath(const std::string& devicePath) const;

    std::FILE* Open(const std::string& devicePath, const char* mode) override;
    std::FILE* CreateTemporary(const std::string& besidePath, std::string& createdPath) override;
    bool FlushToMedium(std::FILE* file) override;
    ReplaceOutcome::Value Replace(const std::string& from, const std::string& to) override;
    bool Move(const std::string& from, const std::string& to) override;
    bool Exists(const std::string& devicePath) override;
    bool Remove(const std::string& devicePath) override;

  private:
    // False, with one line (once until it changes), when the file at the host
    // path `path` or its folder belongs to another user or others can write it.
    bool Trusted(const std::string& path);

    std::string root_;
    std::string lastRefusal_;
};

}  // namespace lumivo
