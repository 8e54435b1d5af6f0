// The built program, copied into a fresh folder, against the router simulator on loopback:
// log in, meter a call, write its files, refuse a twin, end on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "common/cp932.h"
#include "platform/qt_settings_store.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/program_process.h"
#include "support/sim_process.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

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
        std::vector<std::pair<const char*, const char*>> setup = LoopbackSetup();
        setup.insert(setup.end(), extra.begin(), extra.end());
        for (const auto& [k, v] : setup) ASSERT_TRUE(SaveStringSetting(store, "Setup", k, v));
        env = ProgramEnv(dir, sim.port(), boxes);
        kestrovan = std::make_unique<Program>(exe, env, std::vector<std::string>{"-debug"});
        ASSERT_GT(kestrovan->pid(), 0);
        // Logged in and polling.
        ASSERT_TRUE(sim.WaitReceived("show status", 20000)) << ReadFile(boxes);
    }
    std::string LogText() { return cp932::DecodeToUtf8(ReadFile(bin + "/Kestrovan.log")); }
    bool LogHas(const std::string& word) {
        return WaitFor([&] { return LogText().find(word) != std::string::npos; }, 15000);
    }
    int Terminate() { return kestrovan->Kill(SIGTERM, 15000); }

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
