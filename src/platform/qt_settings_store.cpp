#include "platform/qt_settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryFile>
#include <QVariant>
#include <cerrno>
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

// Files and folders made here are the user's alone (the settings hold the router password);
// the process's umask is put back afterwards. One thread only: nothing starts meanwhile.
class PrivateFiles {
  public:
    PrivateFiles() : old_(::umask(077)) {}
    ~PrivateFiles() { ::umask(old_); }
    PrivateFiles(const PrivateFiles&) = delete;
    PrivateFiles& operator=(const PrivateFiles&) = delete;

  private:
    mode_t old_;
};

std::optional<std::string> ReadBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

bool WriteBytes(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
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

std::optional<QtSettingsStore::Stamp> QtSettingsStore::StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return Stamp{st.st_dev, st.st_ino, st.st_size,
                 st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                 st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}

const QtSettingsStore::Snapshot& QtSettingsStore::Current(const std::string& path) {
    Snapshot& snap = files_[path];
    const std::optional<Stamp> now = StampOf(path);
    if (!now) {
        snap = Snapshot{};
        snap.readable = errno == ENOENT || errno == ENOTDIR;
        snap.exists = !snap.readable;
        return snap;
    }
    if (snap.exists && snap.readable && snap.stamp == *now) return snap;
    snap = Snapshot{};
    snap.exists = true;
    snap.stamp = *now;
    std::optional<std::string> bytes = ReadBytes(path);
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
    PrivateFiles privateFiles;
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
    std::string temp = folder + "/." + S(QFileInfo(Q(path)).fileName()) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    auto fail = [&temp] {
        ::unlink(temp.c_str());
        ::unlink((temp + ".lock").c_str());
        return false;
    };
    const bool copied = WriteBytes(fd, old.bytes);
    if (::close(fd) != 0 || !copied) return fail();
    {
        QSettings ini(Q(temp), QSettings::IniFormat);
        ini.setFallbacksEnabled(false);
        for (const Value& v : values) ini.setValue(Q(ValueName(v.section, v.key)), Q(v.value));
        ini.sync();
        if (ini.status() != QSettings::NoError) return fail();
    }
    // What reached the disk, read back from its bytes: Qt's writer can report success for a
    // file it could not fill.
    const std::optional<std::string> bytes = ReadBytes(temp);
    if (!bytes) return fail();
    const std::optional<std::map<std::string, std::string>> written = ParseIni(*bytes);
    if (!written || *written != expected) return fail();
    if (::chmod(temp.c_str(), 0600) != 0 || !SyncPath(temp, O_RDONLY)) return fail();
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail();
    SyncPath(folder, O_RDONLY | O_DIRECTORY);

    Snapshot& snap = files_[path];
    snap = Snapshot{};
    if (const std::optional<Stamp> stamp = StampOf(path)) {
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
    if (::unlink(path.c_str()) != 0) return false;
    files_.erase(path);
    return true;
}

bool QtSettingsStore::HasAppKey(const std::string& application, const std::string& appKey) {
    return !Current(Location(application, appKey)).values.empty();
}

}  // namespace kv
