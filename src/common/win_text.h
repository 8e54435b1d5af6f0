// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Windows only: the wide strings the Windows API takes, from the UTF-8 used everywhere inside.
#include <windows.h>

#include <string>

namespace kv {

inline std::wstring Wide(const std::string& s) {
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

}  // namespace kv
