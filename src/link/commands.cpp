// The commands that act on the ISDN line: connect and disconnect.
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

void ConsoleLink::Connect(int16_t number) {
    link_.LinkReady = false;
    trace_.Step("Connect");
    StartExchange("connect " + std::to_string(number));
    ShowPendingInMessageWindow("\n\r");
    if (!WaitReply(link_.RouterName))
        EndProgram(EndMode::WithMessage, "MN128と接続出来ません(err=4)");
    link_.LinkReady = true;
}

void ConsoleLink::DisConnect(int16_t channel) {
    trace_.Step("DisConnect");
    const bool was = link_.LinkReady;
    link_.LinkReady = false;
    if (!was) {
        // Another exchange holds the link; the next poll sends it.
        link_.DisconnectPending = true;
        return;
    }
    StartExchange("disconnect b" + (channel != 0 ? std::to_string(channel) : std::string()));
    // The record closes now, not when the router answers.
    calls_.CallDown(channel);
    ShowPendingInMessageWindow("\n\r");
    if (!WaitReply(link_.RouterName)) {
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
    link_.LinkReady = true;
}

}  // namespace kv
