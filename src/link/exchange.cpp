// The request-and-reply discipline and the small services the link shares.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

namespace {

constexpr int kAttempts = 3;
constexpr const char* kLostText = "MN128再接続中";
// Reply text in a trace line: enough for any real report, not a flood.
constexpr size_t kTraceTextBytes = 4000;

// An attempt ends once the whole-second count has moved more than 10 past its start, so it
// lasts 10 to 11 seconds; counted on the monotonic clock, a clock change cannot stretch it.
int64_t AttemptDeadline(int64_t startMs) {
    const int64_t startSecond = startMs >= 0 ? startMs / 1000 : -((-startMs + 999) / 1000);
    return (startSecond + 11) * 1000;
}

}  // namespace

bool ConsoleLink::WaitReply(const std::u16string& awaited) {
    int retries = 0;
    bool ok = false;
    do {
        const int64_t deadline = AttemptDeadline(ports_.clock.MonotonicMs());
        if (awaited.empty()) {
            ok = ports_.pump.WaitUntil([this] { return lost_ || link_.PendingReceives <= 0; },
                                       deadline);
        } else {
            // Replies arrive only while events are processed, so the text is looked at after
            // each batch of them, exactly and case-sensitively.
            scanned_ = 0;
            ok = ports_.pump.WaitUntil([this, &awaited] { return lost_ || ReplyHas(awaited); },
                                       deadline);
        }
        // A connection that is gone brings no reply: the caller learns it at once.
        if (lost_) return false;
        if (!ok) {
            ++retries;
            trace_.Error("retry(a):" + std::to_string(retries) + "\r\n" +
                         ForTrace(link_.ReplyText));
            Receive();
            trace_.Error("retry(b):" + std::to_string(retries) + "\r\n" +
                         ForTrace(link_.ReplyText));
            if (retries >= kAttempts) ShowMessage("wait err:retry" + std::to_string(retries));
        }
    } while (!ok && retries < kAttempts);
    return ok;
}

// The fillers between reads are skipped, so an awaited text split over two reads has still
// arrived; only what came since the last look is searched, so a long reply costs no more
// than its own length.
bool ConsoleLink::ReplyHas(const std::u16string& awaited) {
    const std::u16string& reply = link_.ReplyText;
    if (scanned_ == 0 || reply.size() < scanned_) {
        plain_.clear();
        scanned_ = 0;
        searchFrom_ = 0;
    }
    // Past the cap the reply's end is replaced as data comes: it is searched whole each time.
    const size_t head = overflowed_ ? std::min(reply.size(), kReplyCap) : reply.size();
    for (size_t i = scanned_; i < head; ++i)
        if (reply[i] != 0) plain_.push_back(reply[i]);
    scanned_ = std::max(scanned_, head);
    if (!plain_.empty() &&
        link::FindText(static_cast<int>(searchFrom_) + 1, plain_, awaited, false) > 0)
        return true;
    // Next time from where the awaited text could still begin.
    if (plain_.size() >= awaited.size()) searchFrom_ = plain_.size() - awaited.size() + 1;
    return overflowed_ && link::FindText(1, link::WithoutFillers(tail_), awaited, false) > 0;
}

std::string ConsoleLink::ForTrace(std::u16string_view text) const {
    std::string out = link::Visible(text);
    // A console that echoes what it receives must not put the password into the trace.
    if (!settings_.sohowp.empty())
        for (size_t p = out.find(settings_.sohowp); p != std::string::npos;
             p = out.find(settings_.sohowp, p + 1))
            out.replace(p, settings_.sohowp.size(), std::string(settings_.sohowp.size(), '*'));
    if (out.size() > kTraceTextBytes) {
        size_t cut = kTraceTextBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out = out.substr(0, cut) + "...(+" + std::to_string(out.size() - cut) + " bytes)";
    }
    return out;
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

void ConsoleLink::WaitTenths(int16_t n) {
    const int64_t deadline = ports_.clock.MonotonicMs() + int64_t{n} * 100;
    ports_.pump.WaitUntil([] { return false; }, deadline);
}

void ConsoleLink::ShowMessage(const std::string& text) {
    lastInformation_ = text;
    if (!messageWindowOpen_) ports_.view.ShowMessageWindow();
    ports_.view.SetMessageText(text);
    WaitTenths(30);
    if (!messageWindowOpen_) ports_.view.CloseMessageWindow();
}

void ConsoleLink::EndProgram(EndMode mode, const std::string& message) {
    link_.LinkReady = false;
    trace_.Close(message);
    if (mode == EndMode::WithMessage)
        ports_.view.MessageBox(message, "", MsgIcon::None, MsgButtons::Ok);
    Client_close();
    if (beforeExit_) beforeExit_();
    ports_.exit.Exit(0);
    std::abort();  // Exit does not come back
}

void ConsoleLink::ClearReply() {
    link_.ReplyText.clear();
    link_.CarryBytes.clear();
    overflowed_ = false;
    tail_.clear();
    scanned_ = 0;
}

void ConsoleLink::StartExchange(const std::string& command) {
    link_.SendText = Utf8ToUtf16(command);
    ClearReply();
    link_.PendingReceives = 1;
    Sendbyte();
}

void ConsoleLink::Hold() {
    link_.LinkReady = false;
    ++held_;
}

void ConsoleLink::Release(bool withHangUp) {
    if (held_ > 0) --held_;
    // Ready only when no outer exchange still waits, and never without a connection.
    link_.LinkReady = held_ == 0 && !lost_;
    if (held_ == 0) RunDeferred(withHangUp);
}

void ConsoleLink::WhenFree(std::function<void()> job, bool first) {
    if (held_ == 0 && !draining_) {
        job();
        return;
    }
    if (first)
        deferred_.push_front(std::move(job));
    else
        deferred_.push_back(std::move(job));
}

void ConsoleLink::RunDeferred(bool withHangUp) {
    if (draining_) return;
    struct Draining {
        bool& flag;
        explicit Draining(bool& f) : flag(f) { flag = true; }
        ~Draining() { flag = false; }
    } draining(draining_);
    while (held_ == 0) {
        // An automatic cut that fell due while the console was held goes before anything else.
        if (withHangUp && link_.DisconnectPending && link_.LinkReady) {
            link_.DisconnectPending = false;
            DisConnect(status_.CurrentChannel);
            continue;
        }
        if (deferred_.empty()) break;
        std::function<void()> job = std::move(deferred_.front());
        deferred_.pop_front();
        job();
    }
}

void ConsoleLink::ConnectionLost(const std::string& reason) {
    // Before the first login a failure is reported as it always was.
    if (lost_ || !online_) return;
    lost_ = true;
    ports_.transport.Close();
    link_.SocketOpen = false;
    link_.LinkReady = false;
    // An attempt to log in again that loses its connection just fails; the next one follows.
    if (reconnecting_) return;
    trace_.Error("link lost:" + reason);
    ports_.view.SetStatusText(kLostText);
    calls_.LinkLost();
    ports_.tmrRetry.SetEnabled(false);
    ports_.tmrRetry.SetInterval(retryDelayMs_);
    ports_.tmrRetry.SetEnabled(true);
}

void ConsoleLink::Reconnect() {
    if (!lost_ || reconnecting_) return;
    auto retryLater = [this] {
        ports_.tmrRetry.SetInterval(retryDelayMs_);
        ports_.tmrRetry.SetEnabled(true);
    };
    // Whatever holds the console ends first.
    if (held_ > 0) {
        retryLater();
        return;
    }
    trace_.Error("reconnect");
    reconnecting_ = true;
    lost_ = false;
    ports_.transport.Close();
    const bool ok = LoginDialogue();
    reconnecting_ = false;
    if (ok) return;
    ports_.transport.Close();
    link_.SocketOpen = false;
    link_.LinkReady = false;
    lost_ = true;
    ports_.tmrSOHO.SetEnabled(true);  // the totals still roll over while the router is away
    retryDelayMs_ = std::min(retryDelayMs_ * 2, kLastRetryMs);
    trace_.Error("reconnect err:next in " + std::to_string(retryDelayMs_ / 1000) + " s");
    // The attempt's own steps showed in the status bar; what the user needs to know is this.
    ports_.view.SetStatusText(kLostText);
    retryLater();
}

bool ConsoleLink::HangUpForExit(int16_t channel) {
    trace_.Step("DisConnect");
    if (!link_.SocketOpen) {
        trace_.Error("hangup err:no connection");
        return false;
    }
    Hold();
    StartExchange("disconnect b" + (channel != 0 ? std::to_string(channel) : std::string()));
    const bool ok = WaitReply(link_.RouterName);
    if (!ok) trace_.Error("hangup err:" + ForTrace(link_.ReplyText));
    // Nothing waiting runs now: the program ends.
    link_.LinkReady = !lost_;
    --held_;
    return ok;
}

bool ConsoleLink::Command(const std::string& line) {
    StartExchange(line);
    return WaitReply(link_.RouterName);
}

}  // namespace kv
