#pragma once
// The router console link: the one TCP connection, the request-and-reply discipline, the
// login, the line commands and the status poll. It owns the link flags and the router status
// snapshot; what it sees of calls it reports through CallEvents.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

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
};

enum class EndMode { Quiet, WithMessage };

struct LinkPorts {
    ConsoleTransport& transport;
    EventPump& pump;
    const Clock& clock;
    MainView& view;
    Timer& tmrSOHO;
    ProgramExit& exit;
};

class ConsoleLink {
  public:
    ConsoleLink(const LinkPorts& ports, Trace& trace, const Settings& settings, CallEvents& calls)
        : ports_(ports), trace_(trace), settings_(settings), calls_(calls) {}

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
    // One command line, answered by the router's prompt; false after the last attempt.
    bool Command(const std::string& line);

    // ---- login and line commands -------------------------------------------------------
    void LoginSOHO();
    void Connect(int16_t number);
    void DisConnect(int16_t channel);

    // ---- status poll -------------------------------------------------------------------
    void GetNow();
    void ParseChannelStatus(int16_t channel);
    void UpdateAutoCutState(int16_t channel);
    void ShowChannelStatus(int16_t channel);

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
    void CreateSocket();
    void ConnectSocket();
    void OnSocketEvent();
    void AppendRead(const char* data, int n);
    void ShowPendingInMessageWindow(const char* lineBreak);
    void StartExchange(const std::string& command);
    void Pump() { ports_.pump.PumpOnce(); }
    [[noreturn]] void EndAtOnce();
    [[noreturn]] void LoginFailed(const std::string& tag, const std::string& message);
    void LoginStep(const std::string& statusTag, const std::string& traceTag,
                   const std::u16string& command, int16_t pending, const std::u16string& awaited,
                   const std::string& failTag, const std::string& failMessage,
                   int32_t* pcSecondsAfterSend = nullptr);

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
    uint16_t consolePort_ = 23;  // KESTROVAN_CONSOLE_PORT may override it
    std::function<void()> beforeExit_;
};

// The error text of a socket call's code, "" for none.
std::string WinsockErrorText(const std::string& function, int code);
// Case-insensitive searches; positions count from 1; 0 when a marker is missing.
int16_t ExtractField(int16_t start, const std::u16string& text, const std::u16string& anchor,
                     const std::u16string& open, const std::u16string& close, std::u16string& out);

}  // namespace kv
