#pragma once
// Files by the device's own paths ("\BOOT\env.json"), through C stdio.

#include <cstdio>
#include <string>

namespace lumivo {

// What Replace did.
struct ReplaceOutcome {
    enum Value {
        replaced,    // the new file is in place, on the medium
        failed,      // nothing changed: the old file (if any) is still there
        notDurable,  // the new file is in place, but the swap may not survive a power loss
        unsupported  // the file system cannot replace in one step; nothing changed
    };
};

class FilePort {
public:
    virtual ~FilePort() {}
    // fopen of the file that a device path names; null when it cannot be opened.
    // Reading opens only a regular file. A file created for writing is
    // readable and writable by its owner only, and never through a link.
    virtual std::FILE* Open(const std::string& devicePath, const char* mode) = 0;
    // Creates a new file for writing (text mode) beside `besidePath`, under a
    // name that no file or link had, readable and writable by its owner only,
    // and gives its device path in `createdPath`. Null when it cannot.
    virtual std::FILE* CreateTemporary(const std::string& besidePath,
                                       std::string& createdPath) = 0;
    // Flushes an open file's buffers down to the medium (fflush, then fsync).
    virtual bool FlushToMedium(std::FILE* file) = 0;
    // Replaces the file at `to` by the one at `from` in one step, durably.
    virtual ReplaceOutcome::Value Replace(const std::string& from, const std::string& to) = 0;
    // Renames `from` to `to`, durably; fails when `to` exists.
    virtual bool Move(const std::string& from, const std::string& to) = 0;
    // Whether anything (a file, a folder, a link) has this name.
    virtual bool Exists(const std::string& devicePath) = 0;
    virtual bool Remove(const std::string& devicePath) = 0;
};

}  // namespace lumivo
