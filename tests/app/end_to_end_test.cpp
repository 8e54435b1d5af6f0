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

std::vector<std::string> TraceMessages(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream in(cp932::DecodeToUtf8(ReadFile(path)));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "yymmdd hh:mm:ss message" between quotes
        if (line.size() >= 18) out.push_back(line.substr(17, line.size() - 18));
    }
    return out;
}

// A fresh folder with the program, settings pointing at a fresh simulator, the program started.
class EndToEndTest : public ::testing::Test {
  protected:
    EndToEndTest() : dir(MakeTempDir()), store(dir + "/config") {}
    ~EndToEndTest() override {
        kestrovan.reset();
        RemoveTree(dir);
    }

    void Start(const std::vector<std::pair<const char*, const char*>>& extra) {
        fs::create_directories(bin);
        fs::copy_file(KV_KESTROVAN_PATH, exe);
        // The router address is loopback before anything starts.
        std::vector<std::pair<const char*, const char*>> setup = {
            {"sohoip", "127.0.0.1"}, {"seca", "180"},     {"secb", "180"},    {"secc", "240"},
            {"ctanni", "10"},        {"atcuttm", "30"},   {"atcutmode", "0"}, {"atcutdly", "3"},
            {"sohoint", "300"},      {"soho2int", "300"}, {"dspint", "1000"}, {"debuglog", "1"},
            {"winmodes", "0"},       {"winmodec", "1"},   {"winmodedc", "1"}};
        setup.insert(setup.end(), extra.begin(), extra.end());
        for (const auto& [k, v] : setup) ASSERT_TRUE(SaveStringSetting(store, "Setup", k, v));
        env = {{"QT_QPA_PLATFORM", "offscreen"},
               {"XDG_CONFIG_HOME", dir + "/config"},
               {"KESTROVAN_CONSOLE_PORT", std::to_string(sim.port())},
               {"KESTROVAN_MESSAGEBOX_LOG", boxes}};
        kestrovan = std::make_unique<Program>(exe, env, std::vector<std::string>{"-debug"});
        ASSERT_GT(kestrovan->pid(), 0);
        // Logged in and polling.
        ASSERT_TRUE(sim.WaitReceived("show status", 20000)) << ReadFile(boxes);
    }
    std::string LogText() { return cp932::DecodeToUtf8(ReadFile(bin + "/Kestrovan.log")); }
    bool LogHas(const std::string& word) {
        return WaitFor([&] { return LogText().find(word) != std::string::npos; }, 15000);
    }
    int Terminate() {
        if (::kill(kestrovan->pid(), SIGTERM) != 0) return -1;
        return kestrovan->WaitExit(15000);
    }

    std::string dir;
    QtSettingsStore store;
    SimProcess sim;
    std::string bin = dir + "/bin";
    std::string exe = bin + "/kestrovan";
    std::string boxes = dir + "/boxes.log";
    std::vector<std::pair<std::string, std::string>> env;
    std::unique_ptr<Program> kestrovan;
};

TEST_F(EndToEndTest, MetersACallAndEndsCleanlyOnSigterm) {
    Start({});
    // A second start of the same user is refused and leaves the first alone.
    {
        Program twin(exe, env, {});
        EXPECT_EQ(twin.WaitExit(15000), 1);
        EXPECT_NE(ReadFile(boxes).find("すでに起動されています"), std::string::npos);
    }

    EXPECT_EQ(sim.Command("up 1").rfind("ok", 0), 0u);
    EXPECT_TRUE(LogHas("Connect")) << LogText();
    EXPECT_EQ(sim.Command("hangup").rfind("ok", 0), 0u);
    EXPECT_TRUE(LogHas("DisConnect")) << LogText();
    EXPECT_TRUE(WaitFor([&] { return fs::exists(bin + "/Kestrovan.dat"); }, 5000));

    EXPECT_EQ(Terminate(), 0);
    const std::vector<std::string> trace = TraceMessages(bin + "/Kestrovan.dbg");
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), "run");
    EXPECT_EQ(trace.back(), "query");
    // The position was saved on the way out.
    EXPECT_FALSE(LoadStringSetting(store, "FormPos", "Main").empty());
    // No message box on a normal run except the twin's.
    EXPECT_EQ(ReadFile(boxes).find("MN128"), std::string::npos) << ReadFile(boxes);
}

TEST_F(EndToEndTest, EndingWithLinecutHangsUpBeforeClosingTheCall) {
    Start({{"linecut", "1"}});
    EXPECT_EQ(sim.Command("up 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(LogHas("Connect")) << LogText();
    EXPECT_EQ(Terminate(), 0);

    EXPECT_NE(sim.Received().find("disconnect"), std::string::npos);
    EXPECT_NE(LogText().find("DisConnect"), std::string::npos) << LogText();
    const std::vector<std::string> trace = TraceMessages(bin + "/Kestrovan.dbg");
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "query");
    const auto hangUp = std::find(trace.begin(), trace.end(), "DisConnect");
    const auto close = std::find(trace.begin(), trace.end(), "CntEnd-st");
    ASSERT_NE(hangUp, trace.end());
    ASSERT_NE(close, trace.end());
    EXPECT_LT(hangUp - trace.begin(), close - trace.begin());
}

}  // namespace
}  // namespace kv::test
