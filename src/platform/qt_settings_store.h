#pragma once
#include <optional>
#include <string>

#include "common/ports.h"

namespace kv {

// QSettings in its native format: the per-user registry on Windows
// (HKCU\Software\Qel\Kestrovan\Setup\...), elsewhere $XDG_CONFIG_HOME/Qel/Kestrovan.conf.
// The first part of a section ("Kestrovan\Setup") names the settings file (the application),
// the second is the group. Every value is kept as a string.
class QtSettingsStore : public SettingsStore {
  public:
    // configRoot: an explicit folder holding "Qel/<app>.conf" (tests); empty: the native place.
    explicit QtSettingsStore(std::string configRoot = {});
    std::optional<std::string> Read(const std::string& application, const std::string& section,
                                    const std::string& key) override;
    bool Write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override;
    bool DeleteAppKey(const std::string& application, const std::string& appKey) override;
    bool HasAppKey(const std::string& application, const std::string& appKey) override;
    // Where application/appKey lives, for messages and the README.
    std::string Location(const std::string& application, const std::string& appKey) const;

  private:
    std::string root_;
};

}  // namespace kv
