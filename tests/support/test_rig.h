// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A whole program run's context wired to fresh fakes, with its data files in a new temporary
// folder (removed by the destructor).
#include <memory>
#include <string>

#include "app/context.h"
#include "support/fakes.h"
#include "support/scripted_transport.h"

namespace kv::test {

// Real ports to use in place of the fakes (the loopback tests' clock, event loop and socket).
struct RigPorts {
    Clock* clock = nullptr;
    TimerFactory* timers = nullptr;
    ConsoleTransport* transport = nullptr;
    MainView* view = nullptr;  // a real window in place of the recording one
    ProcessRunner* runner = nullptr;
    SettingsStore* store = nullptr;
    Timer* tmrRetry = nullptr;  // a real timer, for the link's reconnection on real time
};

class TestRig {
  public:
    explicit TestRig(LocalTime start = {Date{2026, 12, 7}, TimeOfDay{10, 0, 0}},
                     RigPorts real = {});
    explicit TestRig(RigPorts real) : TestRig({Date{2026, 12, 7}, TimeOfDay{10, 0, 0}}, real) {}
    ~TestRig();
    TestRig(const TestRig&) = delete;
    TestRig& operator=(const TestRig&) = delete;

    // Reads a file in AppPath as UTF-8 text (decoded from CP932), "" when missing.
    std::string ReadDataFile(const std::string& name) const;
    // Turns the trace on and opens it, as the "debug log" setting does.
    void OpenTrace();

    FakeEventLoop loop;
    MemorySettingsStore store;
    RecordingView view;
    FakeExit exit;
    FakeRunner runner;
    FakeShell shell;
    std::unique_ptr<FakeTimer> tmrSOHO, tmrDSP, Tmr1Sec, tmrRetry;
    ScriptedTransport transport;  // the router's console unless another transport is given
    std::string dir;
    Context cx;
};

}  // namespace kv::test
