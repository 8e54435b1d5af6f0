// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>
// After windows.h: these need its types.
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>

#include "common/data_file.h"

namespace kv::datafile {

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

// The callers report errno, as on the other systems.
void SetErrno(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT: errno = EACCES; break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
        case ERROR_CANT_RESOLVE_FILENAME: errno = ELOOP; break;
        default: errno = EIO; break;
    }
}

// Closes h keeping errno as it was.
void CloseKeepingErrno(HANDLE h) {
    const int e = errno;
    ::CloseHandle(h);
    errno = e;
}

// A link (reparse point) is opened as itself, never followed, and then refused like anything
// that is not a plain file: a device, a pipe, a folder.
HANDLE OpenChecked(const std::string& path, DWORD access, DWORD disposition) {
    const HANDLE h = ::CreateFileW(
        Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetErrno(::GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        ::CloseHandle(h);
        errno = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

bool WriteAll(HANDLE h, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        DWORD n = 0;
        if (!::WriteFile(h, data + done, chunk, &n, nullptr)) {
            SetErrno(::GetLastError());
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

// A descriptor of the C library for h; h belongs to it from then on.
int Descriptor(HANDLE h, int flags) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0) CloseKeepingErrno(h);
    return fd;
}

}  // namespace

ReadResult ReadAll(const std::string& path, std::string& out, size_t maxBytes) {
    out.clear();
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        SetErrno(error);
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ReadResult::Missing
                   : ReadResult::Unreadable;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return ReadResult::NotAFile;
    const HANDLE h = OpenChecked(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return errno == EINVAL ? ReadResult::NotAFile : ReadResult::Unreadable;
    LARGE_INTEGER size{};
    if (maxBytes > 0 && ::GetFileSizeEx(h, &size) &&
        static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        LARGE_INTEGER from{};
        from.QuadPart = size.QuadPart - static_cast<LONGLONG>(maxBytes);
        ::SetFilePointerEx(h, from, nullptr, FILE_BEGIN);
    }
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            SetErrno(::GetLastError());
            CloseKeepingErrno(h);
            return ReadResult::Unreadable;
        }
        if (n == 0) break;
        out.append(buf, n);
    }
    ::CloseHandle(h);
    return ReadResult::Ok;
}

PieceReader::~PieceReader() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

ReadResult PieceReader::Open(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        SetErrno(error);
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ReadResult::Missing
                   : ReadResult::Unreadable;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return ReadResult::NotAFile;
    const HANDLE h = OpenChecked(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return errno == EINVAL ? ReadResult::NotAFile : ReadResult::Unreadable;
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = reinterpret_cast<std::intptr_t>(h);
    LARGE_INTEGER size{};
    size_ = ::GetFileSizeEx(h, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    return ReadResult::Ok;
}

bool PieceReader::Seek(uint64_t offset) {
    if (handle_ == -1) {
        errno = EBADF;
        return false;
    }
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN)) {
        SetErrno(::GetLastError());
        return false;
    }
    return true;
}

std::ptrdiff_t PieceReader::Read(char* into, size_t count) {
    if (handle_ == -1) {
        errno = EBADF;
        return -1;
    }
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), into, chunk, &n, nullptr)) {
        SetErrno(::GetLastError());
        return -1;
    }
    return static_cast<std::ptrdiff_t>(n);
}

bool AppendWhole(const std::string& path, const std::string& bytes, bool endLinesFirst,
                 bool* repaired) {
    if (repaired) *repaired = false;
    const HANDLE h = OpenChecked(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h, &size)) {
        SetErrno(::GetLastError());
        CloseKeepingErrno(h);
        return false;
    }
    std::string data;
    if (endLinesFirst && size.QuadPart > 0) {
        char last[2] = {0, 0};
        LARGE_INTEGER from{};
        from.QuadPart = size.QuadPart >= 2 ? size.QuadPart - 2 : 0;
        DWORD got = 0;
        const bool read =
            ::SetFilePointerEx(h, from, nullptr, FILE_BEGIN) &&
            ::ReadFile(h, last, static_cast<DWORD>(size.QuadPart - from.QuadPart), &got, nullptr);
        if (!(read && got == 2 && last[0] == '\r' && last[1] == '\n')) {
            data = "\r\n";
            if (repaired) *repaired = true;
        }
    }
    data += bytes;
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(h, end, nullptr, FILE_END) || !WriteAll(h, data.data(), data.size())) {
        // Nothing of a line that could not be written whole stays in the file.
        const int e = errno;
        if (::SetFilePointerEx(h, size, nullptr, FILE_BEGIN)) ::SetEndOfFile(h);
        ::CloseHandle(h);
        errno = e;
        return false;
    }
    return ::CloseHandle(h) != 0;
}

bool ReplaceWhole(const std::string& path, const std::string& bytes) {
    const std::wstring temp = Wide(path + ".tmp");
    auto create = [&] {
        return ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    HANDLE h = create();
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) {
        // Left by an earlier run that ended while writing; a link there is removed, never
        // followed.
        ::DeleteFileW(temp.c_str());
        h = create();
    }
    if (h == INVALID_HANDLE_VALUE) {
        SetErrno(::GetLastError());
        return false;
    }
    bool ok = WriteAll(h, bytes.data(), bytes.size());
    int e = errno;
    if (!::CloseHandle(h) && ok) {
        ok = false;
        SetErrno(::GetLastError());
        e = errno;
    }
    if (ok && !::MoveFileExW(temp.c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ok = false;
        SetErrno(::GetLastError());
        e = errno;
    }
    if (!ok) {
        ::DeleteFileW(temp.c_str());
        errno = e;
    }
    return ok;
}

int OpenForAppend(const std::string& path) {
    const HANDLE h = OpenChecked(path, GENERIC_WRITE, OPEN_ALWAYS);
    return h == INVALID_HANDLE_VALUE ? -1 : Descriptor(h, _O_APPEND);
}

std::FILE* OpenForReading(const std::string& path) {
    return ::_wfopen(Wide(path).c_str(), L"rb");
}

std::FILE* OpenAppendStream(const std::string& path) {
    const int fd = OpenForAppend(path);
    if (fd < 0) return nullptr;
    std::FILE* f = ::_fdopen(fd, "ab");
    if (!f) {
        const int e = errno;
        ::_close(fd);
        errno = e;
    }
    return f;
}

bool WritePrivate(const std::string& path, const std::string& bytes, bool* opened) {
    if (opened) *opened = false;
    // Made anew, so the access list below applies (an existing file would keep its own); an
    // old file or a link in its place goes, a link's target is never touched.
    const std::wstring wide = Wide(path);
    ::DeleteFileW(wide.c_str());
    // Only the owner, nothing inherited from the folder.
    PSECURITY_DESCRIPTOR sd = nullptr;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)", SDDL_REVISION_1,
                                                               &sd, nullptr))
        sa.lpSecurityDescriptor = sd;
    const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD createError = ::GetLastError();
    if (sd) ::LocalFree(sd);
    if (h == INVALID_HANDLE_VALUE) {
        SetErrno(createError);
        return false;
    }
    if (opened) *opened = true;
    const bool ok = WriteAll(h, bytes.data(), bytes.size());
    const int e = errno;
    if (!::CloseHandle(h) && ok) {
        SetErrno(::GetLastError());
        return false;
    }
    if (!ok) errno = e;
    return ok;
}

int OpenRegular(const std::string& path) {
    const HANDLE h = OpenChecked(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    return h == INVALID_HANDLE_VALUE ? -1 : Descriptor(h, 0);
}

bool FolderWritable(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = folder + "\\.kestrovan-write-" +
                                 std::to_string(::GetCurrentProcessId()) + "-" +
                                 std::to_string(counter++);
        // Gone again when closed, whatever happens to this program.
        const HANDLE h =
            ::CreateFileW(Wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
            return true;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

DataFolder ChooseDataFolder(const std::string& programFolder, const std::string& perUserFolder,
                            bool create) {
    if (perUserFolder.empty() || FolderWritable(programFolder)) return {programFolder};
    DataFolder chosen{perUserFolder, true, false};
    if (!create) return chosen;
    // The per-user folder (under the user's profile) is already the user's alone.
    std::error_code ec;
    chosen.created = std::filesystem::create_directories(perUserFolder, ec);
    return chosen;
}

}  // namespace kv::datafile
