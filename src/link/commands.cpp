// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that act on the ISDN line: connect and disconnect.
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

void ConsoleLink::Connect(int16_t number) {
    if (lost_) {
        ports_.view.ShowStatus("MN128未接続");
        return;
    }
    if (queue_.Held()) {
        // Sent when the exchange now holding the console has its reply, and judged on its own.
        trace_.Step("Connect-defer");
        WhenFree([this, number] { Connect(number); });
        return;
    }
    queue_.Hold();
    trace_.Step("Connect");
    session_.StartExchange("connect " + std::to_string(number));
    session_.ShowPendingInMessageWindow("\n\r");
    queue_.Await(State().RouterName, 3, [this](bool ok) {
        if (ok) {
            queue_.Release(true);
            return;
        }
        // The connection went while waiting: logged in again later, not the end of the program.
        if (lost_) {
            queue_.Release(/*withHangUp=*/false);
            return;
        }
        Fail("MN128と接続出来ません(err=4)");
    });
}

void ConsoleLink::DisConnect(int16_t channel) {
    trace_.Step("DisConnect");
    LinkState& link = session_.Mutable();
    const bool was = link.LinkReady;
    link.LinkReady = false;
    // Without a connection the line is cut once the router is back (the call stays open).
    if (!was || lost_) {
        // Another exchange holds the link: sent as soon as it has ended.
        link.DisconnectPending = true;
        return;
    }
    queue_.Hold();
    session_.StartExchange("disconnect b" +
                           (channel != 0 ? std::to_string(channel) : std::string()));
    // The record closes now, not when the router answers.
    calls_.CallDown(channel);
    session_.ShowPendingInMessageWindow("\n\r");
    queue_.Await(State().RouterName, 3, [this](bool ok) {
        if (!ok) {
            if (lost_) {
                queue_.Release(/*withHangUp=*/false);
                return;
            }
            ports_.view.ShowBox(
                std::to_string(State().PendingReceives) + "\n\r" + link::Visible(State().ReplyText),
                "");
            Fail("MN128と接続出来ません(err=5)");
            return;
        }
        if (settings_.dspinfo != 1) {
            queue_.Release(true);
            return;
        }
        std::u16string info;
        ExtractField(1, link::WithoutFillers(State().ReplyText), u"切断中",
                     std::u16string(link::kLineBreak), State().RouterName, info);
        ShowMessage(link::Visible(info), [this] { queue_.Release(true); });
    });
}

}  // namespace kv
