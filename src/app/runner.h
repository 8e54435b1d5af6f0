#pragma once
// Starts and terminates the programs the user names for connection start and end.
// Slots 0..2 run at connection start (CntSt), slot 3 at connection end (CntEnd); the loops over
// the slots live there, this is the one-slot action they call.
#include <cstdint>
#include <string>

#include "app/context.h"

namespace kv {

// stop 0 starts the program at path (exactly as stored: no shell, no arguments) and marks the
// slot running; stop non-zero terminates the slot's program and marks it not running.
// Returns 0 when a start was refused because no file exists at path ("指定の EXE がありません"
// is shown), else 1. A program that exists but fails to start is traced at level 3 and the slot
// stays not running, so the next connection tries again.
int16_t RunExe(Context& cx, int16_t stop, int16_t slot, const std::string& path);

}  // namespace kv
