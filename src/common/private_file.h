// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The system calls under the settings file (private_file_posix.cpp, private_file_win.cpp). It
// holds the router password: what is made here is for the user alone, and a new version takes
// the old one's place whole, only once it is on the disk. Paths are UTF-8; links are followed,
// so a settings file kept elsewhere through a link is still the one read.
#include <cstdint>
#include <optional>
#include <string>

namespace kv::privatefile {

// Whatever changes when a file's contents may have: it is read again when its stamp differs.
struct Stamp {
    uint64_t device = 0;
    uint64_t file = 0;
    int64_t size = -1;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const Stamp&) const = default;
};

// nullopt when the file cannot be looked at; *missing then tells whether there simply is none
// (a missing file is an empty one; one that cannot be looked at must never be replaced).
std::optional<Stamp> StampOf(const std::string& path, bool* missing = nullptr);

// The whole of a regular file; nullopt for anything else (a folder, a FIFO) or a failed read.
std::optional<std::string> ReadBytes(const std::string& path);

// A new file in folder, its name made from name, holding bytes: its path, or nullopt with
// nothing left behind.
std::optional<std::string> WriteTemp(const std::string& folder, const std::string& name,
                                     const std::string& bytes);

// temp takes path's place: made private and put on the disk first, then renamed over it.
bool Replace(const std::string& temp, const std::string& path);

bool Remove(const std::string& path);

// While one lives, the files and folders this process makes (also through Qt) are the user's
// alone. One thread only: nothing else may make files meanwhile.
class PrivateFiles {
  public:
    PrivateFiles();
    ~PrivateFiles();
    PrivateFiles(const PrivateFiles&) = delete;
    PrivateFiles& operator=(const PrivateFiles&) = delete;

  private:
    [[maybe_unused]] unsigned old_ = 0;
};

}  // namespace kv::privatefile
