// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Windows only: the settings in the user's registry,
// HKEY_CURRENT_USER\Software\Qel\Kestrovan\Setup,
// ...\Variant and ...\FormPos, one string value (REG_SZ) per key.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/ports.h"

namespace kv {

// Only the user's own key is read: nothing under HKEY_LOCAL_MACHINE stands in for a missing
// value. Every write is read back and compared; a whole record that cannot be written whole is
// put back as it was.
class RegistrySettingsStore : public SettingsStore {
  public:
    // root: the key below HKEY_CURRENT_USER that holds the application's key ("Software";
    // tests use a scratch key of their own).
    explicit RegistrySettingsStore(std::string root = "Software");
    std::optional<std::string> Read(const std::string& application, const std::string& section,
                                    const std::string& key) override;
    bool Write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override;
    bool WriteAll(const std::string& application, const std::vector<Value>& values) override;
    bool DeleteAppKey(const std::string& application, const std::string& appKey) override;
    bool HasAppKey(const std::string& application, const std::string& appKey) override;
    // What a settings file edited by hand makes the store note; the registry holds no such
    // text, so there is nothing to note.
    void SetNoteHandler(std::function<void(const std::string&)> /*note*/) {}
    // "HKEY_CURRENT_USER\Software\Qel\Kestrovan", for messages and the single-instance name.
    std::string Location(const std::string& application, const std::string& appKey) const;

  private:
    std::string root_;
};

}  // namespace kv
