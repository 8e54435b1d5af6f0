// SPDX-License-Identifier: GPL-3.0-or-later
// The console transport's Qt side on Winsock: a reply and the peer's close are announced on the
// event loop, and the handler may close the transport from inside the announcement.
#include <winsock2.h>
// After winsock2.h.
#include <windows.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>

#include "platform/socket_transport.h"

namespace kv {
namespace {

struct Listener {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    uint16_t port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(s, 1);
        int len = sizeof a;
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        port = ::ntohs(a.sin_port);
    }
    ~Listener() { ::closesocket(s); }
};

// Runs the event loop until done() or two seconds have passed.
bool RunUntil(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(SocketTransportWin, RepliesAndTheCloseAreAnnouncedOnTheEventLoop) {
    Listener l;
    SocketTransport transport(5000);
    std::string got;
    bool closed = false;
    transport.SetNotifyHandler([&] {
        char buffer[64];
        const int n = transport.Recv(buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<size_t>(n));
        if (n == 0) {
            closed = true;
            transport.Close();  // from inside the announcement
        }
    });
    ASSERT_EQ(transport.Connect("127.0.0.1", l.port), 0);
    transport.SetNotifications(true);
    const SOCKET peer = ::accept(l.s, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);

    ASSERT_EQ(transport.Send("show status\n\r", 13), 13);
    char buffer[64];
    ASSERT_EQ(::recv(peer, buffer, sizeof buffer, 0), 13);
    ::send(peer, "B1 \x92\x5b\x96\x96\x8c\x5e", 9, 0);  // Shift-JIS bytes pass unchanged
    EXPECT_TRUE(RunUntil([&] { return got.size() == 9; })) << got;
    EXPECT_EQ(got, std::string("B1 \x92\x5b\x96\x96\x8c\x5e", 9));

    ::closesocket(peer);
    EXPECT_TRUE(RunUntil([&] { return closed; }));
    QCoreApplication::processEvents();  // the retired notifier goes
}

TEST(SocketTransportWin, NobodyListeningIsRefusedWithWinsocksNumber) {
    uint16_t port = 0;
    {
        Listener l;
        port = l.port;
    }
    SocketTransport transport(5000);
    EXPECT_EQ(transport.Connect("127.0.0.1", port), 10061);
    EXPECT_EQ(transport.LastError(), 10061);
}

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
