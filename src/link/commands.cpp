// The commands that act on the ISDN line: connect and disconnect.
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

void ConsoleLink::Connect(int16_t number) {
    if (lost_) {
        ports_.view.SetStatusText("MN128未接続");
        return;
    }
    if (held_ > 0) {
        // Sent when the exchange now holding the console has its reply, and judged on its own.
        trace_.Step("Connect-defer");
        WhenFree([this, number] { Connect(number); });
        return;
    }
    Hold();
    trace_.Step("Connect");
    StartExchange("connect " + std::to_string(number));
    ShowPendingInMessageWindow("\n\r");
    if (!WaitReply(link_.RouterName)) {
        // The connection went while waiting: logged in again later, not the end of the program.
        if (lost_) {
            Release(/*withHangUp=*/false);
            return;
        }
        EndProgram(EndMode::WithMessage, "MN128と接続出来ません(err=4)");
    }
    Release();
}

void ConsoleLink::DisConnect(int16_t channel) {
    trace_.Step("DisConnect");
    const bool was = link_.LinkReady;
    link_.LinkReady = false;
    // Without a connection the line is cut once the router is back (the call stays open).
    if (!was || lost_) {
        // Another exchange holds the link: sent as soon as it has ended.
        link_.DisconnectPending = true;
        return;
    }
    ++held_;
    StartExchange("disconnect b" + (channel != 0 ? std::to_string(channel) : std::string()));
    // The record closes now, not when the router answers.
    calls_.CallDown(channel);
    ShowPendingInMessageWindow("\n\r");
    if (!WaitReply(link_.RouterName)) {
        if (lost_) {
            Release(/*withHangUp=*/false);
            return;
        }
        ports_.view.MessageBox(
            std::to_string(link_.PendingReceives) + "\n\r" + link::Visible(link_.ReplyText), "",
            MsgIcon::None, MsgButtons::Ok);
        EndProgram(EndMode::WithMessage, "MN128と接続出来ません(err=5)");
    }
    if (settings_.dspinfo == 1) {
        std::u16string info;
        ExtractField(1, link::WithoutFillers(link_.ReplyText), u"切断中",
                     std::u16string(link::kLineBreak), link_.RouterName, info);
        ShowMessage(link::Visible(info));
    }
    Release();
}

}  // namespace kv
