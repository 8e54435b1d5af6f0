// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt_settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryFile>
#include <QVariant>
#include <memory>

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

std::string TextOf(const QVariant& v) {
    // A hand-edited file may hold an unquoted list ("a, b"); give it back as the text it was.
    if (v.typeId() == QMetaType::QStringList) return S(v.toStringList().join(QStringLiteral(", ")));
    return S(v.toString());
}

// Qt's reading of INI text. Qt keeps parsed files in a cache keyed by their name, trusting
// size and time stamp; a fresh copy under a new name is always parsed from its bytes.
std::optional<std::map<std::string, std::string>> ParseIni(const std::string& bytes) {
    QTemporaryFile copy;
    if (!copy.open()) return std::nullopt;
    if (copy.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !copy.flush())
        return std::nullopt;
    copy.close();
    QSettings ini(copy.fileName(), QSettings::IniFormat);
    ini.setFallbacksEnabled(false);
    std::map<std::string, std::string> values;
    for (const QString& key : ini.allKeys()) values[S(key)] = TextOf(ini.value(key));
    return values;
}

}  // namespace

QtSettingsStore::QtSettingsStore(std::string configRoot) : root_(std::move(configRoot)) {}

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
        return snap;
    }
    if (snap.exists && snap.readable && snap.stamp == *now) return snap;
    snap = Snapshot{};
    snap.exists = true;
    snap.stamp = *now;
    std::optional<std::string> bytes = privatefile::ReadBytes(path);
    std::optional<std::map<std::string, std::string>> values;
    if (bytes) values = ParseIni(*bytes);
    snap.readable = values.has_value();
    if (snap.readable) {
        snap.bytes = std::move(*bytes);
        snap.values = std::move(*values);
    }
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
    // Also the folders made for it and Qt's own files beside the new one.
    privatefile::PrivateFiles privateFiles;
    // A settings file that is a link (kept with other dotfiles) is replaced where it points.
    std::string path = Location(application, appKey);
    const QFileInfo info(Q(path));
    if (info.isSymLink() && info.exists()) path = S(info.canonicalFilePath());
    const Snapshot& old = Current(path);
    if (old.exists && !old.readable) return false;  // never replace what could not be read

    std::map<std::string, std::string> expected = old.values;
    for (const Value& v : values) expected[ValueName(v.section, v.key)] = v.value;

    const std::string folder = S(QFileInfo(Q(path)).absolutePath());
    if (!QDir().mkpath(Q(folder))) return false;
    const std::optional<std::string> temp =
        privatefile::WriteTemp(folder, S(QFileInfo(Q(path)).fileName()), old.bytes);
    if (!temp) return false;
    auto fail = [&temp] {
        privatefile::Remove(*temp);
        privatefile::Remove(*temp + ".lock");
        return false;
    };
    {
        QSettings ini(Q(*temp), QSettings::IniFormat);
        ini.setFallbacksEnabled(false);
        for (const Value& v : values) ini.setValue(Q(ValueName(v.section, v.key)), Q(v.value));
        ini.sync();
        if (ini.status() != QSettings::NoError) return fail();
    }
    // What reached the disk, read back from its bytes: Qt's writer can report success for a
    // file it could not fill.
    const std::optional<std::string> bytes = privatefile::ReadBytes(*temp);
    if (!bytes) return fail();
    const std::optional<std::map<std::string, std::string>> written = ParseIni(*bytes);
    if (!written || *written != expected) return fail();
    if (!privatefile::Replace(*temp, path)) return fail();

    Snapshot& snap = files_[path];
    snap = Snapshot{};
    if (const std::optional<privatefile::Stamp> stamp = privatefile::StampOf(path)) {
        snap.exists = true;
        snap.stamp = *stamp;
        snap.bytes = *bytes;
        snap.values = std::move(expected);
    }
    return true;
}

bool QtSettingsStore::DeleteAppKey(const std::string& application, const std::string& appKey) {
    const std::string path = Location(application, appKey);
    const Snapshot& snap = Current(path);
    if (!snap.readable || snap.values.empty()) return false;
    if (!privatefile::Remove(path)) return false;
    files_.erase(path);
    return true;
}

bool QtSettingsStore::HasAppKey(const std::string& application, const std::string& appKey) {
    return !Current(Location(application, appKey)).values.empty();
}

}  // namespace kv
