// The status poll and the parser of the router's status report.
#include <cstdint>
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"
#include "settings/settings.h"

namespace kv {

namespace {

std::string Field(int start, const std::u16string& text, const char16_t* label,
                  const std::u16string& close = u"]") {
    std::u16string out;
    ExtractField(start, text, label, u"[", close, out);
    return Utf16ToUtf8(out);
}

bool ValidChannel(int16_t channel) {
    return channel == 1 || channel == 2;
}

}  // namespace

void ConsoleLink::GetNow() {
    Hold();
    link_.ActivityTag = "getnow";
    trace_.Step("GetNow-st");
    trace_.ShowDebugStep("get now" + FormatTime(ports_.clock.Now().time));

    link_.SendText = u"show status";
    ClearReply();
    link_.PendingReceives = 1;
    Sendbyte();
    if (!WaitReply(link_.RouterName)) {
        // A router that has stopped answering altogether is logged in to again.
        if (!lost_) {
            trace_.Error("no recv:" + ForTrace(link_.ReplyText));
            ConnectionLost("no answer to the status poll");
        }
        Release(/*withHangUp=*/false);
        return;
    }
    const std::u16string report = link::WithoutFillers(link_.ReplyText);
    if (link::FindText(1, report, u"回線種別:ISDN", true) == 0) {
        ports_.view.MessageBox(link::Visible(link_.ReplyText), "", MsgIcon::None, MsgButtons::Ok);
        trace_.Error("no isdn" + ForTrace(link_.ReplyText));
        Release(/*withHangUp=*/false);
        return;
    }
    // A report whose channel blocks cannot be found reads as a line without calls; say why once.
    if (!reportedUnreadable_ && link::FindText(1, report, u"B1チャネル", true) == 0 &&
        link::FindText(1, report, u"B2チャネル", true) == 0) {
        reportedUnreadable_ = true;
        trace_.Error("no channel blocks:" + ForTrace(report.substr(0, 200)));
    }

    ParseChannelStatus(1);
    UpdateAutoCutState(1);
    ParseChannelStatus(2);
    UpdateAutoCutState(2);

    int16_t& current = status_.CurrentChannel;
    current = 0;
    if (status_.ChannelStatus[1].Mode == kTerminalMode) current = 1;
    if (status_.ChannelStatus[2].Mode == kTerminalMode) current = 2;

    ShowChannelStatus(displayChannel_ != 0 ? displayChannel_ : current);

    if (current > 0 && !calls_.CallOpen(current)) {
        calls_.CallUp(current, status_.ChannelStatus[current].ConnectTime);
    } else if (current == 0 && (calls_.CallOpen(1) || calls_.CallOpen(2))) {
        calls_.CallDown(1);
        calls_.CallDown(2);
    }

    link_.LinkReady = !lost_;
    if (link_.DisconnectPending) {
        DisConnect(status_.CurrentChannel);
        link_.DisconnectPending = false;
    }
    trace_.Step("GetNow-end");
    Release();
}

void ConsoleLink::ParseChannelStatus(int16_t channel) {
    if (!ValidChannel(channel)) return;
    const std::u16string reply = link::WithoutFillers(link_.ReplyText);
    ChannelStatusRecord& rec = status_.ChannelStatus[channel];

    const std::u16string header = u"B" + Utf8ToUtf16(std::to_string(channel)) + u"チャネル";
    std::u16string ignored;
    // The header's line may end in LF CR, as the router's lines do, or in CR LF or CR alone.
    int anchor = ExtractField(1, reply, header, u":", u"\n", ignored);
    if (anchor == 0) anchor = ExtractField(1, reply, header, u":", u"\r", ignored);

    // Without its header the channel has no block of its own: it carries no connection.
    rec.Mode = anchor > 0 ? Field(anchor, reply, u"接続モード") : std::string();
    if (rec.Mode != kTerminalMode) {
        status_.LineState[channel] = false;
        rec.ConnectTime.clear();
        rec.PeerNumber.clear();
        rec.IpAddress.clear();
        rec.Usage.clear();
        rec.AutoCutTime.clear();
        rec.Elapsed.clear();
        rec.IdleSeconds = 0;
        return;
    }
    status_.LineState[channel] = true;
    rec.ConnectTime = Field(anchor, reply, u"接続時刻");
    rec.PeerNumber = Field(anchor, reply, u"相手先電話番号");
    rec.IpAddress = Field(anchor, reply, u"割り当てIPアドレス");
    rec.Usage = Field(anchor, reply, u"回線使用率");
    rec.AutoCutTime = Field(anchor, reply, u"自動切断時間");
    rec.Elapsed = Field(anchor, reply, u"経過時間");
    // Numbers beyond 16 bits are clamped rather than wrapped.
    rec.IdleSeconds = ParseSettingInt(Field(anchor, reply, u"自動切断時間", u"/")).value;
}

void ConsoleLink::UpdateAutoCutState(int16_t channel) {
    if (!ValidChannel(channel)) return;
    const ChannelStatusRecord& rec = status_.ChannelStatus[channel];
    if (rec.Mode != kTerminalMode) return;
    const uint32_t old = status_.LcdColour;
    const bool flatRate = calls_.CallTariff() == TariffMode::FlatRate;
    status_.AutoCutArmed =
        rec.IdleSeconds >= settings_.atcuttm && settings_.atcutmode == 1 && !cutBreak_ && !flatRate;
    if (flatRate)
        status_.LcdColour = kColourYellow;
    else if (status_.AutoCutArmed)
        status_.LcdColour = kColourRed;
    else
        status_.LcdColour = kColourGreen;
    if (status_.LcdColour != old) {
        ports_.view.SetLcdColour(5, status_.LcdColour);
        ports_.view.SetLcdColour(6, status_.LcdColour);
    }
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
    MainView& view = ports_.view;
    if (rec.Mode == kTerminalMode) {
        view.SetLcdText(0, rec.Mode + "(B" + std::to_string(status_.CurrentChannel) + ")");
        view.SetLcdText(6, rec.IdleSeconds <= 5 ? "0" : std::to_string(rec.IdleSeconds));
        view.SetLcdText(7, rec.Usage);
        view.SetLcdText(8, FormatTime(calls_.CallSeenAt()));
        view.SetLcdText(11, std::to_string(static_cast<int>(calls_.CallTariff())));
    } else {
        view.SetLcdText(0, rec.Mode);
        view.SetLcdText(6, "");
        view.SetLcdText(7, "");
        view.SetLcdText(8, "");
        view.SetLcdText(11, "");
    }
}

}  // namespace kv
