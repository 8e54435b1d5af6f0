// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two clocks a benchmark reads: the process's CPU time and the wall clock.
#include <sys/resource.h>

#include <chrono>

namespace kv::bench {

inline double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double NowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace kv::bench
