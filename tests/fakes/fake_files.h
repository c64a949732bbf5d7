#pragma once
// FilePort for unit tests: device paths map into a temporary folder of the
// fake's own (removed with it), opened as real FILE*. Switches make single
// operations fail the way a full or read-only medium would, take away the
// one-step replace (as on a FAT medium), or cut the power after a number of
// changes.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/file_port.h"

namespace lumivo {

class FakeFiles : public FilePort {
  public:
    bool failOpen = false;          // every Open gives null
    bool failOpenForWrite = false;  // only opens that write give null
    bool failFlush = false;
    bool failReplace = false;
    bool failRemove = false;
    bool notDurable = false;   // Replace swaps the file in but cannot flush the folder
    bool noReplace = false;    // Replace is unsupported; Move never replaces
    int powerLossAfter = -1;   // changes that still happen (>= 0); every later call fails

    struct OpenCall {
        std::string devicePath;
        std::string mode;
    };
    std::vector<OpenCall> opens;
    int flushCount = 0;
    std::vector<std::pair<std::string, std::string>> replaced;
    std::vector<std::pair<std::string, std::string>> moved;
    std::vector<std::string> removed;

    FakeFiles() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivo-fake-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();  // no test can run without it
        root_ = pattern;
        std::filesystem::create_directories(root_ / "BOOT");
    }
    ~FakeFiles() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    FakeFiles(const FakeFiles&) = delete;
    FakeFiles& operator=(const FakeFiles&) = delete;

    const std::filesystem::path& Root() const { return root_; }

    // The host path that a device path ("\BOOT\env.json") stands for.
    std::filesystem::path HostPath(const std::string& devicePath) const {
        std::string relative = devicePath;
        for (char& c : relative)
            if (c == '\\') c = '/';
        while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
        return root_ / relative;
    }

    // The whole content of a file, or empty when it does not exist.
    std::string Content(const std::string& devicePath) const {
        std::ifstream in(HostPath(devicePath), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void SetContent(const std::string& devicePath, const std::string& content) {
        std::filesystem::path path = HostPath(devicePath);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }

    std::FILE* Open(const std::string& devicePath, const char* mode) override {
        opens.push_back(OpenCall{devicePath, mode});
        bool writes = std::string(mode).find_first_of("wa+") != std::string::npos;
        if (failOpen || (writes && (failOpenForWrite || !Powered()))) return nullptr;
        std::filesystem::path path = HostPath(devicePath);
        if (writes) {
            std::error_code ignored;
            std::filesystem::create_directories(path.parent_path(), ignored);
        }
        return std::fopen(path.c_str(), mode);
    }
    std::FILE* CreateTemporary(const std::string& besidePath, std::string& createdPath) override {
        opens.push_back(OpenCall{besidePath, "new"});
        if (failOpen || failOpenForWrite || !Change()) return nullptr;
        std::string pattern = HostPath(besidePath).string() + ".tmp-XXXXXX";
        int fd = mkstemp(pattern.data());
        if (fd < 0) return nullptr;
        createdPath = besidePath + pattern.substr(pattern.size() - 11);
        std::FILE* file = fdopen(fd, "w");
        if (file == nullptr) close(fd);
        return file;
    }
    bool FlushToMedium(std::FILE* file) override {
        ++flushCount;
        if (failFlush || !Change()) return false;
        return std::fflush(file) == 0;
    }
    ReplaceOutcome::Value Replace(const std::string& from, const std::string& to) override {
        replaced.emplace_back(from, to);
        if (noReplace) return ReplaceOutcome::unsupported;
        if (failReplace || !Change()) return ReplaceOutcome::failed;
        std::error_code error;
        std::filesystem::rename(HostPath(from), HostPath(to), error);
        if (error) return ReplaceOutcome::failed;
        return notDurable ? ReplaceOutcome::notDurable : ReplaceOutcome::replaced;
    }
    bool Move(const std::string& from, const std::string& to) override {
        moved.emplace_back(from, to);
        if (Exists(to) || !Change()) return false;
        std::error_code error;
        std::filesystem::rename(HostPath(from), HostPath(to), error);
        return !error;
    }
    bool Exists(const std::string& devicePath) override {
        std::error_code ignored;
        return std::filesystem::exists(std::filesystem::symlink_status(HostPath(devicePath), ignored));
    }
    bool Remove(const std::string& devicePath) override {
        removed.push_back(devicePath);
        if (failRemove || !Change()) return false;
        std::error_code error;
        return std::filesystem::remove(HostPath(devicePath), error);
    }

  private:
    bool Powered() const { return powerLossAfter != 0; }
    // Counts one change to the medium; false once the power is gone.
    bool Change() {
        if (powerLossAfter == 0) return false;
        if (powerLossAfter > 0) --powerLossAfter;
        return true;
    }

    std::filesystem::path root_;
};

}  // namespace lumivo
