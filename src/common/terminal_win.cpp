// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <cstdio>

#include "common/terminal.h"

namespace kv {

namespace {

// A console, not just any character device: the C library's _isatty also says yes for NUL,
// where a script sends a question's input to nobody.
bool IsConsole(DWORD stdHandle) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(stdHandle), &mode) != 0;
}

}  // namespace

bool PersonAtTerminal() {
    return IsConsole(STD_INPUT_HANDLE) && IsConsole(STD_ERROR_HANDLE);
}

void UseParentConsole() {
    auto missing = [](DWORD stdHandle) {
        const HANDLE h = ::GetStdHandle(stdHandle);
        return h == nullptr || h == INVALID_HANDLE_VALUE;
    };
    const bool in = missing(STD_INPUT_HANDLE), out = missing(STD_OUTPUT_HANDLE),
               err = missing(STD_ERROR_HANDLE);
    if (!(in || out || err) || !::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    // The system's handles too, not only the C library's streams: the questions look at them.
    auto open = [](const wchar_t* name, DWORD stdHandle) {
        const HANDLE h =
            ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) ::SetStdHandle(stdHandle, h);
    };
    if (in) {
        open(L"CONIN$", STD_INPUT_HANDLE);
        std::freopen("CONIN$", "r", stdin);
    }
    if (out) {
        open(L"CONOUT$", STD_OUTPUT_HANDLE);
        std::freopen("CONOUT$", "w", stdout);
    }
    if (err) {
        open(L"CONOUT$", STD_ERROR_HANDLE);
        std::freopen("CONOUT$", "w", stderr);
    }
}

}  // namespace kv
