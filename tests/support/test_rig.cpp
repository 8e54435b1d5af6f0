// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/test_rig.h"

#include <fstream>
#include <sstream>

#include "common/cp932.h"

namespace kv::test {

TestRig::TestRig(LocalTime start, RigPorts real)
    : loop(start),
      tmrSOHO(loop.MakeTimer()),
      tmrDSP(loop.MakeTimer()),
      Tmr1Sec(loop.MakeTimer()),
      tmrRetry(loop.MakeTimer()),
      transport(loop),
      dir(MakeTempDir()),
      cx(Ports{real.clock ? *real.clock : loop, real.timers ? *real.timers : loop,
               real.store ? *real.store : store, real.transport ? *real.transport : transport,
               *tmrSOHO, *tmrDSP, *Tmr1Sec, real.tmrRetry ? *real.tmrRetry : *tmrRetry,
               real.view ? *real.view : view, real.runner ? *real.runner : runner, shell, exit}) {
    cx.AppPath = dir;
    cx.meter.SetFiles(dir + "/Kestrovan.log", dir + "/Kestrovan.dat");
    cx.trace.SetPath(dir + "/Kestrovan.dbg");
    cx.meter.StartClock(cx.ports.clock.Now());
}

TestRig::~TestRig() {
    RemoveTree(dir);
}

void TestRig::OpenTrace() {
    cx.settings.debuglog = 1;
    cx.trace.SetEnabled(true);
    cx.trace.Open();
}

std::string TestRig::ReadDataFile(const std::string& name) const {
    std::ifstream f(dir + "/" + name, std::ios::binary);
    if (!f) return "";
    std::stringstream ss;
    ss << f.rdbuf();
    return cp932::DecodeToUtf8(ss.str());
}

}  // namespace kv::test
