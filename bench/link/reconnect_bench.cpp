// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the console link's reconnection against mn128sim restarting on loopback: the time
// from the router accepting connections again to the first status report answered after the
// new login, over a number of restarts (default 20), and the CPU used while the router is down.
#include <QCoreApplication>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "link/console_link.h"
#include "platform/qt_event_loop.h"
#include "platform/socket_transport.h"
#include "support/qt_pump.h"
#include "support/sim_process.h"
#include "support/test_rig.h"

namespace {

using kv::bench::CpuSeconds;
using kv::bench::NowMs;

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int restarts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int downSeconds = 3;
    try {
        kv::test::SimProcess sim;
        kv::SystemClock clock;
        kv::test::QtEventPump pump(clock);
        kv::QtTimerFactory timers;
        kv::SocketTransport transport(5000);
        kv::QtTimer tmrRetry;
        kv::test::TestRig rig(kv::test::RigPorts{
            .clock = &clock, .timers = &timers, .transport = &transport, .tmrRetry = &tmrRetry});
        kv::Context& cx = rig.cx;
        cx.settings.sohoip = "127.0.0.1";
        cx.link.SetConsolePort(sim.port());
        cx.meter.StartClock(clock.Now());
        cx.link.LoginSOHO();
        pump.WaitUntil([&] { return cx.link.LoggedIn() && !cx.link.ConsoleHeld(); },
                       clock.MonotonicMs() + 60000);
        if (!cx.link.LoggedIn()) return 1;

        std::vector<double> latencies;
        double downCpu = 0, downWall = 0;
        for (int i = 0; i < restarts; ++i) {
            sim.Command("restart " + std::to_string(downSeconds) + " keep");
            const double restartAt = NowMs();
            pump.WaitUntil([&] { return cx.link.Lost(); }, clock.MonotonicMs() + 5000);
            // The router is down: nothing to do but wait for it.
            const double cpu0 = CpuSeconds(), wall0 = NowMs();
            pump.WaitUntil([] { return false; },
                           clock.MonotonicMs() +
                               static_cast<int64_t>(restartAt + downSeconds * 1000 - NowMs()));
            downCpu += CpuSeconds() - cpu0;
            downWall += (NowMs() - wall0) / 1000;
            const double acceptingAt = restartAt + downSeconds * 1000;
            const bool back = pump.WaitUntil([&] { return !cx.link.Lost() && cx.link.LinkReady(); },
                                             clock.MonotonicMs() + 70000);
            if (!back) {
                std::fprintf(stderr, "restart %d: not logged in again\n", i + 1);
                return 1;
            }
            latencies.push_back(NowMs() - acceptingAt);
        }
        std::sort(latencies.begin(), latencies.end());
        std::printf(
            "reconnection after %d restarts of %d s: accepting again to first report "
            "answered: median %.0f ms, max %.0f ms (back-off step then 4000 ms)\n",
            restarts, downSeconds, latencies[latencies.size() / 2], latencies.back());
        std::printf("CPU while the router was down: %.1f ms in %.1f s = %.3f%% of one core\n",
                    downCpu * 1000, downWall, downWall > 0 ? 100 * downCpu / downWall : 0.0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
