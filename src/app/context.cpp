// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/context.h"

#include <cstdlib>

namespace kv {

Context::Context(const Ports& p)
    : ports(p),
      trace(p.clock, p.view),
      link(LinkPorts{p.transport, p.timers, p.clock, linkOnWindow_, p.tmrSOHO, p.tmrRetry}, trace,
           settings, linkToMeter_, linkFailures_),
      meter(MeterPorts{p.clock, meterOnWindow_, p.tmrDSP, p.tmrSOHO}, trace, settings, meterToLink_,
            meterToProgram_),
      runner(p.runner, p.view, trace),
      tray(trace, p.view),
      delayed(p.Tmr1Sec) {
    tray.UseSettings(settings, p.store);
}

void EndProgram(Context& cx, EndMode mode, const std::string& message) {
    cx.link.Stop();
    cx.trace.Close(message);
    if (mode == EndMode::WithMessage)
        cx.ports.view.MessageBox(message, "", MsgIcon::None, MsgButtons::Ok);
    cx.link.Client_close();
    if (cx.hooks.SaveWindowPosition) cx.hooks.SaveWindowPosition();
    cx.ports.exit.Exit(0);
    std::abort();  // Exit does not come back
}

std::string DataFilePath(const Context& cx, const std::string& name) {
    return (cx.DataFolder.empty() ? cx.AppPath : cx.DataFolder) + "/" + name;
}

// ---- what the link and the meter show ----------------------------------------------------

void Context::LinkOnWindow::ShowStatus(const std::string& text) {
    cx_.ports.view.SetStatusText(text);
}

void Context::LinkOnWindow::ShowFigure(LinkFigure figure, const std::string& text) {
    cx_.ports.view.SetLcdText(static_cast<int>(figure), text);
}

void Context::LinkOnWindow::ShowCutState(CutState state) {
    const uint32_t colour = state == CutState::FlatRate ? kColourYellow
                            : state == CutState::Armed  ? kColourRed
                                                        : kColourGreen;
    cx_.ports.view.SetLcdColour(5, colour);
    cx_.ports.view.SetLcdColour(6, colour);
}

void Context::LinkOnWindow::ShowBox(const std::string& text, const std::string& title) {
    cx_.ports.view.MessageBox(text, title, MsgIcon::None, MsgButtons::Ok);
}

void Context::LinkOnWindow::OpenMessageWindow() {
    cx_.ports.view.ShowMessageWindow();
}

void Context::LinkOnWindow::CloseMessageWindow() {
    cx_.ports.view.CloseMessageWindow();
}

void Context::LinkOnWindow::SetMessageText(const std::string& text) {
    cx_.ports.view.SetMessageText(text);
}

void Context::LinkFailures::LinkFailed(const std::string& message, bool atOnce) {
    // The socket's own box was the message.
    if (atOnce) cx_.ports.exit.Exit(1);
    EndProgram(cx_, EndMode::WithMessage, message);
}

void Context::MeterOnWindow::ShowFigure(MeterFigure figure, const std::string& text) {
    cx_.ports.view.SetLcdText(static_cast<int>(figure), text);
}

void Context::MeterOnWindow::ShowLive(bool live) {
    cx_.ports.view.SetFiguresLive(live);
}

void Context::MeterOnWindow::ShowCaption(const std::string& text) {
    cx_.ports.view.SetWindowCaption(text);
}

void Context::MeterOnWindow::ShowStatus(const std::string& text) {
    cx_.ports.view.SetStatusText(text);
}

void Context::MeterOnWindow::ShowWarning(const std::string& text) {
    cx_.ports.view.MessageBox(text, "", MsgIcon::Exclamation, MsgButtons::Ok);
}

void Context::MeterOnWindow::BringUp() {
    cx_.ports.view.ShowMainWindow(true);
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
    cx_.notices.LinkLost(cx_.meter.ChConnected(1) || cx_.meter.ChConnected(2));
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
    TrayLineState line;
    line.routerAway = !link.LoggedIn() || link.Lost();
    for (int16_t c = 1; c <= 2; ++c)
        if (meter.ChConnected(c)) line.channel = c;
    // A line that may be up and cannot be cut is said also without the live tip.
    if (settings.traytip == 0 && !(line.routerAway && line.channel != 0)) {
        tray.ShowTip(kTrayTip);
        return;
    }
    line.elapsedSecs = meter.Call().ElapsedSecs;
    line.amountYen = int64_t{meter.Call().CallUnits} * settings.ctanni;
    tray.ShowTip(LiveTrayTip(line));
}

}  // namespace kv
