// SPDX-License-Identifier: GPL-3.0-or-later
// No access lists are made here: the settings live in the user's profile, which is already
// the user's alone, and what is made in it inherits that.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "common/private_file.h"
#include "common/win_text.h"

namespace kv::privatefile {

namespace {

int64_t Nanoseconds(LARGE_INTEGER ticks) {
    return ticks.QuadPart * 100;
}

int64_t Nanoseconds(FILETIME time) {
    LARGE_INTEGER ticks{};
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = static_cast<LONG>(time.dwHighDateTime);
    return Nanoseconds(ticks);
}

bool WriteAll(HANDLE h, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD n = 0;
        if (!::WriteFile(h, bytes.data() + done, chunk, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

void Say(std::string* why) {
    if (why) *why = "Windows error " + std::to_string(::GetLastError());
}

}  // namespace

std::optional<Stamp> StampOf(const std::string& path, bool* missing) {
    // Attributes only, so a file another program holds open is looked at all the same;
    // BACKUP_SEMANTICS lets a folder in the file's place be seen as something that is there.
    const HANDLE h = ::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (missing) *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    FILE_BASIC_INFO basic{};
    const bool changed =
        ok && ::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) != 0;
    ::CloseHandle(h);
    if (missing) *missing = false;
    if (!ok) return std::nullopt;
    LARGE_INTEGER size{};
    size.LowPart = info.nFileSizeLow;
    size.HighPart = static_cast<LONG>(info.nFileSizeHigh);
    return Stamp{info.dwVolumeSerialNumber,
                 (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                 size.QuadPart, Nanoseconds(info.ftLastWriteTime),
                 changed ? Nanoseconds(basic.ChangeTime) : 0};
}

std::optional<std::string> ReadBytes(const std::string& path, std::string* why) {
    const HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Say(why);
        return std::nullopt;
    }
    // A device or a pipe under the file's name is no settings file.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        if (why) *why = "not a regular file";
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buffer, sizeof buffer, &n, nullptr)) {
            Say(why);
            ::CloseHandle(h);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, n);
    }
    ::CloseHandle(h);
    return bytes;
}

std::optional<std::string> WriteTemp(const std::string& folder, const std::string& name,
                                     const std::string& bytes, std::string* why) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temp = folder + "/." + name + "." +
                                 std::to_string(::GetCurrentProcessId()) + "-" +
                                 std::to_string(counter++);
        const std::wstring wide = Wide(temp);
        const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            // Only a name left by an earlier run is worth another try.
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            Say(why);
            return std::nullopt;
        }
        const bool written = WriteAll(h, bytes);
        if (!written) Say(why);
        if (!::CloseHandle(h) || !written) {
            ::DeleteFileW(wide.c_str());
            return std::nullopt;
        }
        return temp;
    }
    if (why) *why = "no free temporary name";
    return std::nullopt;
}

bool Replace(const std::string& temp, const std::string& path, std::string* why) {
    const std::wstring wideTemp = Wide(temp);
    // Write access: the system flushes only through a handle that may write.
    const HANDLE h = ::CreateFileW(wideTemp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Say(why);
        return false;
    }
    const bool synced = ::FlushFileBuffers(h) != 0;
    if (!synced) Say(why);
    if (!::CloseHandle(h) || !synced) return false;
    // WRITE_THROUGH: returns once the rename is on the disk, as the folder's sync does on POSIX.
    if (::MoveFileExW(wideTemp.c_str(), Wide(path).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)
        return true;
    Say(why);
    return false;
}

int RemoveLeftovers(const std::string& folder, const std::string& name) {
    // Names are "<name>.<process>-<count>": any such file is a leftover once a minute old.
    WIN32_FIND_DATAW found{};
    const HANDLE h = ::FindFirstFileW(Wide(folder + "/." + name + ".*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int removed = 0;
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (Nanoseconds(now) - Nanoseconds(found.ftLastWriteTime) < 60'000'000'000LL) continue;
        if (::DeleteFileW((Wide(folder) + L"/" + found.cFileName).c_str())) ++removed;
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
    return removed;
}

void TightenFolder(const std::string&) {}

bool Remove(const std::string& path) {
    return ::DeleteFileW(Wide(path).c_str()) != 0;
}

PrivateFiles::PrivateFiles() = default;
PrivateFiles::~PrivateFiles() = default;

}  // namespace kv::privatefile
