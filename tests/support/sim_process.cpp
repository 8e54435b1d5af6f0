// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/sim_process.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef KV_MN128SIM_PATH
#define KV_MN128SIM_PATH KV_BINARY_DIR "/tools/mn128sim/mn128sim"
#endif

namespace kv::test {
namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> extraArgs) {
    char pattern[] = "/tmp/mn128sim-XXXXXX";
    int tfd = mkstemp(pattern);
    if (tfd < 0) throw std::runtime_error("mn128sim: cannot create a transcript file");
    ::close(tfd);
    transcript_ = pattern;

    std::vector<std::string> args{KV_MN128SIM_PATH, "--listen", "127.0.0.1:0", "--transcript",
                                  transcript_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // One socket pair carries both its stdin and its stdout; a socket (unlike a pipe) lets us
    // write with MSG_NOSIGNAL, so a simulator that died cannot kill the test with SIGPIPE.
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        std::remove(transcript_.c_str());
        throw std::runtime_error("mn128sim: socketpair failed");
    }
    pid_ = fork();
    if (pid_ < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        std::remove(transcript_.c_str());
        throw std::runtime_error("mn128sim: fork failed");
    }
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec.
        dup2(fds[1], 0);
        dup2(fds[1], 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(fds[1]);
    control_ = fds[0];

    std::string line;
    const int64_t deadline = NowMs() + 10000;
    while (true) {
        int64_t left = deadline - NowMs();
        if (left <= 0 || !ReadLine(line, static_cast<int>(left))) {
            Stop();
            throw std::runtime_error(std::string("mn128sim did not start: ") + KV_MN128SIM_PATH);
        }
        // "listening 127.0.0.1:PORT"
        if (line.rfind("listening ", 0) == 0) {
            auto colon = line.rfind(':');
            port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
            break;
        }
    }
}

SimProcess::~SimProcess() {
    Stop();
}

void SimProcess::Stop() {
    if (control_ >= 0) {
        static const char quit[] = "quit\n";
        (void)::send(control_, quit, sizeof quit - 1, MSG_NOSIGNAL);
        ::shutdown(control_, SHUT_WR);
    }
    if (pid_ > 0) {
        bool reaped = false;
        for (int i = 0; i < 300 && !reaped; ++i) {  // up to 3 s for a clean exit
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR))
                reaped = true;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!reaped) {
            kill(pid_, SIGKILL);
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    if (control_ >= 0) {
        ::close(control_);
        control_ = -1;
    }
    if (!transcript_.empty() && std::getenv("KV_KEEP_TRANSCRIPT") == nullptr)
        std::remove(transcript_.c_str());
    transcript_.clear();
}

bool SimProcess::ReadLine(std::string& line, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (true) {
        auto nl = pending_.find('\n');
        if (nl != std::string::npos) {
            line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return true;
        }
        int64_t left = deadline - NowMs();
        if (left <= 0 || control_ < 0) return false;
        pollfd p{control_, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        char buf[512];
        ssize_t n = ::read(control_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // it exited
        pending_.append(buf, static_cast<size_t>(n));
    }
}

std::string SimProcess::Command(const std::string& line) {
    if (control_ < 0) return "error exited";
    std::string out = line + "\n";
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::send(control_, out.data() + done, out.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return "error exited";
        done += static_cast<size_t>(n);
    }
    std::string reply;
    const int64_t deadline = NowMs() + 10000;
    while (true) {
        int64_t left = deadline - NowMs();
        if (left <= 0) return "error timeout";
        if (!ReadLine(reply, static_cast<int>(left)))
            return NowMs() >= deadline ? "error timeout" : "error exited";
        if (reply == "ok" || reply.rfind("ok ", 0) == 0 || reply.rfind("error", 0) == 0)
            return reply;
    }
}

std::string SimProcess::Unescape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
        } else if (text[i + 1] == 'x' && i + 3 < text.size() && HexValue(text[i + 2]) >= 0 &&
                   HexValue(text[i + 3]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
            i += 3;
        } else {
            out += text[i + 1];
            ++i;
        }
    }
    return out;
}

std::vector<SimProcess::Entry> SimProcess::Transcript() const {
    std::vector<Entry> entries;
    std::ifstream in(transcript_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        // "<ms> <kind> <payload>"; a last line still being written has no '\n' yet, but the
        // simulator writes each entry with one write() call, so getline sees whole entries.
        auto s1 = line.find(' ');
        if (s1 == std::string::npos) continue;
        auto s2 = line.find(' ', s1 + 1);
        Entry e;
        e.ms = std::atoll(line.substr(0, s1).c_str());
        e.kind = line.substr(s1 + 1, s2 == std::string::npos ? std::string::npos : s2 - s1 - 1);
        if (s2 != std::string::npos) e.bytes = Unescape(line.substr(s2 + 1));
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string SimProcess::Collect(const char* kind) const {
    std::string all;
    for (const auto& e : Transcript())
        if (e.kind == kind) all += e.bytes;
    return all;
}

std::string SimProcess::Received() const {
    return Collect("recv");
}
std::string SimProcess::Sent() const {
    return Collect("send");
}

bool SimProcess::WaitFor(const char* kind, const std::string& needle, int timeoutMs) const {
    const int64_t deadline = NowMs() + timeoutMs;
    while (true) {
        if (Collect(kind).find(needle) != std::string::npos) return true;
        if (NowMs() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool SimProcess::WaitReceived(const std::string& needle, int timeoutMs) const {
    return WaitFor("recv", needle, timeoutMs);
}
bool SimProcess::WaitSent(const std::string& needle, int timeoutMs) const {
    return WaitFor("send", needle, timeoutMs);
}

}  // namespace kv::test
