#pragma once
// Files by device path on POSIX: "\BOOT\env.json" is the file
// BOOT/env.json below the device root, a host folder that stands for the
// device's root. The root is $LUMIVO_DEVICE_ROOT, or the build's default.

#include <string>

#include "platform/file_port.h"

namespace lumivo {

class PosixFiles : public FilePort {
  public:
    explicit PosixFiles(std::string deviceRoot);
    // $LUMIVO_DEVICE_ROOT when set and not empty, else the build-time default.
    static std::string DeviceRootFromEnvironment();

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
    std::string root_;
};

}  // namespace lumivo
