#include "platform/win32/files_win32.h"

#include <fcntl.h>
#include <io.h>

#include "base/text.h"
#include "platform/win32/windows_api.h"

namespace lumivo {

namespace {

// Creates the folder that holds `path` when it is missing, so that a first
// save on a fresh machine finds "\BOOT".
void CreateParentFolder(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return;
    ::CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
}

}  // namespace

std::FILE* Win32Files::Open(const std::string& devicePath, const char* mode) {
    std::wstring path = ToWide(devicePath);
    std::wstring wideMode = ToWide(mode);
    if (wideMode.find_first_of(L"wa") != std::wstring::npos) CreateParentFolder(path);
    return ::_wfopen(path.c_str(), wideMode.c_str());
}

// CREATE_NEW fails when anything (a file, a link) has the name already: the
// next name is tried then.
std::FILE* Win32Files::CreateTemporary(const std::string& besidePath, std::string& createdPath) {
    CreateParentFolder(ToWide(besidePath));
    const std::string stem = besidePath + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-";
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string path = stem + std::to_string(attempt);
        const std::wstring wide = ToWide(path);
#ifdef _WIN32_WCE
        // Compact has neither links nor other users' processes here.
        if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        std::FILE* file = ::_wfopen(wide.c_str(), L"w");
#else
        HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return nullptr;
        }
        int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
        if (fd < 0) {
            ::CloseHandle(handle);
            ::DeleteFileW(wide.c_str());
            return nullptr;
        }
        std::FILE* file = ::_fdopen(fd, "w");
        if (file == nullptr) {
            ::_close(fd);
            ::DeleteFileW(wide.c_str());
        }
#endif
        if (file != nullptr) createdPath = path;
        return file;
    }
    return nullptr;
}

bool Win32Files::FlushToMedium(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32_WCE
    return true;
#else
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != FALSE;
#endif
}

ReplaceOutcome Win32Files::Replace(const std::string& from, const std::string& to) {
    std::wstring source = ToWide(from);
    std::wstring target = ToWide(to);
#ifdef _WIN32_WCE
    // Compact's MoveFile does not replace. DeleteAndRenameFile swaps the
    // content in one step where the file system offers it (the object store);
    // elsewhere the caller replaces in steps (Move).
    return ::DeleteAndRenameFile(target.c_str(), source.c_str()) ? ReplaceOutcome::replaced
                                                                  : ReplaceOutcome::unsupported;
#else
    return ::MoveFileExW(source.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE
               ? ReplaceOutcome::replaced
               : ReplaceOutcome::failed;
#endif
}

bool Win32Files::Move(const std::string& from, const std::string& to) {
    std::wstring source = ToWide(from);
    std::wstring target = ToWide(to);
#ifdef _WIN32_WCE
    return ::MoveFileW(source.c_str(), target.c_str()) != FALSE;
#else
    return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
#endif
}

bool Win32Files::Exists(const std::string& devicePath) {
    return ::GetFileAttributesW(ToWide(devicePath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Files::Remove(const std::string& devicePath) {
    return ::DeleteFileW(ToWide(devicePath).c_str()) != FALSE;
}

}  // namespace lumivo
