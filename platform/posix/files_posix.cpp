#include "platform/posix/files_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console.h"
#include "platform/posix/unique_fd.h"

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
    UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.Valid() && fsync(fd.Get()) == 0;
}

// A stream over `fd` when it is a regular file (not a FIFO, a device or a
// folder, whose reads could block or never end), in blocking mode again.
std::FILE* OpenStream(UniqueFd fd, const char* mode) {
    struct stat info {};
    if (!fd.Valid() || fstat(fd.Get(), &info) != 0) return nullptr;
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return nullptr;
    }
    int flags = fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
    std::FILE* file = fdopen(fd.Get(), mode);
    if (file != nullptr) fd.Release();  // the stream closes it now
    return file;
}

}  // namespace

PosixFiles::PosixFiles(std::string deviceRoot) : root_(std::move(deviceRoot)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string PosixFiles::DeviceRootFromEnvironment() {
    const char* root = std::getenv("LUMIVO_DEVICE_ROOT");
    if (root != nullptr && *root != '\0') return root;
    return DeviceRootFor(ProgramPath());
}

std::string PosixFiles::ProgramPath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

bool PosixFiles::IsInstalledProgram(const std::string& programPath) {
    std::string folder = Folder(programPath);
    return folder == "/bin" || (folder.size() > 4 && folder.compare(folder.size() - 4, 4, "/bin") == 0);
}

std::string PosixFiles::DeviceRootFor(const std::string& programPath) {
    if (IsInstalledProgram(programPath)) return LUMIVO_SERVICE_DEVICE_ROOT;
    // The build's default is kept relative to the program, so that no path of
    // the building machine is written into the program.
    std::string root = LUMIVO_DEVICE_ROOT_DEFAULT;
    if (root.empty() || root[0] == '/') return root;
    return Folder(programPath) + "/" + root;
}

bool PosixFiles::Trusted(const std::string& path) {
    const uid_t self = geteuid();
    struct stat info {};
    std::string refusal;
    std::string folder = Folder(path);
    if (stat(folder.c_str(), &info) == 0 && (info.st_uid != self || (info.st_mode & 022) != 0)) {
        refusal = "The folder " + folder +
                  (info.st_uid != self ? " belongs to another user" : " can be written by other users");
    } else if (lstat(path.c_str(), &info) == 0 &&
               // A link's own mode means nothing; a save replaces it.
               (info.st_uid != self || (!S_ISLNK(info.st_mode) && (info.st_mode & 022) != 0))) {
        refusal = "The file " + path +
                  (info.st_uid != self ? " belongs to another user" : " can be written by other users");
    }
    if (!refusal.empty() && refusal != lastRefusal_) LogError(refusal + ", so it is not used");
    lastRefusal_ = refusal;
    if (!refusal.empty()) errno = EPERM;
    return refusal.empty();
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
    if (!Trusted(path)) return nullptr;
    bool update = std::strchr(mode, '+') != nullptr;
    // Non-blocking, so that opening a FIFO does not wait for its other end.
    int flags = O_CLOEXEC | O_NONBLOCK;
    if (mode[0] == 'r') {
        flags |= update ? O_RDWR : O_RDONLY;
    } else {
        flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | O_NOFOLLOW;
        flags |= mode[0] == 'w' ? O_TRUNC : O_APPEND;
        if (!MakeFolders(Folder(path))) return nullptr;
    }
    // The settings file holds the device's password: owner only, also when
    // an older file had wider rights.
    UniqueFd fd(open(path.c_str(), flags, 0600));
    if (!fd.Valid() || ((flags & O_CREAT) != 0 && fchmod(fd.Get(), 0600) != 0)) return nullptr;
    return OpenStream(std::move(fd), mode);
}

// mkostemp creates the file with O_EXCL (never through an existing file or
// link) and mode 0600; O_NOFOLLOW says so once more.
std::FILE* PosixFiles::CreateTemporary(const std::string& besidePath, std::string& createdPath) {
    static constexpr char kSuffix[] = ".tmp-XXXXXX";
    std::string path = HostPath(besidePath);
    if (path.empty() || !MakeFolders(Folder(path)) || !Trusted(path)) return nullptr;
    path += kSuffix;
    UniqueFd fd(mkostemp(path.data(), O_CLOEXEC | O_NOFOLLOW));
    if (!fd.Valid()) return nullptr;
    createdPath = besidePath + path.substr(path.size() - (sizeof kSuffix - 1));
    std::FILE* file = OpenStream(std::move(fd), "w");
    if (file == nullptr) unlink(path.c_str());
    return file;
}

bool PosixFiles::FlushToMedium(std::FILE* file) {
    if (file == nullptr) return false;
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

// rename() swaps the file in atomically (a link in the target's place is
// replaced, never followed); the folder's fsync makes the swap itself survive
// a power loss.
ReplaceOutcome::Value PosixFiles::Replace(const std::string& from, const std::string& to) {
    std::string source = HostPath(from);
    std::string target = HostPath(to);
    if (source.empty() || target.empty()) return ReplaceOutcome::failed;
    if (std::rename(source.c_str(), target.c_str()) != 0) return ReplaceOutcome::failed;
    return SyncFolder(Folder(target)) ? ReplaceOutcome::replaced : ReplaceOutcome::notDurable;
}

bool PosixFiles::Move(const std::string& from, const std::string& to) {
    std::string source = HostPath(from);
    std::string target = HostPath(to);
    if (source.empty() || target.empty()) return false;
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
        return false;
    return SyncFolder(Folder(target));
}

bool PosixFiles::Exists(const std::string& devicePath) {
    std::string path = HostPath(devicePath);
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0;
}

bool PosixFiles::Remove(const std::string& devicePath) {
    std::string path = HostPath(devicePath);
    return !path.empty() && unlink(path.c_str()) == 0;
}

}  // namespace lumivo
