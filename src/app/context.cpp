#include "app/context.h"

namespace kv {

Context::Context(const Ports& p)
    : ports(p),
      trace(p.clock, p.view),
      link(LinkPorts{p.transport, p.pump, p.clock, p.view, p.tmrSOHO, p.tmrRetry, p.exit}, trace,
           settings, linkToMeter_),
      meter(MeterPorts{p.clock, p.pump, p.view, p.tmrDSP, p.tmrSOHO}, trace, settings, meterToLink_,
            meterToProgram_),
      runner(p.runner, p.view, trace),
      tray(trace, p.view),
      delayed(p.Tmr1Sec) {
    link.SetBeforeExit([this] {
        if (hooks.SaveWindowPosition) hooks.SaveWindowPosition();
    });
}

std::string DataFilePath(const Context& cx, const std::string& name) {
    return (cx.DataFolder.empty() ? cx.AppPath : cx.DataFolder) + "/" + name;
}

// ---- the link and the meter -------------------------------------------------------------

void Context::LinkToMeter::CallUp(int16_t channel, const std::string& routerConnectTime) {
    cx_.meter.CntSt(channel, routerConnectTime);
}

void Context::LinkToMeter::CallDown(int16_t channel) {
    cx_.meter.CntEnd(channel);
}

bool Context::LinkToMeter::CallOpen(int16_t channel) const {
    return cx_.meter.ChConnected(channel);
}

TariffMode Context::LinkToMeter::CallTariff() const {
    return cx_.meter.Call().TariffMode;
}

TimeOfDay Context::LinkToMeter::CallSeenAt() const {
    return cx_.meter.Call().CntStTime;
}

void Context::LinkToMeter::LinkLost() {
    cx_.meter.Suspend();
    cx_.notices.LinkLost();
    cx_.ShowTrayState();
}

// Logged in again: the call the meter kept open goes on when the router still shows the same
// connection; one that is gone was closed when last seen; a new one is opened.
void Context::LinkToMeter::LinkBack(int16_t channel, const std::string& routerConnectTime) {
    cx_.notices.LinkBack();
    CallMeter& m = cx_.meter;
    for (int16_t c = 1; c <= 2; ++c)
        if (m.ChConnected(c) && !(c == channel && m.IsSameConnection(c, routerConnectTime)))
            m.CntEnd(c);
    m.Resume();
    if (channel > 0 && !m.ChConnected(channel)) m.CntSt(channel, routerConnectTime);
    cx_.ShowTrayState();
}

// Only the per-second check hangs up through here: the user's "切断" goes to the link itself.
void Context::MeterToLink::HangUp(int16_t channel) {
    cx_.notices.AutoCutAsked();
    cx_.link.DisConnect(channel);
}

int16_t Context::MeterToLink::CurrentChannel() const {
    return cx_.link.CurrentChannel();
}

bool Context::MeterToLink::AutoCutArmed() const {
    return cx_.link.Status().AutoCutArmed;
}

int32_t Context::MeterToLink::ClockOffset() const {
    return cx_.link.State().ClockOffset;
}

// ---- the runner and the window follow the calls -----------------------------------------

void Context::MeterToProgram::CallOpened() {
    cx_.notices.CallStarted();
    cx_.ShowTrayState();
    const Settings& s = cx_.settings;
    for (int16_t slot = 0; slot <= 2; ++slot) {
        if (s.runenab[slot] == 1 && !cx_.runner.Running(slot))
            cx_.runner.RunExe(RunAction::Start, slot, s.runid[slot]);
    }
}

void Context::MeterToProgram::CallClosed() {
    const Settings& s = cx_.settings;
    for (int16_t slot = 0; slot <= 2; ++slot) {
        if (s.runstop[slot] == 1 && cx_.runner.Running(slot))
            cx_.runner.RunExe(RunAction::Stop, slot, s.runid[slot]);
    }
    if (s.runenab[3] == 1 && !cx_.runner.Running(3))
        cx_.runner.RunExe(RunAction::Start, 3, s.runid[3]);
    if (s.winmodedc == 0) cx_.delayed.Arm(DelayedAction::Hide, 5000);
    cx_.notices.CallEnded();
    cx_.ShowTrayState();
}

void Context::ShowTrayState() {
    if (settings.traytip == 0) {
        tray.ShowTip(kTrayTip);
        return;
    }
    TrayLineState line;
    line.routerAway = !link.LoggedIn() || link.Lost();
    for (int16_t c = 1; c <= 2; ++c)
        if (meter.ChConnected(c)) line.channel = c;
    line.elapsedSecs = meter.Call().ElapsedSecs;
    line.amountYen = int64_t{meter.Call().CallUnits} * settings.ctanni;
    tray.ShowTip(LiveTrayTip(line));
}

}  // namespace kv
