#include <unistd.h>

#include "common/terminal.h"

namespace kv {

bool PersonAtTerminal() {
    return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
}

}  // namespace kv
