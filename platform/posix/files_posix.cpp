#include "platform/posix/files_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lumivo {

namespace {

std::string Folder(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the folder and every missing folder above it.
bool MakeFolders(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    std::string parent = Folder(folder);
    if (parent != folder && !MakeFolders(parent)) return false;
    return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

}  // namespace

PosixFiles::PosixFiles(std::string deviceRoot) : root_(std::move(deviceRoot)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string PosixFiles::DeviceRootFromEnvironment() {
    const char* root = std::getenv("LUMIVO_DEVICE_ROOT");
    if (root != nullptr && *root != '\0') return root;
    return LUMIVO_DEVICE_ROOT_DEFAULT;
}

std::string PosixFiles::HostPath(const std::string& devicePath) const {
    std::string path = root_;
    std::string step;
    for (std::size_t i = 0; i <= devicePath.size(); ++i) {
        char c = i < devicePath.size() ? devicePath[i] : '\\';
        if (c != '\\' && c != '/') {
            step.push_back(c);
            continue;
        }
        if (step == "..") return "";
        if (!step.empty() && step != ".") path += "/" + step;
        step.clear();
    }
    return path == root_ ? "" : path;
}

std::FILE* PosixFiles::Open(const std::string& devicePath, const char* mode) {
    std::string path = HostPath(devicePath);
    if (path.empty() || mode == nullptr || std::strchr("rwa", mode[0]) == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    bool update = std::strchr(mode, '+') != nullptr;
    int flags = O_CLOEXEC;
    if (mode[0] == 'r') {
        flags |= update ? O_RDWR : O_RDONLY;
    } else {
        flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT;
        flags |= mode[0] == 'w' ? O_TRUNC : O_APPEND;
        if (!MakeFolders(Folder(path))) return nullptr;
    }
    // The settings file holds the device's password: owner only, also when
    // an older file or a left-over temporary file had wider rights.
    int fd = open(path.c_str(), flags, 0600);
    if (fd < 0) return nullptr;
    if ((flags & O_CREAT) != 0 && fchmod(fd, 0600) != 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, mode);
    if (file == nullptr) close(fd);
    return file;
}

bool PosixFiles::FlushToMedium(std::FILE* file) {
    if (file == nullptr) return false;
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

// rename() swaps the file in atomically; the folder's fsync makes the swap
// itself survive a power loss.
bool PosixFiles::Replace(const std::string& from, const std::string& to) {
    std::string source = HostPath(from);
    std::string target = HostPath(to);
    if (source.empty() || target.empty()) return false;
    if (std::rename(source.c_str(), target.c_str()) != 0) return false;
    return SyncFolder(Folder(target));
}

bool PosixFiles::Remove(const std::string& devicePath) {
    std::string path = HostPath(devicePath);
    return !path.empty() && unlink(path.c_str()) == 0;
}

}  // namespace lumivo
