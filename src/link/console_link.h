// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The router console link: the login, the line commands, the status poll and the reconnection,
// on one console session and one queue of console jobs. Nothing here waits: every exchange is
// sent, and its reply (or its attempt timer) carries it on from the event loop. It owns the
// link flags and the router status snapshot; what it sees of calls it reports through
// CallEvents, what it shows through LinkView, and a failure the program cannot go on after
// through LinkEvents — only the program ends itself.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/datetime.h"
#include "common/ports.h"
#include "common/tariff_mode.h"
#include "common/trace.h"
#include "link/console_session.h"
#include "link/exchange_queue.h"
#include "link/status_report.h"
#include "settings/settings.h"

namespace kv {

// The router closed or refused the console before the login was complete: a router that takes
// one console session does so while another program is logged in.
inline constexpr const char* kSessionClosedText =
    "MN128がコンソールの接続を切りました。ほかのプログラムがMN128にログインしていないか確認して"
    "ください(err=closed)";

// The read-outs the link fills from the router's report.
enum class LinkFigure { Mode = 0, Idle = 6, Usage = 7, SeenAt = 8, Tariff = 11 };

// How the automatic cut stands for the call shown; the program colours the countdown by it.
enum class CutState { Unknown, Normal, Armed, FlatRate };

// The router status snapshot: both B channels as the last report showed them.
struct RouterStatus {
    std::array<ChannelStatusRecord, 3> ChannelStatus;  // index 0 never filled
    std::array<bool, 3> LineState{};                   // [1], [2]: the channel carries a call
    int16_t CurrentChannel = 0;                        // 0 none, else 1 or 2
    bool AutoCutArmed = false;
    CutState Cut = CutState::Unknown;
};

// What the link shows; the program puts it on the window.
class LinkView {
  public:
    virtual ~LinkView() = default;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void ShowFigure(LinkFigure figure, const std::string& text) = 0;
    virtual void ShowCutState(CutState state) = 0;
    // A box the user must answer (an error of the socket or of the router's reply).
    virtual void ShowBox(const std::string& text, const std::string& title) = 0;
    // The message window FrmMSG.
    virtual void OpenMessageWindow() = 0;
    virtual void CloseMessageWindow() = 0;
    virtual void SetMessageText(const std::string& text) = 0;
};

// What the link reports to, and asks of, the call accounting; the program connects it to the
// meter.
class CallEvents {
  public:
    virtual ~CallEvents() = default;
    // The channel newly shows terminal mode: its call record opens (CntSt).
    virtual void CallUp(int16_t channel, const std::string& routerConnectTime) = 0;
    // The channel's call is over, or the line was cut (CntEnd).
    virtual void CallDown(int16_t channel) = 0;
    virtual bool CallOpen(int16_t channel) const = 0;
    // For the read-outs and the automatic disconnection.
    virtual TariffMode CallTariff() const = 0;
    virtual TimeOfDay CallSeenAt() const = 0;
    // The connection to the router is lost: what is shown stops being live.
    virtual void LinkLost() = 0;
    // Logged in again: the router's report shows a call on `channel` (0: none) connected at
    // routerConnectTime. The same connection goes on; anything else was closed meanwhile.
    virtual void LinkBack(int16_t channel, const std::string& routerConnectTime) = 0;
};

// A failure after which the link cannot go on: the program decides how it ends.
class LinkEvents {
  public:
    virtual ~LinkEvents() = default;
    // atOnce: the socket could not be opened (its box was shown): end without a word more.
    // Otherwise the message is the last trace line and the box the user sees.
    virtual void LinkFailed(const std::string& message, bool atOnce) = 0;
};

struct LinkPorts {
    ConsoleTransport& transport;
    TimerFactory& timers;
    const Clock& clock;
    LinkView& view;
    Timer& tmrSOHO;
    Timer& tmrRetry;  // the next attempt to log in again
};

class ConsoleLink : private SessionOwner {
  public:
    ConsoleLink(const LinkPorts& ports, Trace& trace, const Settings& settings, CallEvents& calls,
                LinkEvents& events);
    ~ConsoleLink() override;

    // ---- socket layer ------------------------------------------------------------------
    // Opens the connection; at start-up a failure ends the program.
    void OpenLink();
    void Sendbyte() { session_.Sendbyte(); }
    void Receive() { session_.Receive(); }
    // The connection closed by the program (its end).
    void Client_close() { session_.Client_close(); }

    // ---- one exchange at a time --------------------------------------------------------
    // The console is held from the start of an exchange to its end; what is asked meanwhile
    // waits, so every command is judged on its own reply. WhenFree runs job now when the
    // console is free, else as soon as the exchange holding it has ended, after a hang-up
    // that fell due meanwhile (first: before the jobs already waiting).
    void WhenFree(std::function<void()> job, bool first = false);
    bool ConsoleHeld() const { return queue_.Held(); }
    // A compound command of the program's (the automatic-call switch) holds the console.
    void Hold();
    // withHangUp false: a hang-up asked for meanwhile waits for a later exchange (after a poll
    // the router did not answer, sending it more is no use).
    void Release(bool withHangUp = true);
    // One command line, answered by the router's prompt; then(false) after the last attempt
    // or when the connection went. The caller holds the console around it.
    void Command(const std::string& line, std::function<void(bool)> then);
    // At exit with "強制切断": "disconnect bN", sent at once (an exchange under way is given
    // up), and one attempt's wait for the router's answer. With the router away, one login
    // at once first, the whole within ten seconds. then(false), traced, when it could not be
    // sent or was not answered. Closes no record: the caller does, after it.
    void HangUpForExit(int16_t channel, std::function<void(bool)> then);
    // The reply to what was sent last: `awaited` (empty: one read) within three attempts.
    void Await(std::u16string awaited, std::function<void(bool)> then);
    // The message window for three seconds, then `then`.
    void ShowMessage(const std::string& text, std::function<void()> then = {});

    // ---- login and line commands -------------------------------------------------------
    void LoginSOHO();
    void Connect(int16_t number);
    void DisConnect(int16_t channel);

    // ---- status poll -------------------------------------------------------------------
    void GetNow();
    // A poll holds the console, waiting for the router's report.
    bool Polling() const { return polling_; }
    // The longest of the last replies, in ms: how long a poll started now may hold the console.
    int64_t RecentReplyMs() const { return queue_.RecentReplyMs(); }

    // ---- reconnection ------------------------------------------------------------------
    // After the first login, a connection the router closes, resets or stops answering on is
    // closed and logged in again, with a back-off of 2, 4, 8 ... up to 60 seconds.
    // Also while an attempt to log in again runs: the router is back once it has succeeded.
    bool Lost() const { return lost_ || reconnecting_; }
    // The back-off of the next attempt, in ms.
    int RetryDelayMs() const { return retryDelayMs_; }

    // ---- state -------------------------------------------------------------------------
    const LinkState& State() const { return session_.State(); }
    const RouterStatus& Status() const { return status_; }
    bool LinkReady() const { return State().LinkReady; }
    // The poll may start again, or not (while the settings are edited).
    void SetLinkReady(bool ready) {
        session_.Mutable().LinkReady = ready && !queue_.Held() && !lost_;
    }
    bool LoggedIn() const { return State().LoggedIn; }
    int16_t CurrentChannel() const { return status_.CurrentChannel; }

    // The suspension of the automatic disconnection ("自動切断一時解除"); it also disarms it.
    void SetCutBreak(bool on);
    bool CutBreak() const { return cutBreak_; }
    // The channel the read-outs show: 0 the one in use.
    void SetDisplayChannel(int16_t channel) { displayChannel_ = channel; }
    int16_t DisplayChannel() const { return displayChannel_; }
    // The message window held open by the user shows the replies as they come.
    void SetMessageWindowOpen(bool open) { session_.SetMessageWindowOpen(open); }
    bool MessageWindowOpen() const { return session_.MessageWindowOpen(); }
    const std::string& LastInformation() const { return queue_.LastInformation(); }
    void SetConsolePort(uint16_t port) { session_.SetConsolePort(port); }
    // The start of a run: no channel is known to carry a call.
    void ResetLineState();
    // The program ends: nothing more is sent or awaited.
    void Stop();

    // Tests put the link into the states a dialogue would leave.
    LinkState& StateForTest() { return session_.StateForTest(); }
    RouterStatus& StatusForTest() { return status_; }
    // The report in ReplyText parsed into the snapshot, as a poll does.
    void ParseChannelStatus(int16_t channel);
    void UpdateAutoCutState(int16_t channel);
    void ShowChannelStatus(int16_t channel);

  private:
    // SessionOwner: what the socket reports.
    void ReadArrived() override;
    void PeerClosed() override;
    bool SocketFailed(const std::string& procedure, const std::string& function, int code) override;
    // Sends line as a new exchange and awaits `awaited` (empty: one read) with the three
    // attempts; then(ok).
    void Exchange(const std::string& line, int16_t pending, std::u16string awaited,
                  std::function<void(bool)> then);
    // The program cannot go on (see LinkEvents).
    void Fail(const std::string& message, bool atOnce = false);

    // ---- login (login.cpp) ----
    // The whole login; done(false) (traced) when a step failed while reconnecting.
    void LoginDialogue(std::function<void(bool)> done);
    void LoginStep(const std::string& statusTag, const std::string& traceTag,
                   const std::u16string& command, int16_t pending, const std::u16string& awaited,
                   const std::string& failTag, const std::string& failMessage,
                   std::function<void()> next, int32_t* pcSecondsAfterSend = nullptr);
    void LoginSteps3To11();
    void LoginEnd();
    // Ends the program at start-up; while reconnecting traces and fails the attempt.
    void LoginFailed(const std::string& tag, const std::string& message);
    void LoginAttemptOver(bool ok);
    // The router closed the console before the login was complete (it takes one session).
    // False when no login runs: the caller reports it as ever.
    bool LoginClosed(const std::string& how);

    // ---- the status poll's answer (status.cpp) ----
    void PollAnswered(bool ok);
    void ParseBothChannels();
    // Arms or disarms the automatic cut for the channel in use, once its call is metered.
    void JudgeAutoCut();

    // ---- reconnection (exchange.cpp) ----
    void ConnectionLost(const std::string& reason);
    void Reconnect();
    void RetryLater();
    // What the status bar says while the router is away.
    const char* LostText() const;
    // ---- the cut at exit (exchange.cpp) ----
    void SendExitCut(int16_t channel, std::function<void(bool)> then);
    void HangUpAfterLogin(int16_t channel, std::function<void(bool)> then);
    void ExitLoginOver(bool ok);
    void FinishExitCut(bool ok);

    std::string ForTrace(std::u16string_view text) const { return session_.ForTrace(text); }

    LinkPorts ports_;
    Trace& trace_;
    const Settings& settings_;
    CallEvents& calls_;
    LinkEvents& events_;
    ConsoleSession session_;
    ExchangeQueue queue_;
    RouterStatus status_;
    bool cutBreak_ = false;
    int16_t displayChannel_ = 0;
    bool reportedUnreadable_ = false;  // a report without channel blocks is traced once
    // Logged in once: from then on a lost connection is logged in again instead of ending.
    bool online_ = false;
    bool lost_ = false;
    bool reconnecting_ = false;
    // From the connection to the end of the login's dialogue.
    bool loggingIn_ = false;
    bool stopped_ = false;
    bool polling_ = false;
    std::function<void(bool)> loginDone_;
    // At exit with the router away: the cut once logged in again, and the bound on both.
    int16_t exitChannel_ = 0;
    std::function<void(bool)> exitThen_;
    std::unique_ptr<Timer> exitDeadline_;
    static constexpr int kExitCutMs = 10000;
    static constexpr int kExitRetryMs = 1000;
    int32_t pcSeconds_ = 0;  // the computer's time of day when "show time" went out
    int retryDelayMs_ = kFirstRetryMs;
    static constexpr int kFirstRetryMs = 2000;
    static constexpr int kLastRetryMs = 60000;
    // During a call: how long the router may say nothing before it is taken as gone.
    static constexpr int64_t kSilentMs = 10000;
};

// Case-insensitive searches; positions count from 1; 0 when a marker is missing. Positions
// are not limited to 16 bits: a report padded beyond 32767 characters is still read.
int ExtractField(int start, const std::u16string& text, const std::u16string& anchor,
                 const std::u16string& open, const std::u16string& close, std::u16string& out);

}  // namespace kv
