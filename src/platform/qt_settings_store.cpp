#include "platform/qt_settings_store.h"

#include "platform/qt_text.h"

#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>

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
QString SafeName(const std::string& s) {
    QString q = Q(s);
    q.replace(QLatin1Char('/'), QLatin1Char('_'));
    q.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return q;
}

}  // namespace

QtSettingsStore::QtSettingsStore(std::string configRoot) : root_(std::move(configRoot)) {}

static std::unique_ptr<QSettings> Open(const std::string& root, const std::string& application,
                                       const std::string& appKey) {
    if (root.empty())
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           Q(application), Q(appKey));
    return std::make_unique<QSettings>(Q(root + "/" + application + "/" + appKey + ".conf"),
                                       QSettings::IniFormat);
}

std::string QtSettingsStore::Location(const std::string& application,
                                      const std::string& appKey) const {
    return S(Open(root_, application, appKey)->fileName());
}

std::optional<std::string> QtSettingsStore::Read(const std::string& application,
                                                 const std::string& section,
                                                 const std::string& key) {
    const auto [appKey, group] = SplitSection(section);
    auto s = Open(root_, application, appKey);
    const QString name = (group.empty() ? QString() : SafeName(group) + "/") + SafeName(key);
    const QVariant v = s->value(name);
    if (!v.isValid()) return std::nullopt;
    // A hand-edited file may hold an unquoted list ("a, b"); give it back as the text it was.
    if (v.typeId() == QMetaType::QStringList) return S(v.toStringList().join(QStringLiteral(", ")));
    return S(v.toString());
}

bool QtSettingsStore::Write(const std::string& application, const std::string& section,
                            const std::string& key, const std::string& value) {
    const auto [appKey, group] = SplitSection(section);
    auto s = Open(root_, application, appKey);
    if (!s->isWritable()) return false;
    const QString name = (group.empty() ? QString() : SafeName(group) + "/") + SafeName(key);
    s->setValue(name, Q(value));
    s->sync();
    return s->status() == QSettings::NoError;
}

bool QtSettingsStore::DeleteAppKey(const std::string& application, const std::string& appKey) {
    auto s = Open(root_, application, appKey);
    if (s->allKeys().isEmpty()) return false;
    s->clear();
    s->sync();
    return s->status() == QSettings::NoError;
}

bool QtSettingsStore::HasAppKey(const std::string& application, const std::string& appKey) {
    return !Open(root_, application, appKey)->allKeys().isEmpty();
}

}  // namespace kv
