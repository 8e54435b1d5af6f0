// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one TCP connection to the router's console and the reply it builds: open, send, read,
// close, the error boxes. Reads arrive from the event loop; what they mean is the owner's
// business.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/ports.h"
#include "common/trace.h"
#include "settings/settings.h"

namespace kv {

class LinkView;

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

// What the session reports to the link that owns it.
class SessionOwner {
  public:
    virtual ~SessionOwner() = default;
    // A read event was handled: the reply may be complete.
    virtual void ReadArrived() = 0;
    // The router closed the connection.
    virtual void PeerClosed() = 0;
    // A socket call failed with code: a box, or, once logged in, the loss of the connection.
    // True when a box was shown.
    virtual bool SocketFailed(const std::string& procedure, const std::string& function,
                              int code) = 0;
};

class ConsoleSession {
  public:
    ConsoleSession(ConsoleTransport& transport, Trace& trace, LinkView& view,
                   const Settings& settings, SessionOwner& owner);

    // quiet (logging in again): a failure is traced, not boxed. False when not opened.
    bool Open(bool quiet);
    void Sendbyte();
    void Receive();
    void Client_close();
    // The connection is gone (lost or given up): closed without a word.
    void Drop();
    // The error box for a call's code; true when it showed one.
    bool ShowSocketError(const std::string& procedure, const std::string& function, int code);
    // The "Server Shutdown" of a router that closes before the login is complete.
    void ServerShutdown();

    // A new reply begins with `command` sent: nothing of the previous one stays.
    void StartExchange(const std::string& command);
    void ClearReply();
    // Resets the search for the awaited text (a new attempt looks at the whole reply).
    void RestartSearch() { scanned_ = 0; }
    // The awaited text in what arrived since the last look.
    bool ReplyHas(const std::u16string& awaited);
    // While set, an echo of `sent` (a console that echoes what it receives) does not count as
    // the awaited text: a password holding the prompt's "%" must not end the login's wait.
    void IgnoreEcho(std::u16string sent) { echo_ = std::move(sent); }
    // How often the awaited text stands in the reply.
    int TimesInReply(const std::u16string& awaited) const;
    // Reply text for a trace line: without fillers, the password masked, cut to a sane length.
    std::string ForTrace(std::u16string_view text) const;
    void ShowPendingInMessageWindow(const char* lineBreak);

    const LinkState& State() const { return link_; }
    LinkState& StateForTest() { return link_; }
    LinkState& Mutable() { return link_; }
    void SetConsolePort(uint16_t port) { consolePort_ = port; }
    void SetMessageWindowOpen(bool open) { messageWindowOpen_ = open; }
    bool MessageWindowOpen() const { return messageWindowOpen_; }

  private:
    bool CreateSocket(bool quiet);
    bool ConnectSocket(bool quiet);
    void OnSocketEvent();
    void AppendRead(const char* data, int n);

    // What one reply may hold; beyond it only the last kReplyTail characters are kept, so a
    // flood neither grows the program nor hides the prompt that ends it.
    static constexpr size_t kReplyCap = 256 * 1024;
    static constexpr size_t kReplyTail = 512;

    ConsoleTransport& transport_;
    Trace& trace_;
    LinkView& view_;
    const Settings& settings_;
    SessionOwner& owner_;
    LinkState link_;
    uint16_t consolePort_ = 23;  // KESTROVAN_CONSOLE_PORT may override it
    bool messageWindowOpen_ = false;
    // The reply without its fillers, kept up with ReplyText as it grows, and where the next
    // search for the awaited text begins.
    std::u16string plain_;
    size_t scanned_ = 0;
    size_t searchFrom_ = 0;
    // The reply beyond the cap: only its last characters are kept, for the awaited text.
    bool overflowed_ = false;
    std::u16string tail_;
    std::u16string echo_;
};

// The error text of a socket call's code, "" for none.
std::string WinsockErrorText(const std::string& function, int code);

}  // namespace kv
