// SPDX-License-Identifier: GPL-3.0-or-later
// The built program on a real X display with a window manager and a panel (Xvfb, openbox,
// trayer): where the window comes back after a restart, read from the position it stores.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>

#include "platform/qt_settings_store.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/program_process.h"
#include "support/sim_process.h"

extern char** environ;

namespace kv::test {
namespace {

namespace fs = std::filesystem;

constexpr int kScreenWidth = 1024, kScreenHeight = 768, kPanelHeight = 32;

std::string Which(const char* name) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string path = std::string(dir) + "/" + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

// A child with its output thrown away; killed with the session.
pid_t Spawn(const std::string& exe, std::vector<std::string> args, const std::string& display) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("DISPLAY=", 0) != 0) envText.emplace_back(*e);
    envText.push_back("DISPLAY=" + display);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())}, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// An X display of its own with openbox and a panel along the top edge that keeps its strip.
class XSession {
  public:
    XSession() {
        const std::string xvfb = Which("Xvfb"), openbox = Which("openbox"),
                          trayer = Which("trayer"), xprop = Which("xprop");
        if (xvfb.empty() || openbox.empty() || trayer.empty() || xprop.empty()) {
            why = "needs Xvfb, openbox, trayer and xprop (scripts/setup.sh installs them)";
            return;
        }
        for (int n = 91; n < 120 && display.empty(); ++n) {
            if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
            const std::string d = ":" + std::to_string(n);
            const pid_t pid =
                Spawn(xvfb,
                      {d, "-screen", "0",
                       std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                       "-nolisten", "tcp"},
                      d);
            if (pid < 0) continue;
            pids.push_back(pid);
            if (WaitFor([&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(n)); }, 5000)) {
                display = d;
            } else {
                Stop(pid);
            }
        }
        if (display.empty()) {
            why = "Xvfb could not be started";
            return;
        }
        pids.push_back(Spawn(openbox, {}, display));
        const std::string wm = xprop + " -display " + display + " -root _NET_SUPPORTING_WM_CHECK";
        if (!WaitFor([&] { return Output(wm).find("window id") != std::string::npos; }, 10000)) {
            why = "openbox did not come up";
            display.clear();
            return;
        }
        pids.push_back(Spawn(trayer,
                             {"--edge", "top", "--align", "right", "--widthtype", "pixel",
                              "--width", "120", "--height", std::to_string(kPanelHeight),
                              "--SetDockType", "true", "--SetPartialStrut", "true"},
                             display));
        // Ready once the window manager has taken the panel's strip off the work area.
        const std::string query = xprop + " -display " + display + " -root _NET_WORKAREA";
        const std::string ready = "= 0, " + std::to_string(kPanelHeight) + ",";
        if (!WaitFor([&] { return Output(query).find(ready) != std::string::npos; }, 10000)) {
            why = "the panel did not come up: " + Output(query);
            display.clear();
        }
    }
    ~XSession() {
        for (auto it = pids.rbegin(); it != pids.rend(); ++it) Stop(*it);
    }
    bool Ready() const { return !display.empty(); }

    std::string display, why;

  private:
    static void Stop(pid_t pid) {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        if (!WaitFor([&] { return ::waitpid(pid, nullptr, WNOHANG) == pid; }, 3000)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    std::vector<pid_t> pids;
};

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
};

Rect Parse(const std::string& stored) {
    Rect r;
    std::istringstream(stored) >> r.left >> r.top >> r.width >> r.height;
    return r;
}

class WindowPositionTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { x = std::make_unique<XSession>(); }
    static void TearDownTestSuite() { x.reset(); }
    void SetUp() override {
        if (!x->Ready()) GTEST_SKIP() << "no window manager to test with: " << x->why;
        fs::create_directories(dir + "/bin");
        fs::copy_file(KV_KESTROVAN_PATH, exe);
        // The router address is loopback before anything starts.
        for (const auto& [k, v] : LoopbackSetup()) SaveStringSetting(store, "Setup", k, v);
    }
    ~WindowPositionTest() override { RemoveTree(dir); }

    // One start and end; the position the program stored on the way out.
    std::string Run() {
        auto env = ProgramEnv(dir, sim.port(), dir + "/boxes.log");
        for (auto& [k, v] : env)
            if (k == "QT_QPA_PLATFORM") v = "xcb";
        env.push_back({"DISPLAY", x->display});
        const size_t polls = Count(sim.Received(), "show status");
        Program kestrovan(exe, env, {});
        // Logged in and polling twice: shown and framed by now.
        EXPECT_TRUE(
            WaitFor([&] { return Count(sim.Received(), "show status") >= polls + 2; }, 20000))
            << ReadFile(dir + "/boxes.log");
        EXPECT_EQ(kestrovan.Kill(SIGTERM), 0);
        return LoadStringSetting(store, "FormPos", "Main");
    }
    static size_t Count(const std::string& text, const std::string& word) {
        size_t n = 0;
        for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
            ++n;
        return n;
    }

    static std::unique_ptr<XSession> x;
    std::string dir = MakeTempDir();
    std::string exe = dir + "/bin/kestrovan";
    QtSettingsStore store{dir + "/config"};
    SimProcess sim;
};
std::unique_ptr<XSession> WindowPositionTest::x;

TEST_F(WindowPositionTest, StaysPutOverFiveRestartsWithTheWindowOnTop) {
    SaveStringSetting(store, "Setup", "dsptop", "1");
    SaveStringSetting(store, "FormPos", "Main", "1200 1500 1830 3885");
    for (int run = 1; run <= 5; ++run) EXPECT_EQ(Run(), "1200 1500 1830 3885") << "run " << run;
}

// Whatever was stored, the window comes back whole inside the work area below the panel, its
// title bar in reach, at a usable size.
TEST_F(WindowPositionTest, ComesBackOnTheScreenAtAUsableSize) {
    const struct {
        const char* stored;  // nullptr: nothing stored, the first start
        int left, top;       // pixels of the frame's corner; -1: anywhere inside
    } cases[] = {
        {nullptr, 0, kPanelHeight},         {"abc", 0, kPanelHeight},
        {"0 0 30 675", 0, kPanelHeight},  // 2 x 45 pixels
        {"0 0 1830 3885", 0, kPanelHeight}, {"-3000 -900 1830 3890", 0, kPanelHeight},
        {"60000 60000 1830 3890", -1, -1},  {"3000 -32768 1830 3890", 200, kPanelHeight},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(nothing)");
        store.DeleteAppKey(kApplication, "Kestrovan");
        for (const auto& [k, v] : LoopbackSetup()) SaveStringSetting(store, "Setup", k, v);
        if (c.stored) SaveStringSetting(store, "FormPos", "Main", c.stored);
        const std::string saved = Run();
        const Rect r = Parse(saved);
        SCOPED_TRACE("saved " + saved);
        // The default size, the frame's: 1830 x 3890 twips at 15 twips per pixel.
        EXPECT_EQ(r.width, 1830);
        EXPECT_EQ(r.height / 15, 3890 / 15);
        EXPECT_GE(r.left, 0);
        EXPECT_GE(r.top, kPanelHeight * 15);
        EXPECT_LE(r.left + r.width, kScreenWidth * 15);
        EXPECT_LE(r.top + r.height, kScreenHeight * 15);
        if (c.left >= 0) {
            EXPECT_EQ(r.left, c.left * 15);
            EXPECT_EQ(r.top, c.top * 15);
        }
    }
}

}  // namespace
}  // namespace kv::test
