// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/exchange_queue.h"

#include <algorithm>

#include "link/console_link.h"
#include "link/console_session.h"

namespace kv {

namespace {

constexpr int kMessageMs = 3000;

// An attempt ends once the whole-second count has moved more than 10 past its start, so it
// lasts 10 to 11 seconds; counted on the monotonic clock, a clock change cannot stretch it.
int64_t AttemptDeadline(int64_t startMs) {
    const int64_t startSecond = startMs >= 0 ? startMs / 1000 : -((-startMs + 999) / 1000);
    return (startSecond + 11) * 1000;
}

}  // namespace

struct ExchangeQueue::Wait {
    std::u16string awaited;  // empty: one read
    int attempts = 3;
    int times = 1;
    int retries = 0;
    int64_t startedMs = 0;
    int64_t deadlineMs = 0;  // one attempt to this moment, not ten seconds
    bool failing = false;    // the last attempt is over: only the message's time is left
    std::function<void(bool)> then;
};

ExchangeQueue::ExchangeQueue(TimerFactory& timers, const Clock& clock, Trace& trace,
                             ConsoleSession& session, LinkView& view)
    : clock_(clock),
      trace_(trace),
      session_(session),
      view_(view),
      attempt_(timers.NewTimer()),
      message_(timers.NewTimer()) {
    attempt_->SetHandler([this] {
        attempt_->SetEnabled(false);
        AttemptOver();
    });
    message_->SetHandler([this] {
        message_->SetEnabled(false);
        if (!session_.MessageWindowOpen()) view_.CloseMessageWindow();
        if (auto then = std::move(afterMessage_)) {
            afterMessage_ = nullptr;
            then();
        }
    });
}

ExchangeQueue::~ExchangeQueue() = default;

void ExchangeQueue::SetLinkHooks(std::function<bool()> lost, std::function<void()> hangUp) {
    lost_ = std::move(lost);
    hangUp_ = std::move(hangUp);
}

// ---- the console ------------------------------------------------------------------------

void ExchangeQueue::Hold() {
    session_.Mutable().LinkReady = false;
    ++held_;
}

void ExchangeQueue::Release(bool withHangUp) {
    if (held_ > 0) --held_;
    // Ready only when nothing else holds it, and never without a connection.
    session_.Mutable().LinkReady = held_ == 0 && !Lost();
    if (held_ == 0) RunDeferred(withHangUp);
}

void ExchangeQueue::WhenFree(std::function<void()> job, bool first) {
    if (held_ == 0 && !draining_) {
        job();
        return;
    }
    if (first)
        deferred_.push_front(std::move(job));
    else
        deferred_.push_back(std::move(job));
}

void ExchangeQueue::RunDeferred(bool withHangUp) {
    if (draining_) return;
    struct Draining {
        bool& flag;
        explicit Draining(bool& f) : flag(f) { flag = true; }
        ~Draining() { flag = false; }
    } draining(draining_);
    LinkState& link = session_.Mutable();
    while (held_ == 0) {
        // An automatic cut that fell due while the console was held goes before anything else.
        if (withHangUp && link.DisconnectPending && link.LinkReady && hangUp_) {
            link.DisconnectPending = false;
            hangUp_();
            continue;
        }
        if (deferred_.empty()) break;
        std::function<void()> job = std::move(deferred_.front());
        deferred_.pop_front();
        job();
    }
}

void ExchangeQueue::Clear() {
    deferred_.clear();
    Abandon();
    message_->SetEnabled(false);
    afterMessage_ = nullptr;
}

// ---- the reply ----------------------------------------------------------------------------

void ExchangeQueue::Await(std::u16string awaited, int attempts, std::function<void(bool)> then,
                          int times) {
    wait_ = std::make_unique<Wait>();
    wait_->awaited = std::move(awaited);
    wait_->attempts = attempts;
    wait_->times = times;
    wait_->startedMs = clock_.MonotonicMs();
    wait_->then = std::move(then);
    StartAttempt();
}

void ExchangeQueue::AwaitUntil(std::u16string awaited, int64_t deadlineMs,
                               std::function<void(bool)> then) {
    wait_ = std::make_unique<Wait>();
    wait_->awaited = std::move(awaited);
    wait_->attempts = 1;
    wait_->deadlineMs = deadlineMs;
    wait_->startedMs = clock_.MonotonicMs();
    wait_->then = std::move(then);
    StartAttempt();
}

void ExchangeQueue::StartAttempt() {
    // Each attempt looks at the whole reply again.
    if (!wait_->awaited.empty()) session_.RestartSearch();
    Check();
    if (!wait_ || wait_->failing) return;
    const int64_t now = clock_.MonotonicMs();
    attempt_->SetEnabled(false);
    const int64_t due = wait_->deadlineMs > 0 ? wait_->deadlineMs : AttemptDeadline(now);
    attempt_->SetInterval(static_cast<int>(std::max<int64_t>(1, due - now)));
    attempt_->SetEnabled(true);
}

void ExchangeQueue::Check() {
    if (!wait_ || wait_->failing) return;
    // A connection that is gone brings no reply: the caller learns it at once.
    if (Lost()) {
        Finish(false);
        return;
    }
    const bool done = wait_->awaited.empty() ? session_.State().PendingReceives <= 0
                      : wait_->times > 1     ? session_.TimesInReply(wait_->awaited) >= wait_->times
                                             : session_.ReplyHas(wait_->awaited);
    if (done) Finish(true);
}

void ExchangeQueue::AttemptOver() {
    if (!wait_ || wait_->failing) return;
    Wait* wait = wait_.get();
    const int retries = ++wait->retries;
    trace_.Error("retry(a):" + std::to_string(retries) + "\r\n" +
                 session_.ForTrace(session_.State().ReplyText));
    session_.Receive();
    // The forced read may have lost the connection, which ends the wait.
    if (wait_.get() != wait) return;
    trace_.Error("retry(b):" + std::to_string(retries) + "\r\n" +
                 session_.ForTrace(session_.State().ReplyText));
    if (Lost()) {
        Finish(false);
        return;
    }
    if (retries < wait->attempts) {
        StartAttempt();
        return;
    }
    if (wait->attempts < 3) {
        Finish(false);
        return;
    }
    wait->failing = true;
    ShowMessage("wait err:retry" + std::to_string(retries), [this, wait] {
        if (wait_.get() == wait) Finish(false);
    });
}

void ExchangeQueue::Finish(bool ok) {
    attempt_->SetEnabled(false);
    std::unique_ptr<Wait> wait = std::move(wait_);
    if (ok && wait) {
        std::rotate(replyMs_.begin(), replyMs_.begin() + 1, replyMs_.end());
        replyMs_.back() = clock_.MonotonicMs() - wait->startedMs;
        lastReplyAtMs_ = clock_.MonotonicMs();
    }
    if (wait && wait->then) wait->then(ok);
}

int64_t ExchangeQueue::RecentReplyMs() const {
    return *std::max_element(replyMs_.begin(), replyMs_.end());
}

void ExchangeQueue::Abandon() {
    attempt_->SetEnabled(false);
    wait_.reset();
}

// ---- the message window -------------------------------------------------------------------

void ExchangeQueue::ShowMessage(const std::string& text, std::function<void()> then) {
    // A message shown over another ends the other's time.
    if (auto earlier = std::move(afterMessage_)) {
        afterMessage_ = nullptr;
        earlier();
    }
    lastInformation_ = text;
    if (!session_.MessageWindowOpen()) view_.OpenMessageWindow();
    view_.SetMessageText(text);
    afterMessage_ = std::move(then);
    message_->SetEnabled(false);
    message_->SetInterval(kMessageMs);
    message_->SetEnabled(true);
}

}  // namespace kv
