// SPDX-License-Identifier: GPL-3.0-or-later
// The status poll: the report asked for, read into the snapshot, shown and handed to the meter.
#include <algorithm>
#include <cstdint>
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

namespace {

bool ValidChannel(int16_t channel) {
    return channel == 1 || channel == 2;
}

}  // namespace

void ConsoleLink::GetNow() {
    queue_.Hold();
    session_.Mutable().ActivityTag = "getnow";
    trace_.Step("GetNow-st");
    trace_.ShowDebugStep("get now" + FormatTime(ports_.clock.Now().time));
    polling_ = true;
    if (!calls_.CallOpen(1) && !calls_.CallOpen(2)) {
        Exchange("show status", 1, State().RouterName, [this](bool ok) { PollAnswered(ok); });
        return;
    }
    // During a call a router that does not answer must be known at once: the line may be up
    // and cannot be cut from here. One attempt, over once nothing has been heard for ten
    // seconds (never less than eight for the poll itself).
    session_.StartExchange("show status");
    session_.Mutable().PendingReceives = 1;
    const int64_t now = ports_.clock.MonotonicMs();
    queue_.AwaitUntil(State().RouterName,
                      std::max(queue_.LastReplyAtMs() + kSilentMs, now + kSilentMs - 2000),
                      [this](bool ok) { PollAnswered(ok); });
}

void ConsoleLink::PollAnswered(bool ok) {
    polling_ = false;
    const LinkState& link = State();
    if (!ok) {
        // A router that has stopped answering altogether is logged in to again.
        if (!lost_) {
            trace_.Error("no recv:" + ForTrace(link.ReplyText));
            ConnectionLost("no answer to the status poll");
        }
        queue_.Release(/*withHangUp=*/false);
        return;
    }
    const std::u16string report = link::WithoutFillers(link.ReplyText);
    if (!report::IsIsdn(report)) {
        ports_.view.ShowBox(link::Visible(link.ReplyText), "");
        trace_.Error("no isdn" + ForTrace(link.ReplyText));
        queue_.Release(/*withHangUp=*/false);
        return;
    }
    // A report whose channel blocks cannot be found reads as a line without calls; say why once.
    if (!reportedUnreadable_ && !report::HasChannelBlocks(report)) {
        reportedUnreadable_ = true;
        trace_.Error("no channel blocks:" + ForTrace(report.substr(0, 200)));
    }

    ParseBothChannels();
    const auto up = [this](int16_t c) { return status_.ChannelStatus[c].Mode == kTerminalMode; };
    int16_t metered = calls_.CallOpen(1) ? 1 : calls_.CallOpen(2) ? 2 : 0;

    // The channel whose call is metered stays the one in use while it is up. One that comes
    // up beside it is metered once it has gone, from its own connect time, so every second
    // of each is charged once.
    int16_t& current = status_.CurrentChannel;
    current = 0;
    if (up(1)) current = 1;
    if (up(2)) current = 2;
    if (metered > 0 && up(metered)) current = metered;

    if (current == 0 && metered > 0) {
        calls_.CallDown(1);
        calls_.CallDown(2);
    } else if (metered > 0 && !up(metered)) {
        calls_.CallDown(metered);
    }
    if (current > 0 && !calls_.CallOpen(current))
        calls_.CallUp(current, status_.ChannelStatus[current].ConnectTime);
    // Judged once the call's tariff is known: a night call seen just before a unit boundary
    // is never armed for a cut.
    JudgeAutoCut();
    ShowChannelStatus(displayChannel_ != 0 ? displayChannel_ : current);
    trace_.Step("GetNow-end");
    // A cut asked for meanwhile goes out first.
    queue_.Release(true);
}

void ConsoleLink::ParseBothChannels() {
    ParseChannelStatus(1);
    ParseChannelStatus(2);
}

void ConsoleLink::JudgeAutoCut() {
    const int16_t channel = status_.CurrentChannel;
    if (ValidChannel(channel) && calls_.CallOpen(channel)) {
        UpdateAutoCutState(channel);
        return;
    }
    // No call metered: nothing to cut.
    status_.AutoCutArmed = false;
}

void ConsoleLink::ParseChannelStatus(int16_t channel) {
    if (!ValidChannel(channel)) return;
    status_.ChannelStatus[channel] =
        report::ReadChannel(link::WithoutFillers(State().ReplyText), channel);
    status_.LineState[channel] = status_.ChannelStatus[channel].Mode == kTerminalMode;
}

void ConsoleLink::UpdateAutoCutState(int16_t channel) {
    if (!ValidChannel(channel)) return;
    const ChannelStatusRecord& rec = status_.ChannelStatus[channel];
    if (rec.Mode != kTerminalMode) return;
    const CutState old = status_.Cut;
    const bool flatRate = calls_.CallTariff() == TariffMode::FlatRate;
    status_.AutoCutArmed =
        rec.IdleSeconds >= settings_.atcuttm && settings_.atcutmode == 1 && !cutBreak_ && !flatRate;
    if (flatRate)
        status_.Cut = CutState::FlatRate;
    else if (status_.AutoCutArmed)
        status_.Cut = CutState::Armed;
    else
        status_.Cut = CutState::Normal;
    if (status_.Cut != old) ports_.view.ShowCutState(status_.Cut);
}

void ConsoleLink::SetCutBreak(bool on) {
    cutBreak_ = on;
    if (on) status_.AutoCutArmed = false;
}

void ConsoleLink::ResetLineState() {
    status_.LineState[1] = false;
    status_.LineState[2] = false;
    displayChannel_ = 0;
}

void ConsoleLink::ShowChannelStatus(int16_t channel) {
    if (channel < 0 || channel > 2) channel = 0;
    const ChannelStatusRecord& rec = status_.ChannelStatus[channel];
    LinkView& view = ports_.view;
    if (rec.Mode == kTerminalMode) {
        view.ShowFigure(LinkFigure::Mode,
                        rec.Mode + "(B" + std::to_string(status_.CurrentChannel) + ")");
        view.ShowFigure(LinkFigure::Idle,
                        rec.IdleSeconds <= 5 ? "0" : std::to_string(rec.IdleSeconds));
        view.ShowFigure(LinkFigure::Usage, rec.Usage);
        view.ShowFigure(LinkFigure::SeenAt, FormatTime(calls_.CallSeenAt()));
        view.ShowFigure(LinkFigure::Tariff, std::to_string(static_cast<int>(calls_.CallTariff())));
    } else {
        view.ShowFigure(LinkFigure::Mode, rec.Mode);
        for (LinkFigure f :
             {LinkFigure::Idle, LinkFigure::Usage, LinkFigure::SeenAt, LinkFigure::Tariff})
            view.ShowFigure(f, "");
    }
}

}  // namespace kv
