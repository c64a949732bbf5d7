#pragma once
// Files by the device's own paths on Windows: "\BOOT\env.json" is the root
// folder of the current drive, as on the device.

#include "platform/file_port.h"

namespace lumivo {

class Win32Files : public FilePort {
  public:
    std::FILE* Open(const std::string& devicePath, const char* mode) override;
    bool FlushToMedium(std::FILE* file) override;
    bool Replace(const std::string& from, const std::string& to) override;
    bool Remove(const std::string& devicePath) override;
};

}  // namespace lumivo
