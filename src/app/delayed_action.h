// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one-shot timer Tmr1Sec and the action it performs when it fires.
#include "common/ports.h"

namespace kv {

enum class DelayedAction {
    None = 0,
    Unload = 1,       // end the program
    Hide = 2,         // hide the main window
    ClearStatus = 3,  // clear the status bar
};

class DelayedActions {
  public:
    explicit DelayedActions(Timer& tmr1Sec) : timer_(tmr1Sec) {}
    // A later arming replaces a pending one.
    void Arm(DelayedAction action, int intervalMs) {
        pending_ = action;
        timer_.SetEnabled(false);
        timer_.SetInterval(intervalMs);
        timer_.SetEnabled(true);
    }
    DelayedAction Pending() const { return pending_; }

  private:
    Timer& timer_;
    DelayedAction pending_ = DelayedAction::None;
};

}  // namespace kv
