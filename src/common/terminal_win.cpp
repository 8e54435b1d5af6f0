// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

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

}  // namespace kv
