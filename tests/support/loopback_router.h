#pragma once
// Wiring a test context to the router simulator with real ports.
#include <cstdint>

#include "app/context.h"
#include "common/ports.h"

namespace kv::test {

// Puts clock, pump and transport in place of the fakes, starts the day from the clock, and
// points the console at the simulator's loopback port with the trace on.
inline void UseLoopbackRouter(Context& cx, Clock& clock, EventPump& pump,
                              ConsoleTransport& transport, uint16_t port) {
    cx.ports.clock = &clock;
    cx.ports.pump = &pump;
    cx.ports.transport = &transport;
    const LocalTime now = clock.Now();
    cx.BaseDate = now.date;
    cx.BaseSeconds = now.time.Seconds();
    cx.settings.sohoip = "127.0.0.1";
    cx.ConsolePort = port;
    cx.settings.debuglog = 1;
}

}  // namespace kv::test
