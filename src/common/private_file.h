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
// On failure *why (when given) is the system's reason, for the user.
std::optional<std::string> ReadBytes(const std::string& path, std::string* why = nullptr);

// A new file in folder, its name made from name, holding bytes: its path, or nullopt with
// nothing left behind.
std::optional<std::string> WriteTemp(const std::string& folder, const std::string& name,
                                     const std::string& bytes, std::string* why = nullptr);

// temp takes path's place: made private and put on the disk first, then renamed over it.
bool Replace(const std::string& temp, const std::string& path, std::string* why = nullptr);

// Temporary files of name that a killed program left in folder (they may hold the password),
// older than a minute so that another program's write under way is not disturbed. Returns how
// many were removed.
int RemoveLeftovers(const std::string& folder, const std::string& name);

// A folder of the user's that others may look into is made the user's alone.
void TightenFolder(const std::string& folder);

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
