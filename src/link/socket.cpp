// The one TCP connection to the router's console: open, send, receive, close, error boxes.
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/trace.h"
#include "common/cp932.h"
#include "link/link.h"
#include "link/link_text.h"

namespace kv {

namespace {

constexpr int kBufferSize = 4096;

ConsoleTransport& Transport(Context& cx) { return *cx.ports.transport; }

void Pump(Context& cx) {
    if (cx.ports.pump) cx.ports.pump->PumpOnce();
}

// A failure while opening ends the program on the spot; the error box was the message.
[[noreturn]] void EndAtOnce(Context& cx) {
    cx.ports.exit->Exit(1);
    std::abort();  // Exit does not come back
}

void DecrementPending(Context& cx) {
    if (cx.link.PendingReceives > INT16_MIN) --cx.link.PendingReceives;
}

// Appends one read to ReplyText: the decoded bytes, then as many zero filler characters as the
// 2n-byte rule puts behind them (n, or what is left of the buffer for reads over half of it).
// The fillers are always zeros, never leftovers of an earlier read. A lead byte that ends the
// read is held back and joined to the next read, so no character is split between reads.
void AppendRead(Context& cx, const char* data, int n) {
    std::string bytes = std::move(cx.link.CarryBytes);
    cx.link.CarryBytes.clear();
    bytes.append(data, static_cast<size_t>(n));
    size_t i = 0;
    while (i < bytes.size()) {
        if (cp932::IsLeadByte(static_cast<unsigned char>(bytes[i]))) {
            if (i + 1 == bytes.size()) {
                cx.link.CarryBytes = bytes.substr(i);
                bytes.resize(i);
                break;
            }
            i += 2;
        } else {
            ++i;
        }
    }
    const int filler = n > kBufferSize / 2 ? kBufferSize - n : n;
    cx.link.ReplyText += cp932::Decode(bytes);
    cx.link.ReplyText.append(static_cast<size_t>(filler > 0 ? filler : 0), u'\0');
}

void ShowPendingInMessageWindow(Context& cx) {
    if (cx.MessageWindowOpen == 1 && cx.ports.view)
        cx.ports.view->SetMessageText(std::to_string(cx.link.PendingReceives) + "\r\n" +
                                      link::Visible(cx.link.ReplyText));
}

}  // namespace

void OpenLink(Context& cx) {
    StartIt(cx);
    CreateSocket(cx);
    ConnectSocket(cx);
    SetStatusText(cx, "Connection OK");
}

// Nothing to start on this platform; the step stays so the trace and status read the same.
void StartIt(Context& cx) {
    WriteTrace(cx, 4, "StartIt");
    SetStatusText(cx, "WSAStartup");
}

void CreateSocket(Context& cx) {
    WriteTrace(cx, 4, "CreateSocket");
    const int handle = Transport(cx).Create();
    const int code = Transport(cx).LastError();
    Pump(cx);
    if (handle == -1) {
        ShowSocketError(cx, "Function CreateSocket", "socket", code);
        EndAtOnce(cx);
    }
    SetStatusText(cx, "Socket:" + std::to_string(handle));
}

void ConnectSocket(Context& cx) {
    WriteTrace(cx, 4, "ConnectSocket");
    const int result = Transport(cx).Connect(cx.settings.sohoip, cx.ConsolePort);
    const int code = Transport(cx).LastError();
    Pump(cx);
    if (result != 0) {
        ShowSocketError(cx, "Sub Connect_Socket", "connect", code != 0 ? code : result);
        Transport(cx).Close();
        EndAtOnce(cx);
    }
    SetStatusText(cx, "Connect");
    WriteTrace(cx, 4, "Connect1");
    Transport(cx).SetNotifyHandler([&cx] { PortI_KeyDown(cx); });
    Transport(cx).SetNotifications(true);
    cx.link.SocketOpen = true;
    Pump(cx);
    SetStatusText(cx, "WSAAsyncSelect");
    WriteTrace(cx, 4, "Connect2");
}

void Sendbyte(Context& cx) {
    WriteTrace(cx, 4, "Sendbyte-st");
    std::u16string line = cx.link.SendText;
    line += link::kLineBreak;
    const std::string bytes = cp932::Encode(line);
    const int len = static_cast<int>(bytes.size());
    int sent = 0;
    int r = 0;
    int code = 0;
    do {
        r = Transport(cx).Send(bytes.data() + sent, len - sent);
        // Taken before the pump: a read handled inside it leaves its own code behind.
        code = Transport(cx).LastError();
        if (r > 0) sent += r;
        Pump(cx);
    } while (r > 0 && sent < len);
    ShowSocketError(cx, "Port_Process", "Send", code);
    WriteTrace(cx, 4, "Sendbyte-end");
}

void Receive(Context& cx) {
    WriteTrace(cx, 4, "Receive-st");
    cx.link.ActivityTag = "cl_rec";
    std::vector<char> buffer(kBufferSize, 0);
    int total = 0;
    int n = 0;
    int code = 0;
    do {
        n = Transport(cx).Recv(buffer.data(), kBufferSize);
        code = Transport(cx).LastError();
        if (n == 0) {
            ServerShutdown(cx);
            return;
        }
        if (n > 0) {
            AppendRead(cx, buffer.data(), n);
            total += n;
        }
        Pump(cx);
    } while (n > 0 && total < kBufferSize);
    if (ShowSocketError(cx, "Port_Process", "recv", code)) SetStatusText(cx, "Receive Error");
    DecrementPending(cx);
    WriteTrace(cx, 4, "Receive-end");
    ShowPendingInMessageWindow(cx);
}

void PortI_KeyDown(Context& cx) {
    WriteTrace(cx, 4, "Port-st");
    Transport(cx).SetNotifications(false);
    WriteTrace(cx, 4, "Port-1");
    Receive(cx);
    Transport(cx).SetNotifications(true);
    WriteTrace(cx, 4, "Port-end");
}

void ServerShutdown(Context& cx) {
    Transport(cx).Close();
    cx.link.SocketOpen = false;
    SetStatusText(cx, "Server Shutdown");
    cx.ports.view->MessageBox("Server Shutdown", "", MsgIcon::None, MsgButtons::Ok);
}

void Client_close(Context& cx) {
    Transport(cx).Close();
    cx.link.SocketOpen = false;
    Pump(cx);
    // There is no blocking hook to remove on this platform; the pumps stay as they were.
    Pump(cx);
    SetStatusText(cx, "Socket closed");
}

bool WinsockErrorMessage(Context& cx, const std::string& procedure, const std::string& function) {
    return ShowSocketError(cx, procedure, function, Transport(cx).LastError());
}

bool ShowSocketError(Context& cx, const std::string& procedure, const std::string& function,
                     int code) {
    if (code == 0) return false;
    const std::string text = WinsockErrorText(function, code);
    if (text.empty()) return false;
    const std::string lb = "\n\r";
    cx.ports.view->MessageBox("Program is " + procedure + lb + "Function is " + function + lb +
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
            case 10040: return "WSAEMSGSIZE:データグラムがバッファよりも大きすぎるためにきりつめられた。";
            case 10045: return "WSAEOPNOTSUPP:帯域外データが指定されているが、このソッケットはＴＣＰソッケットではない。";
            case 10050: return "WSAENETDOWN:ネットワークサブシステムが落ちていることをWINSOCK.DLLが報告した。";
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
