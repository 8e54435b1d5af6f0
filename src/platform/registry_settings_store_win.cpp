// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry_settings_store.h"

#include <windows.h>

#include "common/win_text.h"

namespace kv {

namespace {

std::string Narrow(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                        0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                          nullptr);
    return s;
}

// Text that does not survive the trip to UTF-16 and back (broken UTF-8) would be stored as
// something else; such a write fails instead.
bool Representable(const std::string& s) {
    return s.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(),
                                              static_cast<int>(s.size()), nullptr, 0) > 0;
}

class Key {
  public:
    Key() = default;
    ~Key() {
        if (h_) ::RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* Out() { return &h_; }
    HKEY Get() const { return h_; }

  private:
    HKEY h_ = nullptr;
};

// The value's text; nullopt when it is missing. Besides strings, a number a person put in by
// hand (REG_DWORD) reads as its decimal text; any other kind of value counts as missing.
std::optional<std::string> QueryText(HKEY key, const std::string& name) {
    const std::wstring wname = Wide(name);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0, size = 0;
        if (::RegQueryValueExW(key, wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (type == REG_DWORD) {
            DWORD number = 0;
            size = sizeof number;
            if (::RegQueryValueExW(key, wname.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS)
                return std::nullopt;
            return std::to_string(static_cast<long>(static_cast<LONG>(number)));
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        const LONG r = ::RegQueryValueExW(key, wname.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(text.data()), &got);
        if (r == ERROR_MORE_DATA) continue;  // grown in between
        if (r != ERROR_SUCCESS) return std::nullopt;
        text.resize(got / sizeof(wchar_t));
        // Stored with or without its terminating zero; nothing after a zero belongs to it.
        const size_t end = text.find(L'\0');
        if (end != std::wstring::npos) text.resize(end);
        return Narrow(text);
    }
    return std::nullopt;
}

bool SetText(HKEY key, const std::string& name, const std::string& value) {
    const std::wstring text = Wide(value);
    return ::RegSetValueExW(
               key, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool HasAnything(HKEY key) {
    DWORD subKeys = 0, values = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                           nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subKeys > 0 || values > 0;
}

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(std::string root) : root_(std::move(root)) {}

std::string RegistrySettingsStore::Location(const std::string& application,
                                            const std::string& appKey) const {
    return "HKEY_CURRENT_USER\\" + root_ + "\\" + application + "\\" + appKey;
}

std::optional<std::string> RegistrySettingsStore::Read(const std::string& application,
                                                       const std::string& section,
                                                       const std::string& key) {
    Key k;
    const std::string path = root_ + "\\" + application + "\\" + section;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, KEY_QUERY_VALUE, k.Out()) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return QueryText(k.Get(), key);
}

bool RegistrySettingsStore::Write(const std::string& application, const std::string& section,
                                  const std::string& key, const std::string& value) {
    return WriteAll(application, {Value{section, key, value}});
}

bool RegistrySettingsStore::WriteAll(const std::string& application,
                                     const std::vector<Value>& values) {
    for (const Value& v : values)
        if (!Representable(v.value)) return false;
    // What each value held before, to put back when the record cannot be written whole.
    std::vector<std::optional<std::string>> before;
    before.reserve(values.size());
    for (const Value& v : values) before.push_back(Read(application, v.section, v.key));

    size_t done = 0;
    bool ok = true;
    for (; done < values.size() && ok; ++done) {
        const Value& v = values[done];
        Key k;
        const std::string path = root_ + "\\" + application + "\\" + v.section;
        ok = ::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                               k.Out(), nullptr) == ERROR_SUCCESS &&
             SetText(k.Get(), v.key, v.value) && QueryText(k.Get(), v.key) == v.value;
    }
    if (ok) return true;
    for (size_t i = done; i-- > 0;) {
        const Value& v = values[i];
        Key k;
        const std::string path = root_ + "\\" + application + "\\" + v.section;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, KEY_SET_VALUE, k.Out()) !=
            ERROR_SUCCESS)
            continue;
        if (before[i])
            SetText(k.Get(), v.key, *before[i]);
        else
            ::RegDeleteValueW(k.Get(), Wide(v.key).c_str());
    }
    return false;
}

bool RegistrySettingsStore::DeleteAppKey(const std::string& application,
                                         const std::string& appKey) {
    if (!HasAppKey(application, appKey)) return false;
    const std::string path = root_ + "\\" + application + "\\" + appKey;
    if (::RegDeleteTreeW(HKEY_CURRENT_USER, Wide(path).c_str()) != ERROR_SUCCESS) return false;
    // Given a subkey the tree goes with its root; an empty key left behind is removed too.
    const LONG left = ::RegDeleteKeyW(HKEY_CURRENT_USER, Wide(path).c_str());
    return left == ERROR_SUCCESS || left == ERROR_FILE_NOT_FOUND;
}

bool RegistrySettingsStore::HasAppKey(const std::string& application, const std::string& appKey) {
    Key k;
    const std::string path = root_ + "\\" + application + "\\" + appKey;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, KEY_READ, k.Out()) !=
        ERROR_SUCCESS)
        return false;
    return HasAnything(k.Get());
}

}  // namespace kv
