// SPDX-License-Identifier: GPL-3.0-or-later
#include <unistd.h>

#include "common/terminal.h"

namespace kv {

bool PersonAtTerminal() {
    return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
}

void UseParentConsole() {}

}  // namespace kv
