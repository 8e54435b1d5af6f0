// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows process runner and console socket, on the real system calls (run under Wine
// on Linux). Sockets only on 127.0.0.1.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/win_process_runner.h"
#include "platform/win_socket.h"
#include "support/fakes.h"

namespace kv {
namespace {

TEST(WinProcessRunner, StartsTheExactPathOnlyAndEndsWhatItStarted) {
    WinProcessRunner runner;
    const std::string dir = test::MakeTempDir();
    std::ofstream(dir + "/plain.txt") << "x";
    EXPECT_FALSE(runner.FileExists(dir));
    EXPECT_FALSE(runner.FileExists(dir + "/missing.exe"));
    EXPECT_FALSE(runner.FileExists(std::string(KV_SLEEPER_PATH) + " -x"));
    EXPECT_TRUE(runner.FileExists(dir + "/plain.txt"));
    EXPECT_TRUE(runner.FileExists(KV_SLEEPER_PATH));

    std::string error;
    for (const std::string& bad : {dir + "/missing.exe", dir + "/plain.txt", dir}) {
        error.clear();
        EXPECT_EQ(runner.Start(bad, error), 0) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }

    const int64_t h = runner.Start(KV_SLEEPER_PATH, error);
    ASSERT_GT(h, 0) << error;
    EXPECT_TRUE(runner.IsAlive(h));
    runner.Terminate(h + 1);  // not ours: nothing happens
    EXPECT_TRUE(runner.IsAlive(h));
    runner.Terminate(h);
    EXPECT_FALSE(runner.IsAlive(h));
    runner.Terminate(h);  // already gone
    test::RemoveTree(dir);
}

// A listener on 127.0.0.1 with a port of the system's choosing.
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

TEST(WinSocket, ConnectsSendsReadsAndReportsWinsockNumbers) {
    int error = -1;
    winsock::Socket s = winsock::Open(error);
    ASSERT_NE(s, winsock::kNoSocket) << error;
    char buffer[16];
    {
        Listener l;
        ASSERT_EQ(winsock::Connect(s, "127.0.0.1", l.port, 5000, {}), 0);
        const SOCKET peer = ::accept(l.s, nullptr, nullptr);
        ASSERT_NE(peer, INVALID_SOCKET);
        EXPECT_EQ(winsock::Send(s, "abc", 3, error), 3);
        ASSERT_EQ(::recv(peer, buffer, sizeof buffer, 0), 3);
        EXPECT_EQ(std::string(buffer, 3), "abc");
        EXPECT_EQ(winsock::Recv(s, buffer, sizeof buffer, error), -1);
        EXPECT_EQ(error, 10035);  // nothing waiting
        ::send(peer, "de", 2, 0);
        ::closesocket(peer);
        ::Sleep(50);
        EXPECT_EQ(winsock::Recv(s, buffer, sizeof buffer, error), 2);
        EXPECT_EQ(winsock::Recv(s, buffer, sizeof buffer, error), 0);  // the peer closed
    }
    winsock::Close(s);

    uint16_t closedPort = 0;
    {
        Listener l;
        closedPort = l.port;
    }
    s = winsock::Open(error);
    int waits = 0;
    EXPECT_EQ(winsock::Connect(s, "127.0.0.1", closedPort, 5000, [&] { ++waits; }), 10061);
    winsock::Close(s);

    EXPECT_EQ(winsock::Send(winsock::kNoSocket, "x", 1, error), -1);
    EXPECT_EQ(error, 10038);
    EXPECT_EQ(winsock::Recv(winsock::kNoSocket, buffer, 1, error), -1);
    EXPECT_EQ(error, 10038);
}

}  // namespace
}  // namespace kv
