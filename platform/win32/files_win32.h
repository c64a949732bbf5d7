#pragma once
// Files by the device's own paths on Windows: "\BOOT\env.json" is the root
// folder of the current drive, as on the device.

#include "platform/file_port.h"

namespace lumivo {

class Win32Files : public FilePort {
  public:
    std::FILE* Open(const std::string& devicePath, const char* mode);
    std::FILE* CreateTemporary(const std::string& besidePath, std::string& createdPath);
    bool FlushToMedium(std::FILE* file);
    ReplaceOutcome::Value Replace(const std::string& from, const std::string& to);
    bool Move(const std::string& from, const std::string& to);
    bool Exists(const std::string& devicePath);
    bool Remove(const std::string& devicePath);
};

}  // namespace lumivo
