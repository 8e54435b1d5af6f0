// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A router console played from a script, on the fake event loop: every line the program sends
// may be answered after a delay; data arrives through the notify handler at simulated times,
// in segments if asked; the router can close the connection; socket calls can be made to fail.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/ports.h"
#include "support/fakes.h"

namespace kv::test {

class ScriptedTransport : public ConsoleTransport {
  public:
    explicit ScriptedTransport(FakeEventLoop& loop);
    ~ScriptedTransport() override;

    int Create() override;
    int Connect(const std::string& ipv4, uint16_t port) override;
    int Send(const char* data, int len) override;
    int Recv(char* buffer, int len) override;
    void Close() override;
    int LastError() const override { return lastError_; }
    void SetNotifications(bool readEvents) override;
    void SetNotifyHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

    // ---- script (texts are UTF-8 and go out as CP932; *Bytes variants go out as they are) ---
    // Sent once the connection is made.
    void Greeting(const std::string& text, int64_t delayMs = 10);
    // Every time the program sends this line (without its LF CR), the reply follows.
    void Answer(const std::string& line, const std::string& text, int64_t delayMs = 10);
    void AnswerBytes(const std::string& line, const std::string& bytes, int64_t delayMs = 10);
    // Lines without an Answer go here; nullopt means no reply at all. The reply follows after
    // onLineDelayMs.
    std::function<std::optional<std::string>(const std::string& line)> onLine;
    int64_t onLineDelayMs = 10;
    // Data that arrives by itself after delayMs.
    void DeliverBytes(const std::string& bytes, int64_t delayMs = 0);
    void Deliver(const std::string& text, int64_t delayMs = 0);
    // The router closes the connection after delayMs.
    void PeerClose(int64_t delayMs = 0);

    int createResult = 3;  // the handle Create returns; -1 fails with createError
    int createError = 10024;
    int connectResult = 0;  // WinSock code Connect returns
    size_t segment = 0;     // deliveries are cut into pieces of this size, 1 ms apart
    int failNextSend = 0;   // WinSock code for the next Send
    int failNextRecv = 0;   // WinSock code for the next Recv
    int maxSend = 0;        // a Send takes at most this many bytes (0: all)

    // ---- what happened --------------------------------------------------------------------
    std::string sent;                            // every byte the program sent
    std::vector<std::string> SentLines() const;  // sent, split at LF CR
    std::string connectedTo;                     // "ip:port"
    int connects = 0;                            // connections made
    int notifications = 0;                       // handler calls
    int recvCalls = 0;
    bool readEvents() const { return readEvents_; }
    bool closedByProgram() const { return closed_; }
    size_t waiting() const { return inbound_.size(); }

  private:
    void Arrive(const std::string& bytes);
    void ScheduleNotify();
    void Schedule(const std::string& bytes, int64_t delayMs);

    FakeEventLoop& loop_;
    std::shared_ptr<bool> alive_;
    std::map<std::string, std::pair<std::string, int64_t>> answers_;
    std::string greeting_;
    int64_t greetingDelay_ = 10;
    bool hasGreeting_ = false;
    std::string lineBuffer_;
    std::string inbound_;
    bool connected_ = false;
    bool closed_ = false;
    bool peerClosed_ = false;
    bool readEvents_ = false;
    bool notifyScheduled_ = false;
    int lastError_ = 0;
    std::function<void()> handler_;
};

}  // namespace kv::test
