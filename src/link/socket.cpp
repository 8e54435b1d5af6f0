// SPDX-License-Identifier: GPL-3.0-or-later
// The one TCP connection to the router's console: open, send, receive, close, error boxes.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/console_session.h"
#include "link/link_text.h"

namespace kv {

namespace {
constexpr int kBufferSize = 4096;
// Reply text in a trace line: enough for any real report, not a flood.
constexpr size_t kTraceTextBytes = 4000;
}  // namespace

ConsoleSession::ConsoleSession(ConsoleTransport& transport, Trace& trace, LinkView& view,
                               const Settings& settings, SessionOwner& owner)
    : transport_(transport), trace_(trace), view_(view), settings_(settings), owner_(owner) {}

// Appends one read to ReplyText: the decoded bytes, then as many zero filler characters as the
// 2n-byte rule puts behind them (n, or what is left of the buffer for reads over half of it).
// The fillers are always zeros, never leftovers of an earlier read. A lead byte that ends the
// read is held back and joined to the next read, so no character is split between reads.
void ConsoleSession::AppendRead(const char* data, int n) {
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
    // Without the fillers: a short last read carries as many of them as characters, and they
    // would push the prompt that ends the flood out of the tail.
    tail_ += link::WithoutFillers(text);
    if (tail_.size() > kReplyTail) tail_.erase(0, tail_.size() - kReplyTail);
    reply.resize(kReplyCap);
    reply += tail_;
}

void ConsoleSession::ShowPendingInMessageWindow(const char* lineBreak) {
    if (messageWindowOpen_)
        view_.SetMessageText(std::to_string(link_.PendingReceives) + lineBreak +
                             link::Visible(link_.ReplyText));
}

bool ConsoleSession::Open(bool quiet) {
    // The sockets library needs no start-up here; the step stays so trace and status read
    // the same as where it does.
    trace_.Step("StartIt");
    view_.ShowStatus("WSAStartup");
    if (!CreateSocket(quiet) || !ConnectSocket(quiet)) return false;
    view_.ShowStatus("Connection OK");
    return true;
}

bool ConsoleSession::CreateSocket(bool quiet) {
    trace_.Step("CreateSocket");
    const int handle = transport_.Create();
    const int code = transport_.LastError();
    if (handle == -1) {
        if (quiet)
            trace_.Error("reconnect err:socket " + std::to_string(code));
        else
            ShowSocketError("Function CreateSocket", "socket", code);
        return false;
    }
    view_.ShowStatus("Socket:" + std::to_string(handle));
    return true;
}

bool ConsoleSession::ConnectSocket(bool quiet) {
    trace_.Step("ConnectSocket");
    const int result = transport_.Connect(settings_.sohoip, consolePort_);
    const int code = transport_.LastError();
    if (result != 0) {
        const int c = code != 0 ? code : result;
        if (quiet) {
            // Refused or unreachable while the router restarts: the next attempt follows.
            trace_.Error("reconnect err:connect " + std::to_string(c) + " " +
                         WinsockErrorText("connect", c));
        } else {
            ShowSocketError("Sub Connect_Socket", "connect", c);
        }
        transport_.Close();
        return false;
    }
    view_.ShowStatus("Connect");
    trace_.Step("Connect1");
    transport_.SetNotifyHandler([this] { OnSocketEvent(); });
    transport_.SetNotifications(true);
    link_.SocketOpen = true;
    view_.ShowStatus("WSAAsyncSelect");
    trace_.Step("Connect2");
    return true;
}

void ConsoleSession::Sendbyte() {
    trace_.Step("Sendbyte-st");
    std::u16string line = link_.SendText;
    line += link::kLineBreak;
    const std::string bytes = cp932::Encode(line);
    const int len = static_cast<int>(bytes.size());
    int sent = 0;
    int r = 0;
    int code = 0;
    do {
        r = transport_.Send(bytes.data() + sent, len - sent);
        code = transport_.LastError();
        if (r > 0) sent += r;
    } while (r > 0 && sent < len);
    owner_.SocketFailed("Port_Process", "Send", code);
    trace_.Step("Sendbyte-end");
}

void ConsoleSession::Receive() {
    trace_.Step("Receive-st");
    link_.ActivityTag = "cl_rec";
    std::vector<char> buffer(kBufferSize, 0);
    int total = 0;
    int n = 0;
    int code = 0;
    do {
        n = transport_.Recv(buffer.data(), kBufferSize);
        code = transport_.LastError();
        if (n == 0) {
            owner_.PeerClosed();
            return;
        }
        if (n > 0) {
            AppendRead(buffer.data(), n);
            total += n;
        }
    } while (n > 0 && total < kBufferSize);
    if (owner_.SocketFailed("Port_Process", "recv", code)) view_.ShowStatus("Receive Error");
    if (link_.PendingReceives > INT16_MIN) --link_.PendingReceives;
    trace_.Step("Receive-end");
    ShowPendingInMessageWindow("\r\n");
}

// Every read or close event of the console socket; no read event comes while it reads.
void ConsoleSession::OnSocketEvent() {
    trace_.Step("Port-st");
    transport_.SetNotifications(false);
    trace_.Step("Port-1");
    Receive();
    if (link_.SocketOpen) transport_.SetNotifications(true);
    trace_.Step("Port-end");
    owner_.ReadArrived();
}

void ConsoleSession::ServerShutdown() {
    transport_.Close();
    link_.SocketOpen = false;
    view_.ShowStatus("Server Shutdown");
    view_.ShowBox("Server Shutdown", "");
}

void ConsoleSession::Client_close() {
    transport_.Close();
    link_.SocketOpen = false;
    view_.ShowStatus("Socket closed");
}

void ConsoleSession::Drop() {
    transport_.Close();
    link_.SocketOpen = false;
    link_.LinkReady = false;
}

bool ConsoleSession::ShowSocketError(const std::string& procedure, const std::string& function,
                                     int code) {
    if (code == 0) return false;
    const std::string text = WinsockErrorText(function, code);
    if (text.empty()) return false;
    const std::string lb = "\n\r";
    view_.ShowBox("Program is " + procedure + lb + "Function is " + function + lb +
                      "Error Number is " + std::to_string(code) + lb + text,
                  "WinsockErrorMessage");
    return true;
}

void ConsoleSession::ClearReply() {
    link_.ReplyText.clear();
    link_.CarryBytes.clear();
    overflowed_ = false;
    tail_.clear();
    scanned_ = 0;
}

void ConsoleSession::StartExchange(const std::string& command) {
    link_.SendText = Utf8ToUtf16(command);
    ClearReply();
    link_.PendingReceives = 1;
    Sendbyte();
}

// The fillers between reads are skipped, so an awaited text split over two reads has still
// arrived; only what came since the last look is searched, so a long reply costs no more
// than its own length.
namespace {

// The reply with the echo of `sent` blanked out: where it stands with the line break that was
// sent after it, or at the end of the reply while it is still arriving. A "%" of the prompt
// that follows the password's is not taken for part of it.
std::u16string WithoutEcho(std::u16string plain, const std::u16string& sent) {
    for (size_t p = plain.find(sent); p != std::u16string::npos; p = plain.find(sent, p + 1)) {
        const size_t end = p + sent.size();
        if (end < plain.size() && (plain[end] == u'\n' || plain[end] == u'\r'))
            plain.replace(p, sent.size(), sent.size(), u' ');
    }
    for (size_t n = std::min(sent.size(), plain.size()); n > 0; --n)
        if (plain.compare(plain.size() - n, n, sent, 0, n) == 0) {
            plain.replace(plain.size() - n, n, n, u' ');
            break;
        }
    return plain;
}

}  // namespace

bool ConsoleSession::ReplyHas(const std::u16string& awaited) {
    const std::u16string& reply = link_.ReplyText;
    if (!echo_.empty())
        return link::FindText(1, WithoutEcho(link::WithoutFillers(reply), echo_), awaited, false) >
               0;
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

int ConsoleSession::TimesInReply(const std::u16string& awaited) const {
    const std::u16string plain = link::WithoutFillers(link_.ReplyText);
    int times = 0;
    for (int at = 1; (at = link::FindText(at, plain, awaited, false)) > 0;
         at += static_cast<int>(std::max<size_t>(awaited.size(), 1)))
        ++times;
    return times;
}

std::string ConsoleSession::ForTrace(std::u16string_view text) const {
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
        case 11001: return "WSAHOST_NOT_FOUND:MN128のアドレス (名前) が見つかりません。";
        default: return "";
    }
}

}  // namespace kv
