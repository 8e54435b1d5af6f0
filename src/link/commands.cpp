// The commands that act on the ISDN line: connect, disconnect, the automatic-call switch.
#include <string>

#include "accounting/accounting.h"
#include "app/trace.h"
#include "link/link.h"
#include "common/cp932.h"
#include "link/link_text.h"
#include "settings/settings.h"

namespace kv {

namespace {

void StartExchange(Context& cx, const std::string& command) {
    cx.link.SendText = Utf8ToUtf16(command);
    cx.link.ReplyText.clear();
    cx.link.PendingReceives = 1;
    Sendbyte(cx);
}

void ShowPending(Context& cx) {
    if (cx.MessageWindowOpen == 1)
        cx.ports.view->SetMessageText(std::to_string(cx.link.PendingReceives) + "\n\r" +
                                      link::Visible(cx.link.ReplyText));
}

}  // namespace

void Connect(Context& cx, int16_t number) {
    cx.link.LinkReady = 0;
    WriteTrace(cx, 4, "Connect");
    StartExchange(cx, "connect " + std::to_string(number));
    ShowPending(cx);
    if (!WaitReply(cx, cx.link.RouterName)) EndProgram(cx, 1, "MN128と接続出来ません(err=4)");
    cx.link.LinkReady = 1;
}

void DisConnect(Context& cx, int16_t channel) {
    WriteTrace(cx, 4, "DisConnect");
    const int16_t was = cx.link.LinkReady;
    cx.link.LinkReady = 0;
    if (was == 0) {
        // Another exchange holds the link; the next poll sends it.
        cx.link.DisconnectPending = 1;
        return;
    }
    StartExchange(cx, "disconnect b" + (channel != 0 ? std::to_string(channel) : std::string()));
    // The record closes now, not when the router answers.
    CntEnd(cx, channel);
    ShowPending(cx);
    if (!WaitReply(cx, cx.link.RouterName)) {
        cx.ports.view->MessageBox(std::to_string(cx.link.PendingReceives) + "\n\r" +
                                      link::Visible(cx.link.ReplyText),
                                  "", MsgIcon::None, MsgButtons::Ok);
        EndProgram(cx, 1, "MN128と接続出来ません(err=5)");
    }
    if (cx.settings.dspinfo == 1) {
        std::u16string info;
        ExtractField(1, link::WithoutFillers(cx.link.ReplyText), u"切断中",
                     std::u16string(link::kLineBreak),
                     cx.link.RouterName, info);
        ShowMessage(cx, link::Visible(info));
    }
    cx.link.LinkReady = 1;
}

void SwitchRemoteAuto(Context& cx) {
    cx.link.LinkReady = 0;
    std::string word, hint;
    // The tray's check mark shows the suppression, so it is the opposite of rmtauto.
    if (cx.settings.rmtauto != 1) {
        cx.settings.rmtauto = 1;
        cx.ports.view->SetMenuChecked(MenuItem::TrayRight3, false);
        word = "on";
        hint = "自動接続可能に変更";
    } else {
        cx.settings.rmtauto = 0;
        cx.ports.view->SetMenuChecked(MenuItem::TrayRight3, true);
        word = "off";
        hint = "自動接続不可に変更";
    }
    ShowHint(cx, hint);
    StartExchange(cx, "remote " + std::to_string(cx.settings.cnctno) + " call auto " + word);
    if (!WaitReply(cx, cx.link.RouterName)) EndProgram(cx, 1, "接続切替登録が出来ません(err=10)");
    if (!SaveIntSetting(*cx.ports.store, "Variant", "rmtauto", cx.settings.rmtauto))
        WriteTrace(cx, 3, "rmtauto store err:" + std::to_string(cx.settings.rmtauto));
    cx.link.LinkReady = 1;
}

}  // namespace kv
