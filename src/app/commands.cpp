// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"

#include <filesystem>
#include <map>

#include "accounting/tariff.h"
#include "app/startup.h"
#include "common/cp932.h"
#include "common/data_file.h"
#include "common/licence.h"
#include "link/link_text.h"
#include "settings/settings.h"

namespace kv {

namespace {

// "#": the number without leading zeros, nothing for 0.
std::string FormatHash(int64_t n) {
    return n == 0 ? std::string() : std::to_string(n);
}

const char* const kLineBreak = "\n\r";
const char* const kNotStored = "設定を保存できませんでした";

}  // namespace

void ShowHint(Context& cx, const std::string& text) {
    cx.ports.view.SetStatusText(text);
    cx.delayed.Arm(DelayedAction::ClearStatus, 5000);
}

bool StoreOneSetting(Context& cx, const char* word, const char* key, int16_t value) {
    if (SaveIntSetting(cx.ports.store, word, key, value)) return true;
    const std::string why = cx.ports.store.LastError();
    cx.trace.Error(std::string("setting err:") + key + "=" + std::to_string(value) +
                   (why.empty() ? "" : " (" + why + ")"));
    ShowHint(cx, why.empty() ? std::string(kNotStored) : kNotStored + (" (" + why + ")"));
    return false;
}

void SwitchRemoteAuto(Context& cx) {
    if (cx.link.Lost()) {
        // Not switched while the router is away: the box shows the setting as it stands.
        cx.ports.view.SetStatusText("MN128未接続");
        cx.ports.view.ShowCheckBox(CheckBox::ChkAutoMode, cx.settings.rmtauto);
        return;
    }
    const int16_t was = cx.settings.rmtauto;
    cx.link.Hold();
    std::string word, hint;
    // The tray's check mark shows the suppression, so it is the opposite of rmtauto.
    if (cx.settings.rmtauto != 1) {
        cx.settings.rmtauto = 1;
        cx.ports.view.SetMenuChecked(MenuItem::TrayRight3, false);
        word = "on";
        hint = "自動接続可能に変更";
    } else {
        cx.settings.rmtauto = 0;
        cx.ports.view.SetMenuChecked(MenuItem::TrayRight3, true);
        word = "off";
        hint = "自動接続不可に変更";
    }
    ShowHint(cx, hint);
    cx.link.Command(
        "remote " + std::to_string(cx.settings.cnctno) + " call auto " + word, [&cx, was](bool ok) {
            if (ok) {
                StoreOneSetting(cx, "Variant", "rmtauto", cx.settings.rmtauto);
                cx.link.Release();
                return;
            }
            if (!cx.link.Lost())
                EndProgram(cx, EndMode::WithMessage, "接続切替登録が出来ません(err=10)");
            // The connection went while waiting: nothing was switched.
            cx.settings.rmtauto = was;
            cx.ports.view.SetMenuChecked(MenuItem::TrayRight3, was != 1);
            cx.link.Release(/*withHangUp=*/false);
        });
}

void ToggleCutBreak(Context& cx) {
    MainView& v = cx.ports.view;
    const bool checked = !v.MenuChecked(MenuItem::MainCutBrk);
    v.SetMenuChecked(MenuItem::MainCutBrk, checked);
    v.SetMenuChecked(MenuItem::TrayCutBrk, checked);
    v.SetLcdColour(0, kColourGreen);
    if (checked) {
        v.SetLcdColour(0, kColourYellow);
        cx.link.SetCutBreak(true);
    } else {
        v.SetLcdColour(0, kColourGreen);
        cx.link.SetCutBreak(false);
    }
}

void BtnConnect_Click(Context& cx) {
    cx.link.Connect(cx.settings.cnctno);
}

void BtnDisConnect_Click(Context& cx) {
    cx.link.DisConnect(cx.link.CurrentChannel());
}

void ChkAutoMode_Click(Context& cx) {
    // Clicked while another command waits for its reply: switched when that one is answered.
    if (cx.link.LoggedIn()) cx.link.WhenFree([&cx] { SwitchRemoteAuto(cx); });
}

std::optional<int> BtnSize_Click(Context& cx) {
    static constexpr int kHeights[5] = {2050, 2650, 3250, 3850, 1560};
    int16_t& step = cx.settings.sizehigh;
    if (step < 0 || step > 4) return std::nullopt;
    const int height = kHeights[step];
    step = static_cast<int16_t>(step == 4 ? 0 : step + 1);
    StoreOneSetting(cx, "Variant", "sizehigh", step);
    return height;
}

void ChkTopDsp_Click(Context& cx, int value) {
    cx.settings.dsptop = static_cast<int16_t>(value);
    const bool stored = StoreOneSetting(cx, "Setup", "dsptop", cx.settings.dsptop);
    if (value != 0) {
        cx.ports.view.SetTopmost(true);
        ShowHint(cx, "最上位表示設定");
    } else {
        cx.ports.view.SetTopmost(false);
        ShowHint(cx, "最上位表示解除");
    }
    if (!stored) ShowHint(cx, kNotStored);
}

void Lbl3_Click(Context& cx) {
    cx.meter.RollTotals();
    const ChargeTotals& totals = cx.meter.Totals();
    // 64-bit products: the 16-bit originals overflowed above 32767 yen.
    const int64_t unit = cx.settings.ctanni;
    if (cx.settings.dosuumode != 0) {
        cx.settings.dosuumode = 0;
        cx.ports.view.SetLabelCaption(3, "当月累積");
        cx.ports.view.SetLcdText(3, FormatYen(int64_t{totals.MonthUnits} * unit));
    } else {
        cx.settings.dosuumode = 1;
        cx.ports.view.SetLabelCaption(3, "当日累積");
        cx.ports.view.SetLcdText(3, FormatYen(int64_t{totals.DayUnits} * unit));
    }
    ShowHint(cx, "先月累積:" + FormatYen(int64_t{totals.PrevMonthUnits} * unit));
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
    cx.link.SetDisplayChannel(0);
}

void mnuB12_Click(Context& cx) {
    switch (cx.link.DisplayChannel()) {
        case 1: cx.link.SetDisplayChannel(2); break;
        case 2: cx.link.SetDisplayChannel(1); break;
        default:
            // The first press shows the channel other than the one in use.
            cx.link.SetDisplayChannel(cx.link.CurrentChannel() == 1 ? 2 : 1);
            break;
    }
}

void mnuInit_Click(Context& cx) {
    if (cx.hooks.ShowSetupDialog) cx.hooks.ShowSetupDialog();
}

void mnuSOHO_Click(Context& cx) {
    cx.ports.shell.Open("http://" + cx.settings.sohoip);
}

void mnuLOG_Click(Context& cx) {
    if (cx.hooks.ShowLogViewer) cx.hooks.ShowLogViewer();
}

std::string FindHelpPage(const std::string& appPath, const std::vector<std::string>& folders) {
    const std::string beside = appPath + "/使用方法.htm";
    std::error_code ec;
    if (std::filesystem::is_regular_file(datafile::FsPath(beside), ec)) return beside;
    for (const std::string& folder : folders) {
        const std::string page = folder + "/使用方法.htm";
        if (std::filesystem::is_regular_file(datafile::FsPath(page), ec)) {
            const std::u8string normal =
                datafile::FsPath(page).lexically_normal().generic_u8string();
            return std::string(normal.begin(), normal.end());
        }
    }
    return beside;
}

void mnuHELP_Click(Context& cx) {
    const std::string page = FindHelpPage(cx.AppPath, cx.HelpFolders);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(datafile::FsPath(page), ec)) {
        cx.ports.view.MessageBox("ヘルプファイルが見つかりません:\n" + page, "",
                                 MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    auto failed = [&cx, page] {
        cx.ports.view.MessageBox("ヘルプを開くプログラム (ブラウザー) がありません:\n" + page, "",
                                 MsgIcon::Exclamation, MsgButtons::Ok);
    };
    if (!cx.ports.shell.OpenWatched(page, failed)) failed();
}

std::string AboutText() {
    return std::string("Kestrovan ") + kVersionText +
           "\n\n"
           "ISDNルータ MN128-SOHO の監視と電話料金の計測\n"
           "作者: Kestrovan 開発グループ\n" KV_LICENCE_ABOUT
           "\n"
           "連絡先・不具合の報告: 同梱の README.md の「連絡先」をご覧ください";
}

void mnuVER_Click(Context& cx) {
    cx.ports.view.MessageBox(AboutText(), "ABOUT Kestrovan", MsgIcon::Information, MsgButtons::Ok);
}

void SecondStart_Request(Context& cx) {
    cx.trace.Error("second start: window brought to the front");
    cx.ports.view.ShowMainWindow(true);
}

void mnuLastInfo_Click(Context& cx) {
    cx.ports.view.MessageBox(cx.link.LastInformation(), "", MsgIcon::None, MsgButtons::Ok);
}

void BtnMsg_Click(Context& cx) {
    if (!cx.link.MessageWindowOpen()) {
        cx.link.SetMessageWindowOpen(true);
        cx.ports.view.ShowMessageWindow();
    } else {
        cx.link.SetMessageWindowOpen(false);
        cx.ports.view.CloseMessageWindow();
    }
}

std::string DebugSummary(Context& cx) {
    const LocalTime now = cx.ports.clock.Now();
    const bool pollOn = cx.ports.tmrSOHO.Enabled();
    const LinkState& link = cx.link.State();
    std::string s;
    s += "Connect:B" + FormatHash(cx.link.CurrentChannel()) + kLineBreak;
    s += "StsDsp:B" + FormatHash(cx.link.DisplayChannel()) + kLineBreak;
    s += std::string("holiday:") + (IsHoliday(cx.settings, now.date) ? "1" : "0") + kLineBreak;
    s += "tmrSOHO:(sw:" + std::string(link.LinkReady ? "1" : "0") + ") sub:" + link.ActivityTag +
         kLineBreak;
    s += std::string(pollOn ? "true" : "false") + kLineBreak;
    s += "秒adjust:" + std::to_string(link.ClockOffset) + "  ＋はPCが進んでいる" + kLineBreak;
    s += "接続adjust:" + std::to_string(cx.meter.Call().ConnectAdjust) + kLineBreak;
    // Without the fillers between reads: hundreds of empty squares tell nobody anything.
    s += "recv:" + link::Visible(link.ReplyText) + "@@";
    return s;
}

void BtnDEBUG_Click(Context& cx) {
    // The reply shown is a whole one, not one still arriving.
    cx.link.WhenFree(
        [&cx] { cx.ports.view.MessageBox(DebugSummary(cx), "", MsgIcon::None, MsgButtons::Ok); });
}

void WireMainTimers(Context& cx) {
    cx.ports.tmrSOHO.SetHandler([&cx] { tmrSOHO_Timer(cx); });
    cx.ports.tmrDSP.SetHandler([&cx] { tmrDSP_Timer(cx); });
    cx.ports.Tmr1Sec.SetHandler([&cx] { Tmr1Sec_Timer(cx); });
}

void tmrSOHO_Timer(Context& cx) {
    if (cx.link.LinkReady()) {
        if (!PollWouldHoldUpCut(cx)) cx.link.GetNow();
    } else if (cx.link.Polling() && !cx.PollWaiting) {
        // A tick that falls while the last poll still waits for its reply is kept, once: the
        // next poll goes out as soon as that reply has come (a tick during another command's
        // exchange is dropped, as the link is not ready).
        cx.PollWaiting = true;
        cx.link.WhenFree([&cx] {
            cx.PollWaiting = false;
            if (cx.link.LinkReady() && !PollWouldHoldUpCut(cx)) cx.link.GetNow();
        });
    }
    // The poll runs all day, calls or not: it moves the running totals to a new accounting
    // day or period so the figures shown between calls are today's.
    cx.meter.RollTotals();
    cx.ShowTrayState();
}

bool PollWouldHoldUpCut(Context& cx) {
    if (!cx.link.Status().AutoCutArmed) return false;
    const std::optional<int32_t> toCut = cx.meter.SecondsToCut();
    if (!toCut) return false;
    // The cut must not wait behind a reply: a poll is left out when, at the pace the router
    // has lately answered, it would still hold the console when the cut falls due.
    const int64_t replyMs = cx.link.RecentReplyMs();
    if (replyMs < int64_t{*toCut} * 1000) return false;
    cx.trace.Step("poll held back for the cut");
    return true;
}

void tmrDSP_Timer(Context& cx) {
    // A plain tick: the meter never waits for the router, and a cut that falls due goes to the
    // head of the console's queue.
    cx.meter.Second_ck();
    cx.ShowTrayState();
}

void Tmr1Sec_Timer(Context& cx) {
    // Off first: Unload ends the program and does not come back here.
    cx.ports.Tmr1Sec.SetEnabled(false);
    switch (cx.delayed.Pending()) {
        case DelayedAction::Unload: {
            bool cancel = false;
            Form_QueryUnload(cx, cancel, UnloadMode::Program);
            break;
        }
        case DelayedAction::Hide:
            // Only a window the tray icon can bring back is hidden after a call.
            if (cx.tray.Docked()) cx.ports.view.HideMainWindow();
            break;
        case DelayedAction::ClearStatus: cx.ports.view.SetStatusText(""); break;
        case DelayedAction::None: break;
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
