// The status poll and the parser of the router's status report.
#include <cstdint>
#include <string>

#include "accounting/accounting.h"
#include "app/trace.h"
#include "link/link.h"
#include "common/cp932.h"
#include "link/link_text.h"
#include "settings/settings.h"

namespace kv {

namespace {

const std::string kTerminalMode = "端末型";

std::string Field(int16_t start, const std::u16string& text, const char16_t* label,
                  const std::u16string& close = u"]") {
    std::u16string out;
    ExtractField(start, text, label, u"[", close, out);
    return Utf16ToUtf8(out);
}

bool ValidChannel(int16_t channel) { return channel == 1 || channel == 2; }

}  // namespace

void GetNow(Context& cx) {
    cx.link.LinkReady = 0;
    cx.link.ActivityTag = "getnow";
    WriteTrace(cx, 4, "GetNow-st");
    ShowDebugStep(cx, "get now" + FormatTime(cx.ports.clock->Now().time));

    cx.link.SendText = u"show status";
    cx.link.ReplyText.clear();
    cx.link.PendingReceives = 1;
    Sendbyte(cx);
    if (!WaitReply(cx, cx.link.RouterName)) {
        WriteTrace(cx, 3, "no recv:" + link::Visible(cx.link.ReplyText));
        cx.link.LinkReady = 1;
        return;
    }
    const std::u16string report = link::WithoutFillers(cx.link.ReplyText);
    if (link::FindText(1, report, u"回線種別:ISDN", true) == 0) {
        cx.ports.view->MessageBox(link::Visible(cx.link.ReplyText), "", MsgIcon::None,
                                  MsgButtons::Ok);
        WriteTrace(cx, 3, "no isdn" + link::Visible(cx.link.ReplyText));
        cx.link.LinkReady = 1;
        return;
    }
    // Field positions are 16-bit: the blocks of a longer report cannot be found, and reading
    // it as a report without a connected channel would close a call that is still up.
    if (report.size() > static_cast<size_t>(INT16_MAX)) {
        WriteTrace(cx, 3, "too long:" + std::to_string(report.size()));
        cx.link.LinkReady = 1;
        return;
    }

    ParseChannelStatus(cx, 1);
    UpdateAutoCutState(cx, 1);
    ParseChannelStatus(cx, 2);
    UpdateAutoCutState(cx, 2);

    int16_t& current = cx.status.CurrentChannel();
    current = 0;
    if (cx.status.ChannelStatus[1].Mode == kTerminalMode) current = 1;
    if (cx.status.ChannelStatus[2].Mode == kTerminalMode) current = 2;

    ShowChannelStatus(cx, cx.DisplayChannel != 0 ? cx.DisplayChannel : current);

    if (current > 0 && cx.call.ChConnected[current] == 0) {
        CntSt(cx, current);
    } else if (current == 0 && (cx.call.ChConnected[1] == 1 || cx.call.ChConnected[2] == 1)) {
        CntEnd(cx, 1);
        CntEnd(cx, 2);
    }

    cx.link.LinkReady = 1;
    if (cx.link.DisconnectPending == 1) {
        DisConnect(cx, cx.status.CurrentChannel());
        cx.link.DisconnectPending = 0;
    }
    WriteTrace(cx, 4, "GetNow-end");
}

void ParseChannelStatus(Context& cx, int16_t channel) {
    if (!ValidChannel(channel)) return;
    const std::u16string reply = link::WithoutFillers(cx.link.ReplyText);
    ChannelStatusRecord& rec = cx.status.ChannelStatus[channel];

    const std::u16string header = u"B" + Utf8ToUtf16(std::to_string(channel)) + u"チャネル";
    std::u16string ignored;
    const int16_t anchor =
        ExtractField(1, reply, header, u":", std::u16string(link::kLineBreak), ignored);

    // Without its header the channel has no block of its own: it carries no connection.
    rec.Mode = anchor > 0 ? Field(anchor, reply, u"接続モード") : std::string();
    if (rec.Mode != kTerminalMode) {
        cx.status.LineState[channel] = 0;
        rec.ConnectTime.clear();
        rec.PeerNumber.clear();
        rec.IpAddress.clear();
        rec.Usage.clear();
        rec.AutoCutTime.clear();
        rec.Elapsed.clear();
        rec.IdleSeconds = 0;
        return;
    }
    cx.status.LineState[channel] = 1;
    rec.ConnectTime = Field(anchor, reply, u"接続時刻");
    rec.PeerNumber = Field(anchor, reply, u"相手先電話番号");
    rec.IpAddress = Field(anchor, reply, u"割り当てIPアドレス");
    rec.Usage = Field(anchor, reply, u"回線使用率");
    rec.AutoCutTime = Field(anchor, reply, u"自動切断時間");
    rec.Elapsed = Field(anchor, reply, u"経過時間");
    // Numbers beyond 16 bits are clamped rather than wrapped.
    rec.IdleSeconds = ParseSettingInt(Field(anchor, reply, u"自動切断時間", u"/")).value;
}

void UpdateAutoCutState(Context& cx, int16_t channel) {
    if (!ValidChannel(channel)) return;
    const ChannelStatusRecord& rec = cx.status.ChannelStatus[channel];
    if (rec.Mode != kTerminalMode) return;
    const uint32_t old = cx.status.LcdColour;
    const bool flatRate = cx.call.TariffMode == 9;
    cx.status.AutoCutArmed = (rec.IdleSeconds >= cx.settings.atcuttm &&
                              cx.settings.atcutmode == 1 && cx.CutBreak == 0 && !flatRate)
                                 ? 1
                                 : 0;
    if (flatRate)
        cx.status.LcdColour = kColourYellow;
    else if (cx.status.AutoCutArmed == 1)
        cx.status.LcdColour = kColourRed;
    else
        cx.status.LcdColour = kColourGreen;
    if (cx.status.LcdColour != old) {
        cx.ports.view->SetLcdColour(5, cx.status.LcdColour);
        cx.ports.view->SetLcdColour(6, cx.status.LcdColour);
    }
}

void ShowChannelStatus(Context& cx, int16_t channel) {
    if (channel < 0 || channel > 2) channel = 0;
    const ChannelStatusRecord& rec = cx.status.ChannelStatus[channel];
    MainView& view = *cx.ports.view;
    if (rec.Mode == kTerminalMode) {
        view.SetLcdText(0, rec.Mode + "(B" + std::to_string(cx.status.CurrentChannel()) + ")");
        view.SetLcdText(6, rec.IdleSeconds <= 5 ? "0" : std::to_string(rec.IdleSeconds));
        view.SetLcdText(7, rec.Usage);
        view.SetLcdText(8, FormatTime(cx.call.CntStTime));
        view.SetLcdText(11, std::to_string(cx.call.TariffMode));
    } else {
        view.SetLcdText(0, rec.Mode);
        view.SetLcdText(6, "");
        view.SetLcdText(7, "");
        view.SetLcdText(8, "");
        view.SetLcdText(11, "");
    }
}

}  // namespace kv
