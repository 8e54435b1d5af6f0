#include "app/commands.h"

#include <map>

#include "accounting/accounting.h"
#include "app/startup.h"
#include "app/trace.h"
#include "common/cp932.h"
#include "link/link.h"
#include "settings/settings.h"

namespace kv {

namespace {

// "#": the number without leading zeros, nothing for 0.
std::string FormatHash(int64_t n) {
    return n == 0 ? std::string() : std::to_string(n);
}

const char* const kLineBreak = "\n\r";

}  // namespace

void BtnConnect_Click(Context& cx) {
    Connect(cx, cx.settings.cnctno);
}

void BtnDisConnect_Click(Context& cx) {
    DisConnect(cx, cx.status.CurrentChannel());
}

void ChkAutoMode_Click(Context& cx) {
    if (cx.link.LoggedIn == 1) SwitchRemoteAuto(cx);
}

std::optional<int> BtnSize_Click(Context& cx) {
    static constexpr int kHeights[5] = {2050, 2650, 3250, 3850, 1560};
    int16_t& step = cx.settings.sizehigh;
    if (step < 0 || step > 4) return std::nullopt;
    const int height = kHeights[step];
    step = static_cast<int16_t>(step == 4 ? 0 : step + 1);
    SaveIntSetting(*cx.ports.store, "Variant", "sizehigh", step);
    return height;
}

void ChkTopDsp_Click(Context& cx, int value) {
    cx.settings.dsptop = static_cast<int16_t>(value);
    SaveIntSetting(*cx.ports.store, "Setup", "dsptop", cx.settings.dsptop);
    if (value != 0) {
        cx.ports.view->SetTopmost(true);
        ShowHint(cx, "最上位表示設定");
    } else {
        cx.ports.view->SetTopmost(false);
        ShowHint(cx, "最上位表示解除");
    }
}

void Lbl3_Click(Context& cx) {
    RollTotals(cx);
    // 64-bit products: the 16-bit originals overflowed above 32767 yen.
    const int64_t unit = cx.settings.ctanni;
    if (cx.settings.dosuumode != 0) {
        cx.settings.dosuumode = 0;
        cx.ports.view->SetLabelCaption(3, "当月累積");
        cx.ports.view->SetLcdText(3, FormatYen(int64_t{cx.totals.MonthUnits} * unit));
    } else {
        cx.settings.dosuumode = 1;
        cx.ports.view->SetLabelCaption(3, "当日累積");
        cx.ports.view->SetLcdText(3, FormatYen(int64_t{cx.totals.DayUnits} * unit));
    }
    ShowHint(cx, "先月累積:" + FormatYen(int64_t{cx.totals.PrevMonthUnits} * unit));
}

void LCD3_Click(Context& cx) {
    Lbl3_Click(cx);
}

void LCD0_DblClick(Context& cx) {
    ToggleCutBreak(cx);
}

void mnuCutBrk_Click(Context& cx) {
    ToggleCutBreak(cx);
}

void mnuB0_Click(Context& cx) {
    cx.DisplayChannel = 0;
}

void mnuB12_Click(Context& cx) {
    switch (cx.DisplayChannel) {
        case 1:
            cx.DisplayChannel = 2;
            break;
        case 2:
            cx.DisplayChannel = 1;
            break;
        default:
            // The first press shows the channel other than the one in use.
            cx.DisplayChannel = cx.status.CurrentChannel() == 1 ? 2 : 1;
            break;
    }
}

void mnuInit_Click(Context& cx) {
    if (cx.hooks.ShowSetupDialog) cx.hooks.ShowSetupDialog();
}

void mnuSOHO_Click(Context& cx) {
    cx.ports.shell->Open("http://" + cx.settings.sohoip);
}

void mnuLOG_Click(Context& cx) {
    if (cx.hooks.ShowLogViewer) cx.hooks.ShowLogViewer();
}

void mnuHELP_Click(Context& cx) {
    cx.ports.shell->Open(cx.AppPath + "/使用方法.htm");
}

std::string AboutText() {
    return std::string("Kestrovan ") + kVersionText +
           "\n\n"
           "ISDNルータ MN128-SOHO の監視と電話料金の計測\n"
           "作者: Kestrovan 開発グループ\n"
           "連絡先: 同梱の 使用方法.htm をご覧ください";
}

void mnuVER_Click(Context& cx) {
    cx.ports.view->MessageBox(AboutText(), "ABOUT Kestrovan", MsgIcon::Information, MsgButtons::Ok);
}

void mnuLastInfo_Click(Context& cx) {
    cx.ports.view->MessageBox(cx.LastInformation, "", MsgIcon::None, MsgButtons::Ok);
}

void BtnMsg_Click(Context& cx) {
    if (cx.MessageWindowOpen == 0) {
        cx.MessageWindowOpen = 1;
        cx.ports.view->ShowMessageWindow();
    } else {
        cx.MessageWindowOpen = 0;
        cx.ports.view->CloseMessageWindow();
    }
}

std::string DebugSummary(Context& cx) {
    const LocalTime now = cx.ports.clock->Now();
    const bool pollOn = cx.ports.tmrSOHO && cx.ports.tmrSOHO->Enabled();
    std::string s;
    s += "Connect:B" + FormatHash(cx.status.CurrentChannel()) + kLineBreak;
    s += "StsDsp:B" + FormatHash(cx.DisplayChannel) + kLineBreak;
    s += "holiday:" + std::to_string(IsHoliday(cx, now.date)) + kLineBreak;
    s += "tmrSOHO:(sw:" + std::to_string(cx.link.LinkReady) + ") sub:" + cx.link.ActivityTag +
         kLineBreak;
    s += std::string(pollOn ? "true" : "false") + kLineBreak;
    s += "秒adjust:" + std::to_string(cx.link.ClockOffset) + "  ＋はPCが進んでいる" + kLineBreak;
    s += "接続adjust:" + std::to_string(cx.call.ConnectAdjust) + kLineBreak;
    s += "recv:" + Utf16ToUtf8(cx.link.ReplyText) + "@@";
    return s;
}

void BtnDEBUG_Click(Context& cx) {
    cx.ports.view->MessageBox(DebugSummary(cx), "", MsgIcon::None, MsgButtons::Ok);
}

void WireMainTimers(Context& cx) {
    cx.ports.tmrSOHO->SetHandler([&cx] { tmrSOHO_Timer(cx); });
    cx.ports.tmrDSP->SetHandler([&cx] { tmrDSP_Timer(cx); });
    cx.ports.Tmr1Sec->SetHandler([&cx] { Tmr1Sec_Timer(cx); });
}

void tmrSOHO_Timer(Context& cx) {
    if (cx.link.LinkReady == 1) GetNow(cx);
    // The poll runs all day, calls or not: it moves the running totals to a new accounting
    // day or period so the figures shown between calls are today's.
    RollTotals(cx);
}

void tmrDSP_Timer(Context& cx) {
    Second_ck(cx);
}

void Tmr1Sec_Timer(Context& cx) {
    // Off first: action 1 ends the program and does not come back here.
    if (cx.ports.Tmr1Sec) cx.ports.Tmr1Sec->SetEnabled(false);
    switch (cx.DelayedAction) {
        case 1: {
            int16_t cancel = 0;
            Form_QueryUnload(cx, cancel, 1);
            break;
        }
        case 2:
            cx.ports.view->HideMainWindow();
            break;
        case 3:
            SetStatusText(cx, "");
            break;
        default:
            break;
    }
}

std::string HintFor(const std::string& controlName) {
    static const std::map<std::string, std::string> hints = {
        {"BtnConnect", "回線を接続します"}, {"BtnDisConnect", "回線を切断します"},
        {"BtnSize", "画面長を調整します"},  {"ChkAutoMode", "自動接続の抑制"},
        {"ChkTopDsp", "最上位表示設定"},
    };
    const auto it = hints.find(controlName);
    return it == hints.end() ? std::string() : it->second;
}

}  // namespace kv
