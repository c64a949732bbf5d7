#pragma once
// A fresh folder for one test, removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace lumivo {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivo-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Points the POSIX platform's per-user runtime folder at a folder of the
// test's own, so that tests running side by side never share a mutex.
class RuntimeFolder {
  public:
    RuntimeFolder() {
        setenv("LUMIVO_RUNTIME_DIR", folder_.path().c_str(), 1);
        unsetenv("LUMIVO_MESSAGEBOX_ANSWER");
    }
    ~RuntimeFolder() { unsetenv("LUMIVO_RUNTIME_DIR"); }
    const std::string& path() const { return folder_.path(); }

  private:
    TempFolder folder_;
};

}  // namespace lumivo
