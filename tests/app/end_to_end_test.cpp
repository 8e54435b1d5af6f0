// SPDX-License-Identifier: GPL-3.0-or-later
// The built program, copied into a fresh folder, against the router simulator on loopback:
// log in, meter a call, write its files, refuse a twin, end on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <filesystem>
#include <memory>

#include "common/cp932.h"
#include "common/data_file.h"
#include "platform/qt_settings_store.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "app/startup.h"
#include "support/program_process.h"
#include "support/sim_process.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

int Count(const std::string& text, const std::string& word) {
    int n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

// A fresh folder with the program, settings pointing at a fresh simulator, the program started.
class EndToEndTest : public ::testing::Test {
  protected:
    EndToEndTest() : dir(MakeTempDir()), store(dir + "/config") {}
    ~EndToEndTest() override {
        kestrovan.reset();
        RemoveTree(dir);
    }

    void Start(const std::vector<std::pair<const char*, const char*>>& extra, bool install = true) {
        if (install) {
            fs::create_directories(bin);
            fs::copy_file(KV_KESTROVAN_PATH, exe);
        }
        // The router address is loopback before anything starts.
        std::vector<std::pair<const char*, const char*>> setup = LoopbackSetup();
        setup.insert(setup.end(), extra.begin(), extra.end());
        for (const auto& [k, v] : setup) ASSERT_TRUE(SaveStringSetting(store, "Setup", k, v));
        env = ProgramEnv(dir, sim.port(), boxes);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        kestrovan = std::make_unique<Program>(exe, env, std::vector<std::string>{"-debug"});
        ASSERT_GT(kestrovan->pid(), 0);
        // Logged in and polling.
        ASSERT_TRUE(sim.WaitReceived("show status", 20000)) << ReadFile(boxes);
    }
    std::string LogText() { return cp932::DecodeToUtf8(ReadFile(records + "/Kestrovan.log")); }
    // What the program prints for args, and its exit status.
    std::pair<int, std::string> Output(const std::string& args) {
        std::string command;
        for (const auto& [k, v] : env) command += k + "='" + v + "' ";
        command += exe + " " + args + " > " + dir + "/out.txt 2>&1";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir + "/out.txt")};
    }
    bool LogHas(const std::string& word) {
        return WaitFor([&] { return LogText().find(word) != std::string::npos; }, 15000);
    }
    int Terminate() { return kestrovan->Kill(SIGTERM, 15000); }
    // With "強制切断" and a call up, the router restarts (the call kept) and stays away for
    // outageSecs; the program is ended 2 s into it. How long the end took, in ms.
    int64_t EndDuringOutage(int outageSecs) {
        Start({{"linecut", "1"}});
        EXPECT_EQ(sim.Command("up 1").rfind("ok", 0), 0u);
        EXPECT_TRUE(LogHas("Connect")) << LogText();
        upAt = std::chrono::steady_clock::now();
        EXPECT_EQ(sim.Command("restart " + std::to_string(outageSecs) + " keep").rfind("ok", 0),
                  0u);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(Terminate(), 0);
        endAt = std::chrono::steady_clock::now();
        return std::chrono::duration_cast<std::chrono::milliseconds>(endAt - asked).count();
    }
    // The last record's duration, in seconds.
    int LoggedSecs() {
        const std::string log = LogText();
        const size_t tel = log.rfind("\"Tel\"");
        if (tel == std::string::npos) return -1;
        std::vector<std::string> f;
        std::string v;
        for (size_t i = tel; i < log.size() && log[i] != '\r'; ++i) {
            if (log[i] == ',') {
                f.push_back(v);
                v.clear();
            } else {
                v += log[i];
            }
        }
        return f.size() > 6 ? std::stoi(f[6]) : -1;
    }
    std::chrono::steady_clock::time_point upAt, endAt;

    std::string dir;
    QtSettingsStore store;
    SimProcess sim;
    std::string bin = dir + "/bin";
    std::string exe = bin + "/kestrovan";
    std::string records = bin;  // where the call log is looked for
    std::string boxes = dir + "/boxes.log";
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<std::pair<std::string, std::string>> extraEnv;
    std::unique_ptr<Program> kestrovan;
};

// The settings are read where they lie: with no temporary folder the stored settings log in.
TEST_F(EndToEndTest, LogsInWithTheStoredSettingsWithoutATemporaryFolder) {
    extraEnv = {{"TMPDIR", dir + "/no/such/folder"}};
    Start({});
    EXPECT_EQ(Terminate(), 0);
}

// Settings that are there but cannot be read: said, the end, and the file left as it is.
TEST_F(EndToEndTest, UnreadableSettingsAreSaidAndLeftAlone) {
    fs::create_directories(bin);
    fs::copy_file(KV_KESTROVAN_PATH, exe);
    for (const auto& [k, v] : LoopbackSetup()) ASSERT_TRUE(SaveStringSetting(store, "Setup", k, v));
    const std::string conf = dir + "/config/Qel/Kestrovan.conf";
    fs::remove(conf);
    ASSERT_EQ(::mkfifo(conf.c_str(), 0600), 0);
    env = ProgramEnv(dir, sim.port(), boxes);
    Program program(exe, env, {});
    EXPECT_EQ(program.WaitExit(15000), 1);
    EXPECT_NE(ReadFile(boxes).find(kSettingsUnreadableText), std::string::npos) << ReadFile(boxes);
    EXPECT_EQ(sim.Received(), "");
    EXPECT_TRUE(fs::is_fifo(conf));
}

TEST_F(EndToEndTest, MetersACallAndEndsCleanlyOnSigterm) {
    Start({});
    // A second start of the same user is refused and brings the first one's window forward;
    // with no lock file, nothing on disk can be deleted to let a twin in.
    {
        Program twin(exe, env, {});
        EXPECT_EQ(twin.WaitExit(15000), 1);
        EXPECT_NE(ReadFile(boxes).find("すでに起動されています"), std::string::npos);
    }
    EXPECT_TRUE(WaitFor(
        [&] { return ReadFile(bin + "/Kestrovan.dbg").find("second start:") != std::string::npos; },
        5000));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/config/Qel"), {}), 1);

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

// A router that stops answering during a call over a real connection: within twelve seconds
// the program has taken it as gone and is logging in again.
TEST_F(EndToEndTest, ASilentRouterDuringACallIsNoticedAtOnce) {
    Start({});
    EXPECT_EQ(sim.Command("up 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(LogHas("Connect")) << LogText();
    EXPECT_EQ(sim.Command("silent on").rfind("ok", 0), 0u);
    const std::string trace = bin + "/Kestrovan.dbg";
    EXPECT_TRUE(
        WaitFor([&] { return ReadFile(trace).find("link lost:") != std::string::npos; }, 12000));
    EXPECT_TRUE(
        WaitFor([&] { return ReadFile(trace).find("reconnect") != std::string::npos; }, 5000));
    EXPECT_EQ(Terminate(), 0);
}

// The router restarting when the program ends: logged in to again as soon as it listens, and
// the line cut, before the end.
TEST_F(EndToEndTest, EndingWhileTheRouterRestartsCutsTheLineOnceItIsBack) {
    const int64_t took = EndDuringOutage(6);
    EXPECT_LE(took, 11000);
    EXPECT_NE(sim.Received().find("disconnect b1"), std::string::npos) << sim.Received();
    EXPECT_EQ(ReadFile(boxes).find("回線を切断できませんでした"), std::string::npos);
    const std::vector<std::string> trace = TraceMessages(bin + "/Kestrovan.dbg");
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "query");
}

// A router away for longer than the end may wait: the user is told the line may still be up,
// the program ends within the bound, and the record runs to the exit, not to the loss.
TEST_F(EndToEndTest, EndingWhileTheRouterStaysAwaySaysTheLineMayBeUp) {
    const int64_t took = EndDuringOutage(30);
    EXPECT_LE(took, 11000);
    EXPECT_NE(ReadFile(boxes).find("回線を切断できませんでした"), std::string::npos)
        << ReadFile(boxes);
    EXPECT_NE(ReadFile(bin + "/Kestrovan.dbg").find("end not confirmed"), std::string::npos);
    const auto upFor = std::chrono::duration_cast<std::chrono::seconds>(endAt - upAt).count();
    EXPECT_GE(LoggedSecs(), upFor - 2) << LogText();
}

// Installed where the user cannot write (a package): the records go to the per-user folder,
// said once, and the totals check looks there too.
TEST_F(EndToEndTest, RecordsGoToThePerUserFolderWhenTheProgramsFolderIsReadOnly) {
    fs::create_directories(bin);
    const bool root = ::geteuid() == 0;
    if (root && ::mount("tmpfs", bin.c_str(), "tmpfs", 0, "size=64m") != 0)
        GTEST_SKIP() << "a read-only folder needs a mount here";
    struct Unmount {
        std::string at;
        bool on;
        ~Unmount() {
            if (on) ::umount2(at.c_str(), MNT_DETACH);
            ::chmod(at.c_str(), 0755);
        }
    } unmount{bin, root};
    fs::copy_file(KV_KESTROVAN_PATH, exe);
    if (root)
        ASSERT_EQ(::mount(nullptr, bin.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    else
        ::chmod(bin.c_str(), 0555);
    ASSERT_FALSE(datafile::FolderWritable(bin));
    records = dir + "/data/Qel/Kestrovan";

    Start({}, /*install=*/false);
    EXPECT_EQ(sim.Command("up 1").rfind("ok", 0), 0u);
    EXPECT_TRUE(LogHas("Connect")) << LogText();
    EXPECT_EQ(sim.Command("hangup").rfind("ok", 0), 0u);
    EXPECT_TRUE(LogHas("DisConnect")) << LogText();
    EXPECT_EQ(Terminate(), 0);
    const size_t polled = sim.Received().size();
    Start({}, /*install=*/false);
    ASSERT_TRUE(WaitFor(
        [&] { return sim.Received().find("show status", polled) != std::string::npos; }, 20000));
    EXPECT_EQ(Terminate(), 0);
    EXPECT_EQ(Count(ReadFile(boxes), records), 1) << ReadFile(boxes);
    EXPECT_TRUE(fs::exists(records + "/Kestrovan.dat"));
    EXPECT_FALSE(fs::exists(bin + "/Kestrovan.log"));
    EXPECT_EQ(fs::status(records).permissions() & fs::perms::all, fs::perms::owner_all);
    const auto [status, out] = Output("--check-totals");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(records + "/Kestrovan.log"), std::string::npos) << out;
}

// Started at logon on a desktop without a notification area, with nobody there to answer: the
// note about the missing tray is shown (offscreen has no tray) and nothing waits for it.
TEST_F(EndToEndTest, WithoutANotificationAreaNothingWaitsForTheUser) {
    fs::create_directories(bin);
    fs::copy_file(KV_KESTROVAN_PATH, exe);
    for (const auto& [k, v] : LoopbackSetup()) ASSERT_TRUE(SaveStringSetting(store, "Setup", k, v));
    env = ProgramEnv(dir, sim.port(), boxes);
    for (auto& [k, v] : env)
        if (k == "KESTROVAN_MESSAGEBOX_LOG") v = "";  // boxes are shown, as to a user
    kestrovan = std::make_unique<Program>(exe, env, std::vector<std::string>{"-debug"});
    ASSERT_GT(kestrovan->pid(), 0);
    EXPECT_TRUE(sim.WaitReceived("show status", 5000)) << sim.Received();
    EXPECT_NE(ReadFile(bin + "/Kestrovan.dbg").find("no notification area"), std::string::npos);
    EXPECT_EQ(Terminate(), 0);
}

// Said and done without a window or the router.
TEST_F(EndToEndTest, HelpAndVersionTouchNothing) {
    fs::create_directories(bin);
    fs::copy_file(KV_KESTROVAN_PATH, exe);
    env = ProgramEnv(dir, sim.port(), boxes);
    env.emplace_back("QT_QPA_PLATFORM", "no-such-platform");  // a window would fail
    for (const char* arg : {"--version", "--help", "-debug --help"}) {
        const auto [status, out] = Output(arg);
        EXPECT_EQ(status, 0) << arg << out;
        EXPECT_NE(
            out.find(std::string(arg).find("help") != std::string::npos ? "使い方"
                                                                        : "Kestrovan Ver 0.66β"),
            std::string::npos)
            << out;
    }
    EXPECT_EQ(sim.Received(), "");
    EXPECT_FALSE(fs::exists(dir + "/config"));
}

}  // namespace
}  // namespace kv::test
