#include "platform/win32/files_win32.h"

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

bool Win32Files::FlushToMedium(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32_WCE
    return true;
#else
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != FALSE;
#endif
}

bool Win32Files::Replace(const std::string& from, const std::string& to) {
    std::wstring source = ToWide(from);
    std::wstring target = ToWide(to);
#ifdef _WIN32_WCE
    // Compact's MoveFile does not replace. DeleteAndRenameFile swaps the
    // content in one step where the file system offers it (the object store);
    // elsewhere the old file has to go first.
    if (::DeleteAndRenameFile(target.c_str(), source.c_str())) return true;
    ::DeleteFileW(target.c_str());
    return ::MoveFileW(source.c_str(), target.c_str()) != FALSE;
#else
    return ::MoveFileExW(source.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
#endif
}

bool Win32Files::Remove(const std::string& devicePath) {
    return ::DeleteFileW(ToWide(devicePath).c_str()) != FALSE;
}

}  // namespace lumivo
