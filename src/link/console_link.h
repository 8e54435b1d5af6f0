#pragma once
// The router console link: the one TCP connection, the request-and-reply discipline, the
// login, the line commands and the status poll. It owns the link flags and the router status
// snapshot; what it sees of calls it reports through CallEvents.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "common/datetime.h"
#include "common/ports.h"
#include "common/tariff_mode.h"
#include "common/trace.h"
#include "common/view.h"
#include "settings/settings.h"

namespace kv {

// The connection mode of a channel that carries a call.
inline constexpr const char* kTerminalMode = "端末型";

struct ChannelStatusRecord {
    std::string Mode;  // kTerminalMode marks a channel that carries a connection
    std::string PeerNumber;
    std::string ConnectTime;  // "yyyy/mm/dd hh:mm:ss" by the router's clock
    std::string IpAddress;
    std::string Usage;
    std::string AutoCutTime;
    std::string Elapsed;
    int16_t IdleSeconds = 0;
};

// The router status snapshot: both B channels as the last report showed them.
struct RouterStatus {
    std::array<ChannelStatusRecord, 3> ChannelStatus;  // index 0 never filled
    std::array<bool, 3> LineState{};                   // [1], [2]: the channel carries a call
    int16_t CurrentChannel = 0;                        // 0 none, else 1 or 2
    bool AutoCutArmed = false;
    uint32_t LcdColour = 0;
};

struct LinkState {
    bool SocketOpen = false;
    std::u16string SendText;
    std::u16string ReplyText;  // one element per character, as Receive builds it
    int16_t PendingReceives = 0;
    std::string ActivityTag;
    bool LinkReady = false;  // no exchange holds the console: the poll may start
    bool LoggedIn = false;
    bool DisconnectPending = false;  // a disconnect asked for while another exchange ran
    std::u16string RouterName;
    int32_t ClockOffset = 0;  // the computer's time of day minus the router's, in seconds
    // A lead byte that ended the previous read, joined to the next read's first byte.
    std::string CarryBytes;
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

enum class EndMode { Quiet, WithMessage };

struct LinkPorts {
    ConsoleTransport& transport;
    EventPump& pump;
    const Clock& clock;
    MainView& view;
    Timer& tmrSOHO;
    Timer& tmrRetry;  // the next attempt to log in again
    ProgramExit& exit;
};

class ConsoleLink {
  public:
    ConsoleLink(const LinkPorts& ports, Trace& trace, const Settings& settings, CallEvents& calls);

    // ---- socket layer ------------------------------------------------------------------
    // Opens the connection; any failure ends the program.
    void OpenLink();
    void Sendbyte();
    void Receive();
    void ServerShutdown();
    void Client_close();
    // The error box for a call's code; true when it showed one.
    bool ShowSocketError(const std::string& procedure, const std::string& function, int code);

    // ---- command exchange --------------------------------------------------------------
    bool WaitReply(const std::u16string& awaited);
    void WaitTenths(int16_t n);
    void ShowMessage(const std::string& text);
    // Last trace line, the message, the connection closed, the hook, the end.
    [[noreturn]] void EndProgram(EndMode mode, const std::string& message);
    // One command line, answered by the router's prompt; false after the last attempt. The
    // caller holds the console around it.
    bool Command(const std::string& line);

    // ---- one exchange at a time --------------------------------------------------------
    // The console is held from the start of an exchange to its end; what is asked meanwhile
    // waits, so every command is judged on its own reply. WhenFree runs job now when the
    // console is free, else as soon as the exchange holding it has ended, after a hang-up
    // that fell due meanwhile (first: before the jobs already waiting).
    void WhenFree(std::function<void()> job, bool first = false);
    bool ConsoleHeld() const { return held_ > 0; }
    // A compound command of the program's (the automatic-call switch) holds the console.
    void Hold();
    // withHangUp false: a hang-up asked for meanwhile waits for a later exchange (after a poll
    // the router did not answer, sending it more is no use).
    void Release(bool withHangUp = true);
    // At exit with "強制切断": "disconnect bN" and the router's answer. False, traced, when it
    // could not be sent or was not answered. Closes no record: the caller does, after it.
    bool HangUpForExit(int16_t channel);

    // ---- login and line commands -------------------------------------------------------
    void LoginSOHO();
    void Connect(int16_t number);
    void DisConnect(int16_t channel);

    // ---- status poll -------------------------------------------------------------------
    void GetNow();
    void ParseChannelStatus(int16_t channel);
    void UpdateAutoCutState(int16_t channel);
    void ShowChannelStatus(int16_t channel);

    // ---- reconnection ------------------------------------------------------------------
    // After the first login, a connection the router closes, resets or stops answering on is
    // closed and logged in again, with a back-off of 2, 4, 8 ... up to 60 seconds.
    bool Lost() const { return lost_; }
    // The back-off of the next attempt, in ms.
    int RetryDelayMs() const { return retryDelayMs_; }

    // ---- state -------------------------------------------------------------------------
    const LinkState& State() const { return link_; }
    const RouterStatus& Status() const { return status_; }
    bool LinkReady() const { return link_.LinkReady; }
    // Holds the console for an exchange of the caller's, or gives it back.
    void SetLinkReady(bool ready) { link_.LinkReady = ready; }
    bool LoggedIn() const { return link_.LoggedIn; }
    int16_t CurrentChannel() const { return status_.CurrentChannel; }

    // The suspension of the automatic disconnection ("自動切断一時解除"); it also disarms it.
    void SetCutBreak(bool on);
    bool CutBreak() const { return cutBreak_; }
    // The channel the read-outs show: 0 the one in use.
    void SetDisplayChannel(int16_t channel) { displayChannel_ = channel; }
    int16_t DisplayChannel() const { return displayChannel_; }
    // The message window held open by the user shows the replies as they come.
    void SetMessageWindowOpen(bool open) { messageWindowOpen_ = open; }
    bool MessageWindowOpen() const { return messageWindowOpen_; }
    const std::string& LastInformation() const { return lastInformation_; }
    void SetConsolePort(uint16_t port) { consolePort_ = port; }
    // What must be saved before the program ends (the window position).
    void SetBeforeExit(std::function<void()> hook) { beforeExit_ = std::move(hook); }
    // The start of a run: no channel is known to carry a call.
    void ResetLineState();

    // Tests put the link into the states a dialogue would leave.
    LinkState& StateForTest() { return link_; }
    RouterStatus& StatusForTest() { return status_; }

  private:
    // false: not opened (only when a failure may not end the program, while reconnecting).
    bool CreateSocket();
    bool ConnectSocket();
    bool Open();
    // The whole login; false (traced) when a step failed and the program goes on.
    bool LoginDialogue();
    // The connection is gone: closed, said once, and logged in again later.
    void ConnectionLost(const std::string& reason);
    void Reconnect();
    // A socket error box, or, once logged in, the loss of the connection.
    bool SocketError(const std::string& procedure, const std::string& function, int code);
    void OnSocketEvent();
    void AppendRead(const char* data, int n);
    void ShowPendingInMessageWindow(const char* lineBreak);
    void StartExchange(const std::string& command);
    // A new reply begins: nothing of the previous one stays, not even a held-back lead byte.
    void ClearReply();
    // The awaited text in what arrived since the last look.
    bool ReplyHas(const std::u16string& awaited);
    // Reply text for a trace line: without fillers, the password masked, cut to a sane length.
    std::string ForTrace(std::u16string_view text) const;
    void RunDeferred(bool withHangUp);
    void Pump() { ports_.pump.PumpOnce(); }
    [[noreturn]] void EndAtOnce();
    // Ends the program at start-up; while reconnecting traces and returns false.
    bool LoginFailed(const std::string& tag, const std::string& message);
    bool LoginStep(const std::string& statusTag, const std::string& traceTag,
                   const std::u16string& command, int16_t pending, const std::u16string& awaited,
                   const std::string& failTag, const std::string& failMessage,
                   int32_t* pcSecondsAfterSend = nullptr);

    // What one reply may hold; beyond it only the last kReplyTail characters are kept, so a
    // flood neither grows the program nor hides the prompt that ends it.
    static constexpr size_t kReplyCap = 256 * 1024;
    static constexpr size_t kReplyTail = 512;

    LinkPorts ports_;
    Trace& trace_;
    const Settings& settings_;
    CallEvents& calls_;
    LinkState link_;
    RouterStatus status_;
    bool cutBreak_ = false;
    int16_t displayChannel_ = 0;
    bool messageWindowOpen_ = false;
    std::string lastInformation_;
    uint16_t consolePort_ = 23;        // KESTROVAN_CONSOLE_PORT may override it
    bool reportedUnreadable_ = false;  // a report without channel blocks is traced once
    int held_ = 0;  // exchanges holding the console (an inner one runs in the outer's tail)
    std::deque<std::function<void()>> deferred_;
    bool draining_ = false;
    // The reply without its fillers, kept up with ReplyText as it grows, and where the next
    // search for the awaited text begins.
    std::u16string plain_;
    size_t scanned_ = 0;
    size_t searchFrom_ = 0;
    // The reply beyond the cap: only its last characters are kept, for the awaited text.
    bool overflowed_ = false;
    std::u16string tail_;
    // Logged in once: from then on a lost connection is logged in again instead of ending.
    bool online_ = false;
    bool lost_ = false;
    bool reconnecting_ = false;
    int retryDelayMs_ = kFirstRetryMs;
    static constexpr int kFirstRetryMs = 2000;
    static constexpr int kLastRetryMs = 60000;
    std::function<void()> beforeExit_;
};

// The error text of a socket call's code, "" for none.
std::string WinsockErrorText(const std::string& function, int code);
// Case-insensitive searches; positions count from 1; 0 when a marker is missing. Positions
// are not limited to 16 bits: a report padded beyond 32767 characters is still read.
int ExtractField(int start, const std::u16string& text, const std::u16string& anchor,
                 const std::u16string& open, const std::u16string& close, std::u16string& out);

}  // namespace kv
