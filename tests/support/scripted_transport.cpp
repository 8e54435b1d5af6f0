// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/scripted_transport.h"

#include <algorithm>
#include <memory>

#include "common/cp932.h"

namespace kv::test {

namespace {
constexpr int kWouldBlock = 10035;
constexpr int kNotSocket = 10038;
}  // namespace

ScriptedTransport::ScriptedTransport(FakeEventLoop& loop)
    : loop_(loop), alive_(std::make_shared<bool>(true)) {}

// Events still queued on the loop must not touch a transport that is gone.
ScriptedTransport::~ScriptedTransport() {
    *alive_ = false;
}

int ScriptedTransport::Create() {
    if (createResult < 0) {
        lastError_ = createError;
        return -1;
    }
    lastError_ = 0;
    return createResult;
}

int ScriptedTransport::Connect(const std::string& ipv4, uint16_t port) {
    connectedTo = ipv4 + ":" + std::to_string(port);
    ++connects;
    lastError_ = connectResult;
    if (connectResult != 0) return connectResult;
    // A new connection after a close starts afresh, as a new session with the router does.
    connected_ = true;
    closed_ = false;
    peerClosed_ = false;
    inbound_.clear();
    lineBuffer_.clear();
    if (hasGreeting_) Schedule(greeting_, greetingDelay_);
    return 0;
}

int ScriptedTransport::Send(const char* data, int len) {
    if (!connected_ || closed_) {
        lastError_ = kNotSocket;
        return -1;
    }
    if (failNextSend != 0) {
        lastError_ = failNextSend;
        failNextSend = 0;
        return -1;
    }
    const int n = maxSend > 0 ? std::min(len, maxSend) : len;
    sent.append(data, static_cast<size_t>(n));
    lineBuffer_.append(data, static_cast<size_t>(n));
    for (size_t end; (end = lineBuffer_.find("\n\r")) != std::string::npos;) {
        const std::string line = lineBuffer_.substr(0, end);
        lineBuffer_.erase(0, end + 2);
        if (peerClosed_) continue;
        auto it = answers_.find(line);
        if (it != answers_.end()) {
            Schedule(it->second.first, it->second.second);
        } else if (onLine) {
            if (std::optional<std::string> reply = onLine(line))
                Schedule(cp932::EncodeFromUtf8(*reply), onLineDelayMs);
        }
    }
    lastError_ = 0;
    return n;
}

int ScriptedTransport::Recv(char* buffer, int len) {
    ++recvCalls;
    if (!connected_ || closed_) {
        lastError_ = kNotSocket;
        return -1;
    }
    if (failNextRecv != 0) {
        lastError_ = failNextRecv;
        failNextRecv = 0;
        return -1;
    }
    if (inbound_.empty()) {
        if (peerClosed_) {
            lastError_ = 0;
            return 0;
        }
        lastError_ = kWouldBlock;
        return -1;
    }
    const size_t n = std::min(inbound_.size(), static_cast<size_t>(len));
    std::copy_n(inbound_.data(), n, buffer);
    inbound_.erase(0, n);
    lastError_ = 0;
    return static_cast<int>(n);
}

void ScriptedTransport::Close() {
    closed_ = true;
    readEvents_ = false;
    lastError_ = 0;
}

void ScriptedTransport::SetNotifications(bool readEvents) {
    readEvents_ = readEvents;
    // Like a level-triggered notifier: what is still waiting is announced again.
    if (readEvents && (!inbound_.empty() || peerClosed_)) ScheduleNotify();
}

void ScriptedTransport::Greeting(const std::string& text, int64_t delayMs) {
    greeting_ = cp932::EncodeFromUtf8(text);
    greetingDelay_ = delayMs;
    hasGreeting_ = true;
}

void ScriptedTransport::Answer(const std::string& line, const std::string& text, int64_t delayMs) {
    answers_[cp932::EncodeFromUtf8(line)] = {cp932::EncodeFromUtf8(text), delayMs};
}

void ScriptedTransport::AnswerBytes(const std::string& line, const std::string& bytes,
                                    int64_t delayMs) {
    answers_[cp932::EncodeFromUtf8(line)] = {bytes, delayMs};
}

void ScriptedTransport::DeliverBytes(const std::string& bytes, int64_t delayMs) {
    Schedule(bytes, delayMs);
}

void ScriptedTransport::Deliver(const std::string& text, int64_t delayMs) {
    Schedule(cp932::EncodeFromUtf8(text), delayMs);
}

void ScriptedTransport::PeerClose(int64_t delayMs) {
    std::weak_ptr<bool> alive = alive_;
    loop_.After(delayMs, [this, alive] {
        if (alive.expired()) return;
        peerClosed_ = true;
        // Close events come whether or not read events are switched on.
        if (connected_ && !closed_) ScheduleNotify();
    });
}

void ScriptedTransport::Schedule(const std::string& bytes, int64_t delayMs) {
    const size_t piece = segment > 0 ? segment : std::max<size_t>(bytes.size(), 1);
    int64_t at = delayMs;
    for (size_t pos = 0; pos < bytes.size(); pos += piece, ++at) {
        std::string part = bytes.substr(pos, piece);
        std::weak_ptr<bool> alive = alive_;
        loop_.After(at, [this, alive, part] {
            if (alive.expired()) return;
            Arrive(part);
        });
    }
}

void ScriptedTransport::Arrive(const std::string& bytes) {
    if (!connected_ || closed_ || peerClosed_) return;
    inbound_ += bytes;
    if (readEvents_) ScheduleNotify();
}

void ScriptedTransport::ScheduleNotify() {
    if (notifyScheduled_) return;
    notifyScheduled_ = true;
    std::weak_ptr<bool> alive = alive_;
    loop_.After(0, [this, alive] {
        if (alive.expired()) return;
        notifyScheduled_ = false;
        if (closed_ || !handler_) return;
        // A read event needs data and read events on; a close event needs neither.
        if (!peerClosed_ && (!readEvents_ || inbound_.empty())) return;
        ++notifications;
        handler_();
    });
}

std::vector<std::string> ScriptedTransport::SentLines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = sent.find("\n\r", start)) != std::string::npos; start = end + 2)
        lines.push_back(sent.substr(start, end - start));
    return lines;
}

}  // namespace kv::test
