// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One exchange with the router at a time, none of them waited for: who holds the console, the
// jobs that wait for it, the wait for a reply with its three attempts of ten seconds, and the
// message window's three seconds. Socket reads and timers drive it from the event loop.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "common/ports.h"
#include "common/trace.h"

namespace kv {

class ConsoleSession;
class LinkView;

class ExchangeQueue {
  public:
    ExchangeQueue(TimerFactory& timers, const Clock& clock, Trace& trace, ConsoleSession& session,
                  LinkView& view);
    ~ExchangeQueue();

    // ---- the console ----------------------------------------------------------------------
    // lost: the connection is gone (the console is never ready then). hangUp: sends the cut
    // that fell due while the console was held; it goes before every waiting job.
    void SetLinkHooks(std::function<bool()> lost, std::function<void()> hangUp);
    bool Held() const { return held_ > 0; }
    void Hold();
    void Release(bool withHangUp);
    // Gives the console back without running what waits (a failed attempt to log in again).
    void Unhold() {
        if (held_ > 0) --held_;
    }
    void WhenFree(std::function<void()> job, bool first);
    // The program ends: no job waits any more and no reply is awaited.
    void Clear();

    // ---- the reply --------------------------------------------------------------------------
    // Awaits `awaited` in the reply (empty: one read), `attempts` times up to ten seconds, with
    // a forced read between attempts; after the third the message "wait err:retry3" shows for
    // three seconds. then(false) at once when the connection goes.
    // times: the awaited text must have come that many times (the replies of an exchange given
    // up come first).
    void Await(std::u16string awaited, int attempts, std::function<void(bool)> then, int times = 1);
    // One attempt that ends at deadlineMs on the monotonic clock.
    void AwaitUntil(std::u16string awaited, int64_t deadlineMs, std::function<void(bool)> then);
    // When the last awaited reply came, on the monotonic clock (0: none yet).
    int64_t LastReplyAtMs() const { return lastReplyAtMs_; }
    // After a read or a loss of the connection: ends the wait when it can.
    void Check();
    bool Waiting() const { return wait_ != nullptr; }
    // The longest of the last replies, in ms: how long an exchange started now may hold the
    // console at the router's present pace.
    int64_t RecentReplyMs() const;
    // The wait is given up: its `then` never runs.
    void Abandon();

    // ---- the message window -----------------------------------------------------------------
    void ShowMessage(const std::string& text, std::function<void()> then);
    const std::string& LastInformation() const { return lastInformation_; }

  private:
    struct Wait;
    void StartAttempt();
    void AttemptOver();
    void Finish(bool ok);
    void RunDeferred(bool withHangUp);
    bool Lost() const { return lost_ && lost_(); }

    const Clock& clock_;
    Trace& trace_;
    ConsoleSession& session_;
    LinkView& view_;
    std::unique_ptr<Timer> attempt_;
    std::unique_ptr<Timer> message_;
    std::function<bool()> lost_;
    std::function<void()> hangUp_;
    int held_ = 0;
    bool draining_ = false;
    std::deque<std::function<void()>> deferred_;
    std::unique_ptr<Wait> wait_;
    std::array<int64_t, 3> replyMs_{};  // the last replies' times, newest last
    int64_t lastReplyAtMs_ = 0;
    std::function<void()> afterMessage_;
    std::string lastInformation_;
};

}  // namespace kv
