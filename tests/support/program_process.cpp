// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/program_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/cp932.h"

extern char** environ;

namespace kv::test {

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool WaitFor(const std::function<bool()>& cond, int timeoutMs, int stepMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return true;
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream in(cp932::DecodeToUtf8(ReadFile(path)));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> TraceMessages(const std::string& path) {
    std::vector<std::string> out;
    for (const std::string& l : Lines(path))
        if (l.size() >= 18) out.push_back(l.substr(17, l.size() - 18));
    return out;
}

std::vector<std::pair<const char*, const char*>> LoopbackSetup() {
    return {{"sohoip", "127.0.0.1"}, {"seca", "180"},     {"secb", "180"},    {"secc", "240"},
            {"ctanni", "10"},        {"atcuttm", "30"},   {"atcutmode", "0"}, {"atcutdly", "3"},
            {"sohoint", "300"},      {"soho2int", "300"}, {"dspint", "1000"}, {"debuglog", "1"},
            {"winmodes", "0"},       {"winmodec", "1"},   {"winmodedc", "1"}};
}

std::vector<std::pair<std::string, std::string>> ProgramEnv(const std::string& dir, uint16_t port,
                                                            const std::string& boxesLog) {
    return {{"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_CONFIG_HOME", dir + "/config"},
            {"XDG_DATA_HOME", dir + "/data"},
            {"KESTROVAN_CONSOLE_PORT", std::to_string(port)},
            {"KESTROVAN_MESSAGEBOX_LOG", boxesLog}};
}

Program::Program(const std::string& exe,
                 const std::vector<std::pair<std::string, std::string>>& env,
                 const std::vector<std::string>& args) {
    // Everything is built before the fork: the child only calls async-signal-safe functions.
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        const std::string item = *e;
        bool replaced = false;
        for (const auto& [k, v] : env) replaced |= item.rfind(k + "=", 0) == 0;
        if (!replaced) envText.push_back(item);
    }
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<char*> envp, argv;
    for (std::string& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exeCopy = exe;
    std::vector<std::string> argCopy = args;
    argv.push_back(exeCopy.data());
    for (std::string& a : argCopy) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::execve(exe.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
}

Program::~Program() {
    if (pid_ > 0 && !exited_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

int Program::WaitExit(int timeoutMs) {
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs)) return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Program::Kill(int signal, int timeoutMs) {
    if (::kill(pid_, signal) != 0) return -1;
    return WaitExit(timeoutMs);
}

}  // namespace kv::test
