// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the router console link against mn128sim on loopback:
//  1. CPU time used while a reply is 5 seconds late (the wait must sleep, not spin);
//  2. round trip and reply detection latency of "show status" exchanges.
#include <QCoreApplication>
#include <sys/resource.h>

#include <algorithm>
#include <optional>
#include <string>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench_clock.h"
#include "link/console_link.h"
#include "platform/qt_event_loop.h"
#include "platform/socket_transport.h"
#include "support/qt_pump.h"
#include "support/sim_process.h"
#include "support/test_rig.h"

namespace {

using kv::test::SimProcess;

using kv::bench::CpuSeconds;
using kv::bench::NowMs;

// One command and its reply, on the real event loop; nothing in the program waits, the
// benchmark does.
bool Exchange(kv::Context& cx, kv::test::QtEventPump& pump, const kv::Clock& clock,
              const std::string& command) {
    std::optional<bool> result;
    cx.link.Hold();
    cx.link.Command(command, [&](bool ok) {
        result = ok;
        cx.link.Release();
    });
    pump.WaitUntil([&] { return result.has_value(); }, clock.MonotonicMs() + 60000);
    return result.value_or(false);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    try {
        SimProcess sim({"--tick-ms", "1000"});
        // The real ports before the rig: its context is built on them.
        kv::SystemClock clock;
        kv::test::QtEventPump pump(clock);
        kv::QtTimerFactory timers;
        kv::SocketTransport transport(5000);
        kv::test::TestRig rig(
            kv::test::RigPorts{.clock = &clock, .timers = &timers, .transport = &transport});
        kv::Context& cx = rig.cx;
        cx.settings.sohoip = "127.0.0.1";
        cx.link.SetConsolePort(sim.port());
        cx.meter.StartClock(clock.Now());
        cx.link.LoginSOHO();
        pump.WaitUntil([&] { return cx.link.LoggedIn() && !cx.link.ConsoleHeld(); },
                       clock.MonotonicMs() + 60000);
        if (!cx.link.LoggedIn()) {
            std::fprintf(stderr, "login failed\n");
            return 1;
        }

        // 1. A reply 5 seconds late.
        sim.Command("stall 5000");
        const double cpu0 = CpuSeconds();
        const double wall0 = NowMs();
        const bool ok = Exchange(cx, pump, clock, "show status");
        const double wallMs = NowMs() - wall0;
        const double cpuMs = (CpuSeconds() - cpu0) * 1000;
        std::printf("late reply: ok=%d wait %.0f ms, CPU %.1f ms = %.2f%% of one core\n",
                    ok ? 1 : 0, wallMs, cpuMs, 100.0 * cpuMs / wallMs);

        // 2. Round trips; the simulator's own time per exchange comes from its transcript.
        const size_t firstEntry = sim.Transcript().size();
        std::vector<double> rtt;
        rtt.reserve(static_cast<size_t>(exchanges));
        int failed = 0;
        for (int i = 0; i < exchanges; ++i) {
            const double t0 = NowMs();
            if (!Exchange(cx, pump, clock, "show status")) ++failed;
            rtt.push_back(NowMs() - t0);
        }
        const auto entries = sim.Transcript();
        std::vector<double> simMs;
        double recvAt = -1;
        for (size_t i = firstEntry; i < entries.size(); ++i) {
            if (entries[i].kind == "recv") recvAt = static_cast<double>(entries[i].ms);
            if (entries[i].kind == "send" && recvAt >= 0) {
                simMs.push_back(static_cast<double>(entries[i].ms) - recvAt);
                recvAt = -1;
            }
        }
        std::printf("%d exchanges of \"show status\" (%d failed)\n", exchanges, failed);
        std::printf("round trip: median %.3f ms, p90 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    Percentile(rtt, 0.5), Percentile(rtt, 0.9), Percentile(rtt, 0.99),
                    Percentile(rtt, 1.0));
        std::printf("simulator time per exchange (ms resolution): median %.0f ms, max %.0f ms\n",
                    Percentile(simMs, 0.5), Percentile(simMs, 1.0));
        std::printf("detection latency <= round trip: median %.3f ms (target < 2 ms)\n",
                    Percentile(rtt, 0.5));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "link_bench: %s\n", e.what());
        return 1;
    } catch (const kv::test::ProgramEnded&) {
        std::fprintf(stderr, "link_bench: the program ended (see the boxes)\n");
        return 1;
    }
    return 0;
}
