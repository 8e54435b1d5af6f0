#pragma once
// The diagnostic trace and the status-bar procedures.
#include <string>

#include "app/context.h"

namespace kv {

// kind 1 open ("run"), 2 write and close, 3 error line, 4 step line (debug mode only).
// A trace that cannot be opened or written never stops the program.
void WriteTrace(Context& cx, int kind, const std::string& text);
void ShowDebugStep(Context& cx, const std::string& text);
void SetStatusText(Context& cx, const std::string& text);
// Status text, cleared by delayed action 3 five seconds later.
void ShowHint(Context& cx, const std::string& text);
// Set DelayedAction, the interval of Tmr1Sec, enable it. A later arming replaces a pending one.
void ArmDelayedAction(Context& cx, int16_t action, int intervalMs);

}  // namespace kv
