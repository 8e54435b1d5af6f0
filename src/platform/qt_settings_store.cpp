// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt_settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

#include "platform/ini_text.h"
#include "platform/qt_text.h"

namespace kv {
namespace {

// "Kestrovan\Setup" -> ("Kestrovan", "Setup")
std::pair<std::string, std::string> SplitSection(const std::string& section) {
    const size_t p = section.find('\\');
    if (p == std::string::npos) return {section, std::string()};
    return {section.substr(0, p), section.substr(p + 1)};
}

// QSettings escapes a group separator in keys poorly; our keys and groups are plain words,
// but keep '/' and '\' out of them so one key cannot reach into another group.
std::string SafeName(const std::string& s) {
    std::string n = s;
    for (char& c : n)
        if (c == '/' || c == '\\') c = '_';
    return n;
}

std::string ValueName(const std::string& section, const std::string& key) {
    const std::string group = SplitSection(section).second;
    return (group.empty() ? std::string() : SafeName(group) + "/") + SafeName(key);
}

}  // namespace

QtSettingsStore::QtSettingsStore(std::string configRoot) : root_(std::move(configRoot)) {
    // What a killed program left beside the settings holds the scrambled password.
    const std::string folder = S(QFileInfo(Q(Location("Qel", "x"))).absolutePath());
    privatefile::TightenFolder(folder);
    for (const char* appKey : {"Kestrovan", "Orlavine"})
        privatefile::RemoveLeftovers(folder, std::string(appKey) + ".conf");
}

void QtSettingsStore::SetNoteHandler(std::function<void(const std::string&)> note) {
    note_ = std::move(note);
}

void QtSettingsStore::Note(const std::string& text) {
    if (note_) note_(text);
}

std::string QtSettingsStore::Location(const std::string& application,
                                      const std::string& appKey) const {
    const std::string base =
        root_.empty() ? S(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                      : root_;
    return base + "/" + application + "/" + appKey + ".conf";
}

const QtSettingsStore::Snapshot& QtSettingsStore::Current(const std::string& path) {
    Snapshot& snap = files_[path];
    bool missing = false;
    const std::optional<privatefile::Stamp> now = privatefile::StampOf(path, &missing);
    if (!now) {
        snap = Snapshot{};
        snap.readable = missing;
        snap.exists = !missing;
        if (!missing) snap.why = "cannot be looked at";
        return snap;
    }
    if (snap.exists && snap.readable && snap.stamp == *now) return snap;
    snap = Snapshot{};
    snap.exists = true;
    snap.stamp = *now;
    // Read where it lies: nothing of it goes through a temporary folder.
    std::optional<std::string> bytes = privatefile::ReadBytes(path, &snap.why);
    if (!bytes) {
        snap.readable = false;
        return snap;
    }
    ini::Parsed parsed = ini::Parse(*bytes);
    // Text in which no setting can be found is not taken for an empty store.
    if (parsed.values.empty() && parsed.HasJunk()) {
        snap.readable = false;
        snap.why = "no settings in it (not a settings file)";
        return snap;
    }
    if (parsed.HasJunk())
        Note("settings file: " + std::to_string(parsed.junkLines) +
             " line(s) that are no setting, dropped when it is next written: " + path);
    snap.junk = parsed.HasJunk() || parsed.byteOrderMark;
    snap.values = std::move(parsed.values);
    return snap;
}

std::optional<std::string> QtSettingsStore::Read(const std::string& application,
                                                 const std::string& section,
                                                 const std::string& key) {
    const Snapshot& snap = Current(Location(application, SplitSection(section).first));
    const auto it = snap.values.find(ValueName(section, key));
    if (it == snap.values.end()) return std::nullopt;
    return it->second;
}

bool QtSettingsStore::Write(const std::string& application, const std::string& section,
                            const std::string& key, const std::string& value) {
    return WriteAll(application, {Value{section, key, value}});
}

bool QtSettingsStore::WriteAll(const std::string& application, const std::vector<Value>& values) {
    // One file per application key: each is committed whole (the callers write one only).
    std::map<std::string, std::vector<Value>> byFile;
    for (const Value& v : values) byFile[SplitSection(v.section).first].push_back(v);
    for (const auto& [appKey, part] : byFile)
        if (!Commit(application, appKey, part)) return false;
    return true;
}

bool QtSettingsStore::Commit(const std::string& application, const std::string& appKey,
                             const std::vector<Value>& values) {
    // Also the folders made for it.
    privatefile::PrivateFiles privateFiles;
    lastError_.clear();
    // A settings file that is a link (kept with other dotfiles) is replaced where it points.
    std::string path = Location(application, appKey);
    const QFileInfo info(Q(path));
    if (info.isSymLink() && info.exists()) path = S(info.canonicalFilePath());
    const Snapshot& old = Current(path);
    if (old.exists && !old.readable) {  // never replace what could not be read
        lastError_ = old.why;
        return false;
    }

    std::map<std::string, std::string> expected = old.values;
    for (const Value& v : values) expected[ValueName(v.section, v.key)] = v.value;
    // Written whole and clean: an editor's byte-order mark and lines that were no setting go.
    const std::string bytes = ini::Format(expected);

    const std::string folder = S(QFileInfo(Q(path)).absolutePath());
    if (!QDir().mkpath(Q(folder))) {
        lastError_ = "cannot make the folder " + folder;
        return false;
    }
    const std::optional<std::string> temp =
        privatefile::WriteTemp(folder, S(QFileInfo(Q(path)).fileName()), bytes, &lastError_);
    if (!temp) return false;
    auto fail = [this, &temp](const std::string& why) {
        if (!why.empty()) lastError_ = why;
        privatefile::Remove(*temp);
        return false;
    };
    // What reached the disk, read back from its bytes.
    const std::optional<std::string> back = privatefile::ReadBytes(*temp, &lastError_);
    if (!back) return fail({});
    if (*back != bytes || ini::Parse(*back).values != expected)
        return fail("what was read back differs from what was written");
    if (!privatefile::Replace(*temp, path, &lastError_)) return fail({});
    if (old.junk) Note("settings file written clean: " + path);

    Snapshot& snap = files_[path];
    snap = Snapshot{};
    if (const std::optional<privatefile::Stamp> stamp = privatefile::StampOf(path)) {
        snap.exists = true;
        snap.stamp = *stamp;
        snap.values = std::move(expected);
    }
    return true;
}

bool QtSettingsStore::DeleteAppKey(const std::string& application, const std::string& appKey) {
    const std::string path = Location(application, appKey);
    const Snapshot& snap = Current(path);
    lastError_.clear();
    if (!snap.readable) lastError_ = snap.why;
    if (!snap.readable || snap.values.empty()) return false;
    if (!privatefile::Remove(path)) {
        lastError_ = "cannot be removed";
        return false;
    }
    files_.erase(path);
    return true;
}

bool QtSettingsStore::HasAppKey(const std::string& application, const std::string& appKey) {
    return !Current(Location(application, appKey)).values.empty();
}

std::string QtSettingsStore::Unreadable(const std::string& application, const std::string& appKey) {
    const std::string path = Location(application, appKey);
    const Snapshot& snap = Current(path);
    if (snap.readable) return {};
    return path + ": " + (snap.why.empty() ? std::string("cannot be read") : snap.why);
}

std::string QtSettingsStore::LastError() const {
    return lastError_;
}

}  // namespace kv
