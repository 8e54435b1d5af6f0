// SPDX-License-Identifier: GPL-3.0-or-later
// The link's own exchanges on the queue, the failures it reports and the reconnection.
#include <algorithm>
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

namespace {

constexpr int kAttempts = 3;
constexpr const char* kLostText = "MN128再接続中";
// The router cannot be reached while a call is up: the line may stay up, and costs.
constexpr const char* kLostInCallText =
    "MN128と通信できません(再接続中)。回線がつながったままの可能性があり、ここからは切断できません";

}  // namespace

ConsoleLink::ConsoleLink(const LinkPorts& ports, Trace& trace, const Settings& settings,
                         CallEvents& calls, LinkEvents& events)
    : ports_(ports),
      trace_(trace),
      settings_(settings),
      calls_(calls),
      events_(events),
      session_(ports.transport, trace, ports.view, settings, *this),
      queue_(ports.timers, ports.clock, trace, session_, ports.view) {
    queue_.SetLinkHooks([this] { return lost_; }, [this] { DisConnect(status_.CurrentChannel); });
    ports_.tmrRetry.SetHandler([this] {
        ports_.tmrRetry.SetEnabled(false);
        Reconnect();
    });
}

ConsoleLink::~ConsoleLink() = default;

void ConsoleLink::OpenLink() {
    if (!session_.Open(/*quiet=*/false)) Fail("", /*atOnce=*/true);
}

// ---- what the socket reports ------------------------------------------------------------

void ConsoleLink::ReadArrived() {
    queue_.Check();
}

void ConsoleLink::PeerClosed() {
    if (online_) {
        ConnectionLost("the router closed the connection");
        return;
    }
    if (!LoginClosed("Server Shutdown")) session_.ServerShutdown();
}

bool ConsoleLink::SocketFailed(const std::string& procedure, const std::string& function,
                               int code) {
    // Once logged in, a connection that fails is logged in again, not reported at every poll.
    if (online_ && code != 0 && code != 10035 && code != 10004) {
        ConnectionLost(function + " " + std::to_string(code) + " " + WinsockErrorText("", code));
        return false;
    }
    if ((code == 10053 || code == 10054) &&
        LoginClosed(function + " " + std::to_string(code) + " " + WinsockErrorText("", code)))
        return true;
    return session_.ShowSocketError(procedure, function, code);
}

// ---- exchanges ----------------------------------------------------------------------------

void ConsoleLink::Exchange(const std::string& line, int16_t pending, std::u16string awaited,
                           std::function<void(bool)> then) {
    session_.StartExchange(line);
    session_.Mutable().PendingReceives = pending;
    queue_.Await(std::move(awaited), kAttempts, std::move(then));
}

void ConsoleLink::Await(std::u16string awaited, std::function<void(bool)> then) {
    queue_.Await(std::move(awaited), kAttempts, std::move(then));
}

void ConsoleLink::Command(const std::string& line, std::function<void(bool)> then) {
    Exchange(line, 1, State().RouterName, std::move(then));
}

void ConsoleLink::WhenFree(std::function<void()> job, bool first) {
    queue_.WhenFree(std::move(job), first);
}

void ConsoleLink::Hold() {
    queue_.Hold();
}

void ConsoleLink::Release(bool withHangUp) {
    queue_.Release(withHangUp);
}

void ConsoleLink::ShowMessage(const std::string& text, std::function<void()> then) {
    queue_.ShowMessage(text, std::move(then));
}

void ConsoleLink::HangUpForExit(int16_t channel, std::function<void(bool)> then) {
    trace_.Step("DisConnect");
    // The router is away: logged in to once more at once, within ten seconds in all.
    if (online_ && !stopped_ && (lost_ || reconnecting_)) {
        HangUpAfterLogin(channel, std::move(then));
        return;
    }
    // Never logged in: the console would not take the command.
    if (!State().SocketOpen || stopped_) {
        trace_.Error("hangup err:no connection");
        then(false);
        return;
    }
    SendExitCut(channel, std::move(then));
}

void ConsoleLink::SendExitCut(int16_t channel, std::function<void(bool)> then) {
    // Whatever the console was waiting for no longer matters: the program ends. The router
    // answers in order, so a reply still owed comes before the cut's.
    const int owed = queue_.Waiting() ? 1 : 0;
    queue_.Clear();
    polling_ = false;
    queue_.Hold();
    session_.StartExchange("disconnect b" +
                           (channel != 0 ? std::to_string(channel) : std::string()));
    queue_.Await(
        State().RouterName, /*attempts=*/1,
        [this, then = std::move(then)](bool ok) {
            if (!ok) trace_.Error("hangup err:" + ForTrace(State().ReplyText));
            then(ok);
        },
        1 + owed);
}

void ConsoleLink::HangUpAfterLogin(int16_t channel, std::function<void(bool)> then) {
    trace_.Error("hangup: the router is away, logging in again first");
    exitChannel_ = channel;
    exitThen_ = std::move(then);
    exitDeadline_ = ports_.timers.NewTimer();
    exitDeadline_->SetHandler([this] {
        trace_.Error("hangup err:the router did not answer within 10 s");
        Stop();
        FinishExitCut(false);
    });
    exitDeadline_->SetInterval(kExitCutMs);
    exitDeadline_->SetEnabled(true);
    ports_.tmrRetry.SetEnabled(false);
    if (reconnecting_) return;  // the login under way decides
    // Nothing the console held matters any more.
    queue_.Clear();
    while (queue_.Held()) queue_.Unhold();
    Reconnect();
}

void ConsoleLink::ExitLoginOver(bool ok) {
    if (ok) {
        // Once the login has given the console back (and the call was matched).
        queue_.WhenFree(
            [this] { SendExitCut(exitChannel_, [this](bool cut) { FinishExitCut(cut); }); },
            /*first=*/true);
        return;
    }
    // A router restarting accepts again within seconds: tried again while the bound lasts.
    trace_.Error("hangup err:could not log in again");
    ports_.tmrRetry.SetInterval(kExitRetryMs);
    ports_.tmrRetry.SetEnabled(true);
}

void ConsoleLink::FinishExitCut(bool ok) {
    if (!exitThen_) return;
    auto done = std::move(exitThen_);
    exitThen_ = nullptr;
    exitDeadline_->SetEnabled(false);
    ports_.tmrRetry.SetEnabled(false);
    done(ok);
}

void ConsoleLink::Fail(const std::string& message, bool atOnce) {
    Stop();
    events_.LinkFailed(message, atOnce);
}

void ConsoleLink::Stop() {
    stopped_ = true;
    queue_.Clear();
    polling_ = false;
    session_.Mutable().LinkReady = false;
    ports_.tmrRetry.SetEnabled(false);
}

// ---- reconnection -------------------------------------------------------------------------

void ConsoleLink::ConnectionLost(const std::string& reason) {
    // Before the first login a failure is reported as it always was.
    if (lost_ || !online_) return;
    lost_ = true;
    session_.Drop();
    // An attempt to log in again that loses its connection just fails; the next one follows.
    if (reconnecting_) return;
    trace_.Error("link lost:" + reason);
    ports_.view.ShowStatus(LostText());
    calls_.LinkLost();
    ports_.tmrRetry.SetEnabled(false);
    ports_.tmrRetry.SetInterval(retryDelayMs_);
    ports_.tmrRetry.SetEnabled(true);
}

const char* ConsoleLink::LostText() const {
    return calls_.CallOpen(1) || calls_.CallOpen(2) ? kLostInCallText : kLostText;
}

void ConsoleLink::RetryLater() {
    ports_.tmrRetry.SetInterval(retryDelayMs_);
    ports_.tmrRetry.SetEnabled(true);
}

void ConsoleLink::Reconnect() {
    if (!lost_ || reconnecting_ || stopped_) return;
    // Whatever holds the console ends first.
    if (queue_.Held()) {
        RetryLater();
        return;
    }
    trace_.Error("reconnect");
    reconnecting_ = true;
    lost_ = false;
    ports_.transport.Close();
    LoginDialogue([this](bool ok) {
        reconnecting_ = false;
        if (!ok) {
            session_.Drop();
            lost_ = true;
        }
        // The program ends: the cut, not the back-off.
        if (exitThen_) {
            ExitLoginOver(ok);
            return;
        }
        if (ok) return;
        ports_.tmrSOHO.SetEnabled(true);  // the totals still roll over while the router is away
        retryDelayMs_ = std::min(retryDelayMs_ * 2, kLastRetryMs);
        trace_.Error("reconnect err:next in " + std::to_string(retryDelayMs_ / 1000) + " s");
        // The attempt's own steps showed in the status bar; what the user needs to know is this.
        ports_.view.ShowStatus(LostText());
        RetryLater();
    });
}

int ExtractField(int start, const std::u16string& text, const std::u16string& anchor,
                 const std::u16string& open, const std::u16string& close, std::u16string& out) {
    out.clear();
    const int p1 = link::FindText(start, text, anchor, true);
    if (p1 == 0) return 0;
    const int p2 = link::FindText(p1, text, open, true);
    if (p2 == 0) return 0;
    const int s = p2 + static_cast<int>(open.size()) - 1;
    const int p3 = link::FindText(s, text, close, true);
    if (p3 == 0) return 0;
    // A close marker that overlaps the open one leaves nothing between them.
    if (p3 - s - 1 > 0) out = text.substr(static_cast<size_t>(s), static_cast<size_t>(p3 - s - 1));
    return s;
}

}  // namespace kv
