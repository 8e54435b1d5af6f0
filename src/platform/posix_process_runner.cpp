// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/posix_process_runner.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace kv {

namespace {
constexpr int kReapIntervalMs = 1000;
}

PosixProcessRunner::PosixProcessRunner() {
    reaper_.setInterval(kReapIntervalMs);
    QObject::connect(&reaper_, &QTimer::timeout, [this] { Reap(); });
}

bool PosixProcessRunner::FileExists(const std::string& path) {
    // stat takes the name literally: "*" and "?" are characters of a file name here, and a
    // path followed by arguments names no file.
    if (path.empty()) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t PosixProcessRunner::Start(const std::string& path, std::string& error) {
    Reap();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    // glibc reports a failed exec (not executable, bad format) as the result here.
    const int rc = ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
    if (rc != 0) {
        error = std::strerror(rc);
        return 0;
    }
    children_.insert(pid);
    if (!reaper_.isActive()) reaper_.start();
    return pid;
}

void PosixProcessRunner::Terminate(int64_t handle) {
    Reap();
    if (children_.erase(handle) == 0) return;
    const auto pid = static_cast<pid_t>(handle);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (children_.empty()) reaper_.stop();
}

void PosixProcessRunner::Reap() {
    for (auto it = children_.begin(); it != children_.end();) {
        int status = 0;
        const pid_t r = ::waitpid(static_cast<pid_t>(*it), &status, WNOHANG);
        // r < 0 (ECHILD): someone else collected it; it is gone either way.
        if (r != 0 && !(r < 0 && errno == EINTR))
            it = children_.erase(it);
        else
            ++it;
    }
    if (children_.empty()) reaper_.stop();
}

}  // namespace kv
