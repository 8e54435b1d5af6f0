// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Wiring a test context to the router simulator with real ports.
#include <cstdint>

#include "app/context.h"

namespace kv::test {

// The real clock, pump and transport are given to the rig up front (RigPorts); this starts the
// day from that clock and points the console at the simulator's loopback port with the trace
// on.
inline void UseLoopbackRouter(Context& cx, uint16_t port) {
    cx.meter.StartClock(cx.ports.clock.Now());
    cx.settings.sohoip = "127.0.0.1";
    cx.link.SetConsolePort(port);
    cx.settings.debuglog = 1;
    cx.trace.SetEnabled(true);
}

}  // namespace kv::test
