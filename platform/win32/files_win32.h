#pragma once
// Files by the device's own paths on Windows: "\BOOT\env.json" is the root
// folder of the current drive, as on the device.

#include "platform/file_port.h"

namespace lumivo {

class Win32Files : public FilePort {
  public:
    std::FILE* Open(const std::string& devicePath, const char* mode) override;
    std::FILE* CreateTemporary(const std::string& besidePath, std::string& createdPath) override;
    bool FlushToMedium(std::FILE* file) override;
    ReplaceOutcome Replace(const std::string& from, const std::string& to) override;
    bool Move(const std::string& from, const std::string& to) override;
    bool Exists(const std::string& devicePath) override;
    bool Remove(const std::string& devicePath) override;
};

}  // namespace lumivo
