// The one TCP connection to the router's console: open, send, receive, close, error boxes.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

namespace {
constexpr int kBufferSize = 4096;
}  // namespace

// A failure while opening ends the program on the spot; the error box was the message.
void ConsoleLink::EndAtOnce() {
    ports_.exit.Exit(1);
    std::abort();  // Exit does not come back
}

// Appends one read to ReplyText: the decoded bytes, then as many zero filler characters as the
// 2n-byte rule puts behind them (n, or what is left of the buffer for reads over half of it).
// The fillers are always zeros, never leftovers of an earlier read. A lead byte that ends the
// read is held back and joined to the next read, so no character is split between reads.
void ConsoleLink::AppendRead(const char* data, int n) {
    std::string bytes = std::move(link_.CarryBytes);
    link_.CarryBytes.clear();
    bytes.append(data, static_cast<size_t>(n));
    size_t i = 0;
    while (i < bytes.size()) {
        if (cp932::IsLeadByte(static_cast<unsigned char>(bytes[i]))) {
            if (i + 1 == bytes.size()) {
                link_.CarryBytes = bytes.substr(i);
                bytes.resize(i);
                break;
            }
            i += 2;
        } else {
            ++i;
        }
    }
    const int filler = n > kBufferSize / 2 ? kBufferSize - n : n;
    std::u16string text = cp932::Decode(bytes);
    text.append(static_cast<size_t>(filler > 0 ? filler : 0), u'\0');
    std::u16string& reply = link_.ReplyText;
    if (!overflowed_ && reply.size() + text.size() <= kReplyCap) {
        reply += text;
        return;
    }
    if (!overflowed_) {
        overflowed_ = true;
        trace_.Error("reply too long: beyond " + std::to_string(kReplyCap) +
                     " characters only the end is kept");
        const size_t room = kReplyCap - std::min(reply.size(), kReplyCap);
        reply += text.substr(0, room);
        text.erase(0, room);
        tail_.clear();
    }
    tail_ += text;
    if (tail_.size() > kReplyTail) tail_.erase(0, tail_.size() - kReplyTail);
    reply.resize(kReplyCap);
    reply += tail_;
}

void ConsoleLink::ShowPendingInMessageWindow(const char* lineBreak) {
    if (messageWindowOpen_)
        ports_.view.SetMessageText(std::to_string(link_.PendingReceives) + lineBreak +
                                   link::Visible(link_.ReplyText));
}

ConsoleLink::ConsoleLink(const LinkPorts& ports, Trace& trace, const Settings& settings,
                         CallEvents& calls)
    : ports_(ports), trace_(trace), settings_(settings), calls_(calls) {
    ports_.tmrRetry.SetHandler([this] {
        ports_.tmrRetry.SetEnabled(false);
        Reconnect();
    });
}

void ConsoleLink::OpenLink() {
    Open();
}

bool ConsoleLink::Open() {
    // The sockets library needs no start-up here; the step stays so trace and status read
    // the same as where it does.
    trace_.Step("StartIt");
    ports_.view.SetStatusText("WSAStartup");
    if (!CreateSocket() || !ConnectSocket()) return false;
    ports_.view.SetStatusText("Connection OK");
    return true;
}

bool ConsoleLink::CreateSocket() {
    trace_.Step("CreateSocket");
    const int handle = ports_.transport.Create();
    const int code = ports_.transport.LastError();
    Pump();
    if (handle == -1) {
        if (reconnecting_) {
            trace_.Error("reconnect err:socket " + std::to_string(code));
            return false;
        }
        ShowSocketError("Function CreateSocket", "socket", code);
        EndAtOnce();
    }
    ports_.view.SetStatusText("Socket:" + std::to_string(handle));
    return true;
}

bool ConsoleLink::ConnectSocket() {
    trace_.Step("ConnectSocket");
    const int result = ports_.transport.Connect(settings_.sohoip, consolePort_);
    const int code = ports_.transport.LastError();
    Pump();
    if (result != 0) {
        if (reconnecting_) {
            // Refused or unreachable while the router restarts: the next attempt follows.
            const int c = code != 0 ? code : result;
            trace_.Error("reconnect err:connect " + std::to_string(c) + " " +
                         WinsockErrorText("connect", c));
            ports_.transport.Close();
            return false;
        }
        ShowSocketError("Sub Connect_Socket", "connect", code != 0 ? code : result);
        ports_.transport.Close();
        EndAtOnce();
    }
    ports_.view.SetStatusText("Connect");
    trace_.Step("Connect1");
    ports_.transport.SetNotifyHandler([this] { OnSocketEvent(); });
    ports_.transport.SetNotifications(true);
    link_.SocketOpen = true;
    Pump();
    ports_.view.SetStatusText("WSAAsyncSelect");
    trace_.Step("Connect2");
    return true;
}

void ConsoleLink::Sendbyte() {
    trace_.Step("Sendbyte-st");
    std::u16string line = link_.SendText;
    line += link::kLineBreak;
    const std::string bytes = cp932::Encode(line);
    const int len = static_cast<int>(bytes.size());
    int sent = 0;
    int r = 0;
    int code = 0;
    do {
        r = ports_.transport.Send(bytes.data() + sent, len - sent);
        // Taken before the pump: a read handled inside it leaves its own code behind.
        code = ports_.transport.LastError();
        if (r > 0) sent += r;
        Pump();
    } while (r > 0 && sent < len);
    SocketError("Port_Process", "Send", code);
    trace_.Step("Sendbyte-end");
}

void ConsoleLink::Receive() {
    trace_.Step("Receive-st");
    link_.ActivityTag = "cl_rec";
    std::vector<char> buffer(kBufferSize, 0);
    int total = 0;
    int n = 0;
    int code = 0;
    do {
        n = ports_.transport.Recv(buffer.data(), kBufferSize);
        code = ports_.transport.LastError();
        if (n == 0) {
            ServerShutdown();
            return;
        }
        if (n > 0) {
            AppendRead(buffer.data(), n);
            total += n;
        }
        Pump();
    } while (n > 0 && total < kBufferSize);
    if (SocketError("Port_Process", "recv", code)) ports_.view.SetStatusText("Receive Error");
    if (link_.PendingReceives > INT16_MIN) --link_.PendingReceives;
    trace_.Step("Receive-end");
    ShowPendingInMessageWindow("\r\n");
}

// Every read or close event of the console socket; no read event comes while it reads.
void ConsoleLink::OnSocketEvent() {
    trace_.Step("Port-st");
    ports_.transport.SetNotifications(false);
    trace_.Step("Port-1");
    Receive();
    ports_.transport.SetNotifications(true);
    trace_.Step("Port-end");
}

void ConsoleLink::ServerShutdown() {
    if (online_) {
        ConnectionLost("the router closed the connection");
        return;
    }
    ports_.transport.Close();
    link_.SocketOpen = false;
    ports_.view.SetStatusText("Server Shutdown");
    ports_.view.MessageBox("Server Shutdown", "", MsgIcon::None, MsgButtons::Ok);
}

void ConsoleLink::Client_close() {
    ports_.transport.Close();
    link_.SocketOpen = false;
    Pump();
    // There is no blocking hook to remove on this platform; the pumps stay as they were.
    Pump();
    ports_.view.SetStatusText("Socket closed");
}

bool ConsoleLink::SocketError(const std::string& procedure, const std::string& function, int code) {
    // Once logged in, a connection that fails is logged in again, not reported at every poll.
    if (online_ && code != 0 && code != 10035 && code != 10004) {
        ConnectionLost(function + " " + std::to_string(code) + " " + WinsockErrorText("", code));
        return false;
    }
    return ShowSocketError(procedure, function, code);
}

bool ConsoleLink::ShowSocketError(const std::string& procedure, const std::string& function,
                                  int code) {
    if (code == 0) return false;
    const std::string text = WinsockErrorText(function, code);
    if (text.empty()) return false;
    const std::string lb = "\n\r";
    ports_.view.MessageBox("Program is " + procedure + lb + "Function is " + function + lb +
                               "Error Number is " + std::to_string(code) + lb + text,
                           "WinsockErrorMessage", MsgIcon::None, MsgButtons::Ok);
    return true;
}

std::string WinsockErrorText(const std::string& function, int code) {
    if (function == "recv" || function == "recvfrom") {
        switch (code) {
            case 10004: return "WSAEINTR:呼び出しが消された。";
            case 10022: return "WSAEINVAL:ソッケットがバインドされていない。";
            case 10035: return "";
            case 10036: return "WSAEINPROGRESS:現在ノンブロッキング型の呼び出しが進行中である。";
            case 10038: return "WSAENOTSOCK:呼び出されたディスクリプタがソッケットでない。";
            case 10040:
                return "WSAEMSGSIZE:データグラムがバッファよりも大きすぎるためにきりつめられた。";
            case 10045:
                return "WSAEOPNOTSUPP:帯域外データが指定されているが、このソッケットはＴＣＰソッケットではない。";
            case 10050:
                return "WSAENETDOWN:ネットワークサブシステムが落ちていることをWINSOCK.DLLが報告した。";
            case 10053: return "WSAECONNABORTED:ネットワの不良が原因で接続が中止された。";
            case 10054: return "WSAECONNRESET:リモートホストによって接続が再開された。";
            case 10057: return "WSAENOTCONN:ソッケットが接続されていない。";
            case 10058: return "WSAESHUTDOWN:ソッケットが遮断されている。";
            case 10093: return "WSANOTINITIALIZED:WSAStartup関数の呼び出しが成功していない。";
            default: return "";
        }
    }
    switch (code) {
        case 10004: return "WSAEINTR";
        case 10009: return "WSAEBADF";
        case 10013: return "WSAEACCES";
        case 10014: return "WSAEFAULT";
        case 10022: return "WSAEINVAL";
        case 10024: return "WSAEMFILE";
        case 10035: return "WSAEWOULDBLOCK";
        case 10036: return "WSAEINPROGRESS";
        case 10037: return "WSAEALREADY";
        case 10038: return "WSAENOTSOCK";
        case 10039: return "WSAEDESTADDRREQ";
        case 10040: return "WSAEMSGSIZE";
        case 10041: return "WSAEPROTOTYPE";
        case 10042: return "WSAENOPROTOOPT";
        case 10043: return "WSAEPROTONOSUPPORT";
        case 10044: return "WSAESOCKTNOSUPPORT";
        case 10045: return "WSAEOPNOTSUPP";
        case 10046: return "WSAEPFNOSUPPORT";
        case 10047: return "WSAEAFNOSUPPORT";
        case 10048: return "WSAEADDRINUSE";
        case 10049: return "WSAEADDRNOTAVAIL";
        case 10050: return "WSAENETDOWN";
        case 10051: return "WSAENETUNREACH";
        case 10052: return "WSAENETRESET";
        case 10053: return "WSAECONNABORTED";
        case 10054: return "WSAECONNRESET";
        case 10055: return "WSAENOBUFS";
        case 10056: return "WSAEISCONN";
        case 10057: return "WSAENOTCONN";
        case 10058: return "WSAESHUTDOWN";
        case 10059: return "WSAETOOMANYREFS";
        case 10060: return "WSAETIMEDOUT";
        case 10061: return "WSAECONNREFUSED";
        case 10062: return "WSAELOOP";
        case 10063: return "WSAENAMETOOLONG";
        case 10064: return "WSAEHOSTDOWN";
        case 10065: return "WSAEHOSTUNREACH";
        case 10066: return "WSAENOTEMPTY";
        case 10067: return "WSAEPROCLIM";
        case 10068: return "WSAEUSERS";
        case 10069: return "WSAEDQUOT";
        case 10070: return "WSAESTALE";
        case 10071: return "WSAEREMOTE";
        case 10091: return "WSASYSNOTREADY";
        case 10092: return "WSAVERNOTSUPPORTED";
        case 10093: return "WSANOTINITIALISED";
        default: return "";
    }
}

}  // namespace kv
