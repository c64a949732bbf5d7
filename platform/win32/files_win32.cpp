#include "platform/win32/files_win32.h"

#ifndef _WIN32_WCE
// The desktop C library's descriptors; Compact's has none.
#include <fcntl.h>
#include <io.h>
#endif

#include "base/text.h"
#include "platform/win32/windows_api.h"

namespace lumivo {

namespace {

// Creates the folder that holds `path` when it is missing, so that a first
// save on a fresh machine finds "\BOOT".
void CreateParentFolder(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return;
    ::CreateDirectoryW(path.substr(0, slash).c_str(), NULL);
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
    const std::string stem = besidePath + ".tmp-" + UnsignedToText(::GetCurrentProcessId()) + "-";
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string path = stem + UnsignedToText(attempt);
        const std::wstring wide = ToWide(path);
#ifdef _WIN32_WCE
        // Compact has neither links nor other users' processes here.
        if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        std::FILE* file = ::_wfopen(wide.c_str(), L"w");
#else
        HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, NULL);
        if (handle == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return NULL;
        }
        int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
        if (fd < 0) {
            ::CloseHandle(handle);
            ::DeleteFileW(wide.c_str());
            return NULL;
        }
        std::FILE* file = ::_fdopen(fd, "w");
        if (file == NULL) {
            ::_close(fd);
            ::DeleteFileW(wide.c_str());
        }
#endif
        if (file != NULL) createdPath = path;
        return file;
    }
    return NULL;
}

bool Win32Files::FlushToMedium(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32_WCE
    // Compact's C library gives the stream's own file handle.
    HANDLE handle = static_cast<HANDLE>(::_fileno(file));
#else
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
#endif
    return handle != NULL && handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != FALSE;
}

ReplaceOutcome::Value Win32Files::Replace(const std::string& from, const std::string& to) {
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
