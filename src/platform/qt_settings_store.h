// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/ports.h"
#include "common/private_file.h"

namespace kv {

// The settings of one application key ("Qel", "Kestrovan") are the INI file
// $XDG_CONFIG_HOME/Qel/Kestrovan.conf (or <configRoot>/Qel/Kestrovan.conf); the first part of a
// section ("Kestrovan\Setup") names the file, the second is the group. Every value is a string.
//
// Only that file is read: no organisation-wide or system file stands in for it. A write never
// touches the file in place: the new contents are written beside it, read back and compared
// with what was meant, and only then renamed over it, so a full disk or a failing writer leaves
// the last good file. Everything written into the settings folder is for the user alone.
class QtSettingsStore : public SettingsStore {
  public:
    // configRoot: an explicit folder holding "Qel/<app>.conf" (tests); empty: the user's place.
    explicit QtSettingsStore(std::string configRoot = {});
    std::optional<std::string> Read(const std::string& application, const std::string& section,
                                    const std::string& key) override;
    bool Write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override;
    bool WriteAll(const std::string& application, const std::vector<Value>& values) override;
    bool DeleteAppKey(const std::string& application, const std::string& appKey) override;
    bool HasAppKey(const std::string& application, const std::string& appKey) override;
    std::string Unreadable(const std::string& application, const std::string& appKey) override;
    std::string LastError() const override;
    // Things worth a trace line: a hand-edited file's stray lines, dropped when it is written.
    void SetNoteHandler(std::function<void(const std::string&)> note);
    // The file of application/appKey, for messages and the README.
    std::string Location(const std::string& application, const std::string& appKey) const;

  private:
    // What a file held when it was last read; read again whenever it changed on disk.
    struct Snapshot {
        bool exists = false;
        bool readable = true;
        std::string why;    // when it exists but is not readable
        bool junk = false;  // a byte-order mark or lines that are no setting: written clean
        privatefile::Stamp stamp;
        std::map<std::string, std::string> values;  // "group/key" -> text
    };
    void Note(const std::string& text);
    const Snapshot& Current(const std::string& path);
    bool Commit(const std::string& application, const std::string& appKey,
                const std::vector<Value>& values);

    std::string root_;
    std::map<std::string, Snapshot> files_;
    std::string lastError_;
    std::function<void(const std::string&)> note_;
};

}  // namespace kv
