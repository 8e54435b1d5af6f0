// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/instance_probe.h"
#include "common/win_text.h"

namespace kv {

namespace {

uint64_t Fnv1a(const void* data, size_t size, uint64_t hash = 14695981039346656037ull) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        hash ^= p[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

std::string InstanceName(const std::string& settingsFolder) {
    // FNV-1a: short, stable across builds and versions. The user's name stands where the POSIX
    // name has the user id.
    wchar_t user[257] = {};
    DWORD userLen = 257;
    if (!::GetUserNameW(user, &userLen)) userLen = 1;
    const uint64_t who = Fnv1a(user, (userLen - 1) * sizeof(wchar_t));
    const uint64_t hash = Fnv1a(settingsFolder.data(), settingsFolder.size());
    char text[80];
    std::snprintf(text, sizeof text, "kestrovan-%08lx-%016llx",
                  static_cast<unsigned long>(who & 0xFFFFFFFFu),
                  static_cast<unsigned long long>(hash));
    return text;
}

bool InstanceRunning(const std::string& name) {
    // The holder's mutex in the user's session (see InstanceLock).
    const HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, (L"Local\\" + Wide(name)).c_str());
    if (!mutex) return false;
    ::CloseHandle(mutex);
    return true;
}

}  // namespace kv
