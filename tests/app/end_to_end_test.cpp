// The built program, copied into a fresh folder, against the router simulator on loopback:
// log in, meter a call, write its files, refuse a twin, end on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/cp932.h"
#include "platform/qt_settings_store.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/sim_process.h"

extern char** environ;

namespace kv::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Polls cond every 50 ms until it holds or timeoutMs has passed.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A started kestrovan; killed when the test leaves early.
class Program {
public:
    Program(const std::string& exe, const std::vector<std::pair<std::string, std::string>>& env,
            const std::vector<std::string>& args) {
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
    ~Program() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // Waits (bounded) for the exit; the exit status, or -1 when it did not end in time.
    int WaitExit(int timeoutMs) {
        int status = 0;
        const bool done = WaitFor(
            [&] {
                const pid_t r = ::waitpid(pid_, &status, WNOHANG);
                return r == pid_;
            },
            timeoutMs);
        if (!done) return -1;
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

TEST(EndToEndTest, MetersACallAndEndsCleanlyOnSigterm) {
    const std::string dir = MakeTempDir();
    struct Cleanup {
        std::string d;
        ~Cleanup() { RemoveTree(d); }
    } cleanup{dir};
    const std::string bin = dir + "/bin";
    fs::create_directories(bin);
    const std::string exe = bin + "/kestrovan";
    fs::copy_file(KV_KESTROVAN_PATH, exe);

    SimProcess sim;
    // The router address is loopback before anything starts.
    QtSettingsStore store(dir + "/config");
    const std::vector<std::pair<const char*, const char*>> setup = {
        {"sohoip", "127.0.0.1"}, {"seca", "180"},   {"secb", "180"},    {"secc", "240"},
        {"ctanni", "10"},        {"atcuttm", "30"}, {"atcutmode", "0"}, {"atcutdly", "3"},
        {"sohoint", "300"},      {"soho2int", "300"}, {"dspint", "1000"}, {"debuglog", "1"},
        {"winmodes", "0"},       {"winmodec", "1"}, {"winmodedc", "1"}};
    for (const auto& [k, v] : setup) ASSERT_TRUE(SaveStringSetting(store, "Setup", k, v));

    const std::string boxes = dir + "/boxes.log";
    const std::vector<std::pair<std::string, std::string>> env = {
        {"QT_QPA_PLATFORM", "offscreen"},
        {"XDG_CONFIG_HOME", dir + "/config"},
        {"KESTROVAN_CONSOLE_PORT", std::to_string(sim.port())},
        {"KESTROVAN_MESSAGEBOX_LOG", boxes}};
    Program kestrovan(exe, env, {"-debug"});
    ASSERT_GT(kestrovan.pid(), 0);

    // Logged in and polling.
    ASSERT_TRUE(sim.WaitReceived("show status", 20000)) << ReadFile(boxes);

    // A second start of the same user is refused and leaves the first alone.
    {
        Program twin(exe, env, {});
        EXPECT_EQ(twin.WaitExit(15000), 1);
        EXPECT_NE(ReadFile(boxes).find("すでに起動されています"), std::string::npos);
    }

    const std::string log = bin + "/Kestrovan.log";
    const std::string dat = bin + "/Kestrovan.dat";
    auto logText = [&] { return cp932::DecodeToUtf8(ReadFile(log)); };
    EXPECT_EQ(sim.Command("up 1").rfind("ok", 0), 0u);
    EXPECT_TRUE(WaitFor([&] { return logText().find("Connect") != std::string::npos; }, 15000))
        << logText();
    EXPECT_EQ(sim.Command("hangup").rfind("ok", 0), 0u);
    EXPECT_TRUE(WaitFor([&] { return logText().find("DisConnect") != std::string::npos; }, 15000))
        << logText();
    EXPECT_TRUE(WaitFor([&] { return fs::exists(dat); }, 5000));

    ASSERT_EQ(::kill(kestrovan.pid(), SIGTERM), 0);
    EXPECT_EQ(kestrovan.WaitExit(15000), 0);
    const std::string trace = cp932::DecodeToUtf8(ReadFile(bin + "/Kestrovan.dbg"));
    ASSERT_GE(trace.size(), 9u);
    const size_t last = trace.rfind("\"", trace.size() - 4);
    ASSERT_NE(last, std::string::npos);
    const std::string lastLine = trace.substr(last + 1);
    EXPECT_NE(lastLine.find(" query\"\r\n"), std::string::npos) << lastLine;
    EXPECT_EQ(trace.find("\"run\""), std::string::npos);  // every line carries date and time
    // The position was saved on the way out.
    EXPECT_FALSE(LoadStringSetting(store, "FormPos", "Main").empty());
    // No message box on a normal run except the twin's.
    EXPECT_EQ(ReadFile(boxes).find("MN128"), std::string::npos) << ReadFile(boxes);
}

}  // namespace
}  // namespace kv::test
