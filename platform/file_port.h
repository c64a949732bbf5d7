#pragma once
// Files by the device's own paths ("\BOOT\env.json"), through C stdio.

#include <cstdio>
#include <string>

namespace lumivo {

class FilePort {
public:
    virtual ~FilePort() = default;
    // fopen of the file that a device path names; null when it cannot be opened.
    // A file created for writing is readable and writable by its owner only.
    virtual std::FILE* Open(const std::string& devicePath, const char* mode) = 0;
    // Flushes an open file's buffers down to the medium (fflush, then fsync).
    virtual bool FlushToMedium(std::FILE* file) = 0;
    // Replaces the file at `to` by the one at `from` in one step, durably.
    virtual bool Replace(const std::string& from, const std::string& to) = 0;
    virtual bool Remove(const std::string& devicePath) = 0;
};

}  // namespace lumivo
