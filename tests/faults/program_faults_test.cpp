// SPDX-License-Identifier: GPL-3.0-or-later
// The built program, copied into a fresh folder, against the router simulator on loopback:
// a refused connection, the router closing the console mid-call, and the program killed
// mid-call (and while it writes its files) and started again.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "common/cp932.h"
#include "platform/qt_settings_store.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/program_process.h"
#include "support/sim_process.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

int Count(const std::string& text, const std::string& word) {
    int n = 0;
    for (size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) ++n;
    return n;
}

std::vector<std::string> LinesOf(const std::string& path, const std::string& kind) {
    std::vector<std::string> out;
    for (const std::string& l : Lines(path))
        if (l.rfind("\"" + kind + "\",", 0) == 0) out.push_back(l);
    return out;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string f;
    while (std::getline(in, f, ',')) out.push_back(f);
    return out;
}

// A loopback port on which nothing listens (it was free a moment ago).
uint16_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

const std::regex kTotalsLine(R"(^\d+,\d+,\d+,"\d{4}/\d\d/\d\d",\d+\r\n$)");

class ProgramFaults : public ::testing::Test {
  protected:
    ProgramFaults() : dir(MakeTempDir()), store(dir + "/config") {
        fs::create_directories(bin);
        fs::copy_file(KV_KESTROVAN_PATH, exe);
        // The router address is loopback before anything starts.
        std::vector<std::pair<const char*, const char*>> setup = LoopbackSetup();
        setup.emplace_back("linecut", "0");
        for (const auto& [k, v] : setup) EXPECT_TRUE(SaveStringSetting(store, "Setup", k, v));
    }
    ~ProgramFaults() override {
        program.reset();
        RemoveTree(dir);
    }

    void Start(uint16_t port) {
        env = ProgramEnv(dir, port, boxes);
        program = std::make_unique<Program>(exe, env, std::vector<std::string>{"-debug"});
        ASSERT_GT(program->pid(), 0);
    }
    // Two-second units in every band, logged in, and a call up on B1.
    void StartWithACall(SimProcess& sim) {
        for (const char* key : {"seca", "secb", "secc"})
            SaveStringSetting(store, "Setup", key, "2");
        Start(sim.port());
        ASSERT_TRUE(sim.WaitReceived("show status", 20000)) << Boxes();
        ASSERT_EQ(sim.Command("up 1"), "ok");
        ASSERT_TRUE(WaitLog("Connect", 1)) << Log();
    }
    size_t LogCount(const std::string& kind) {
        return LinesOf(bin + "/Kestrovan.log", kind).size();
    }
    bool WaitLog(const std::string& kind, size_t n, int stepMs = 20) {
        return WaitFor([&] { return LogCount(kind) >= n; }, 15000, stepMs);
    }
    std::string Log() { return cp932::DecodeToUtf8(ReadFile(bin + "/Kestrovan.log")); }
    // The boxes of the run, without the notice that offscreen there is no tray.
    std::string Boxes() {
        std::istringstream all(ReadFile(boxes));
        std::string shown, line;
        while (std::getline(all, line))
            if (line.find("通知領域がないため") == std::string::npos) shown += line + "\n";
        return shown;
    }
    std::string Trace() { return cp932::DecodeToUtf8(ReadFile(bin + "/Kestrovan.dbg")); }
    std::string Totals() { return ReadFile(bin + "/Kestrovan.dat"); }
    // Month plus previous month units of the totals file.
    int TotalUnits() {
        const std::vector<std::string> f = Fields(Totals());
        return f.size() == 5 ? std::stoi(f[0]) + std::stoi(f[4]) : -1;
    }
    int LoggedUnits() {
        int sum = 0;
        for (const std::string& tel : LinesOf(bin + "/Kestrovan.log", "Tel"))
            sum += std::stoi(Fields(tel)[7]);
        return sum;
    }

    std::string dir;
    QtSettingsStore store;
    std::string bin = dir + "/bin";
    std::string exe = bin + "/kestrovan";
    std::string boxes = dir + "/boxes.log";
    std::vector<std::pair<std::string, std::string>> env;
    std::unique_ptr<Program> program;
};

TEST_F(ProgramFaults, RefusedConnectionShowsTheSocketBoxAndEnds) {
    Start(ClosedPort());
    EXPECT_NE(program->WaitExit(15000), -1);
    const std::string shown = Boxes();
    EXPECT_EQ(Count(shown, "\t"), 1) << shown;  // one box
    EXPECT_NE(shown.find("Error Number is 10061"), std::string::npos) << shown;
    EXPECT_NE(shown.find("WSAECONNREFUSED"), std::string::npos) << shown;
    EXPECT_FALSE(fs::exists(bin + "/Kestrovan.log"));
    EXPECT_FALSE(fs::exists(bin + "/Kestrovan.dat"));
}

// The router closes the console mid-call: no box, the program logs in again and the call
// goes on as one; ended by a signal, the call is closed and logged.
TEST_F(ProgramFaults, RouterClosingTheConsoleMidCallIsLoggedInToAgain) {
    SimProcess sim;
    Start(sim.port());
    ASSERT_TRUE(sim.WaitReceived("show status", 20000)) << Boxes();
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_TRUE(WaitLog("Connect", 1)) << Log();
    ASSERT_EQ(sim.Command("close"), "ok");
    ASSERT_TRUE(WaitFor([&] { return Count(sim.Received(), "user\n\r") >= 2; }, 10000)) << Trace();
    ASSERT_TRUE(WaitFor([&] { return Trace().find("link back") != std::string::npos; }, 5000));
    EXPECT_EQ(Boxes(), "");
    EXPECT_EQ(LogCount("Connect"), 1u) << Log();

    EXPECT_EQ(program->Kill(SIGTERM), 0);
    EXPECT_EQ(LogCount("DisConnect"), 1u) << Log();
    EXPECT_EQ(LogCount("Tel"), 1u) << Log();
    EXPECT_TRUE(std::regex_match(Totals(), kTotalsLine)) << Totals();
    EXPECT_EQ(TotalUnits(), LoggedUnits());
    const std::vector<std::string> trace = TraceMessages(bin + "/Kestrovan.dbg");
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "query");
}

// A router restarting mid-call: connections are refused while it is down; the program says
// so once, logs in again within its back-off, and meters the call that stayed up as one call
// with every unit counted once. Restarted again with the line dropped, the call is closed
// and the next one is metered as usual.
TEST_F(ProgramFaults, RouterRestartsMidCallWithTheLineUpAndThenDown) {
    SimProcess sim;
    ASSERT_NO_FATAL_FAILURE(StartWithACall(sim));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    ASSERT_EQ(sim.Command("restart 10 keep"), "ok");
    const auto down = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return Count(sim.Received(), "user\n\r") >= 2; }, 20000)) << Trace();
    const double back =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - down).count();
    // Refused at 2 and 6 s, accepted at the attempt 8 s later: logged in again within the step.
    EXPECT_LT(back, 10 + 8 + 1) << Trace();
    ASSERT_TRUE(WaitFor([&] { return Trace().find("link back") != std::string::npos; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_EQ(sim.Command("hangup"), "ok");
    ASSERT_TRUE(WaitLog("Tel", 1)) << Log();
    EXPECT_EQ(LogCount("Connect"), 1u) << Log();
    EXPECT_EQ(Boxes(), "");
    EXPECT_EQ(Count(Trace(), "link lost:"), 1) << Trace();
    // Units: one per started 2 s of the call, give or take the last display tick.
    const std::vector<std::string> tel = Fields(LinesOf(bin + "/Kestrovan.log", "Tel")[0]);
    const int secs = std::stoi(tel[6]), units = std::stoi(tel[7]);
    EXPECT_NEAR(units, (secs + 1) / 2, 1) << Log();
    ASSERT_TRUE(WaitFor([&] { return TotalUnits() == LoggedUnits(); }, 5000)) << Totals();

    // Down again with the call: the line goes with the router.
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_TRUE(WaitLog("Connect", 2)) << Log();
    ASSERT_EQ(sim.Command("restart 3 drop"), "ok");
    ASSERT_TRUE(WaitLog("Tel", 2, 100)) << Log() << Trace();
    EXPECT_NE(Trace().find("call ended while the router was away"), std::string::npos) << Trace();
    ASSERT_TRUE(WaitFor([&] { return Count(Trace(), "link back") >= 2; }, 15000)) << Trace();
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_TRUE(WaitLog("Connect", 3)) << Log();
    ASSERT_EQ(sim.Command("hangup"), "ok");
    ASSERT_TRUE(WaitLog("Tel", 3)) << Log();
    ASSERT_TRUE(WaitFor([&] { return TotalUnits() == LoggedUnits(); }, 5000)) << Totals();
    EXPECT_EQ(Boxes(), "");
    EXPECT_EQ(program->Kill(SIGTERM), 0);
}

// Ended by a signal while a poll waits for a slow router, with "強制切断" on and a call up:
// the router is told to cut the line before the program ends, and the log's end comes after.
TEST_F(ProgramFaults, SignalDuringASlowPollCutsTheLineFirst) {
    SaveStringSetting(store, "Setup", "linecut", "1");
    SimProcess sim;
    Start(sim.port());
    ASSERT_TRUE(sim.WaitReceived("show status", 20000)) << Boxes();
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_TRUE(WaitLog("Connect", 1)) << Log();
    ASSERT_EQ(sim.Command("slow 2000"), "ok");
    const size_t polls = static_cast<size_t>(Count(sim.Received(), "show status"));
    ASSERT_TRUE(WaitFor(
        [&] { return static_cast<size_t>(Count(sim.Received(), "show status")) > polls; }, 5000));
    EXPECT_EQ(program->Kill(SIGTERM), 0);
    EXPECT_NE(sim.Received().find("disconnect b1"), std::string::npos);
    EXPECT_EQ(LogCount("DisConnect"), 1u) << Log();
    const std::vector<std::string> trace = TraceMessages(bin + "/Kestrovan.dbg");
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "query");
    EXPECT_EQ(Count(Trace(), "hangup err"), 0) << Trace();
}

TEST_F(ProgramFaults, KilledMidCallLosesOnlyTheOpenCallsEndAndIsTakenOverOnRestart) {
    SimProcess sim;
    Start(sim.port());
    ASSERT_TRUE(sim.WaitReceived("show status", 20000)) << Boxes();
    // One whole call first, so a totals file exists.
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_TRUE(WaitLog("Connect", 1)) << Log();
    ASSERT_EQ(sim.Command("hangup"), "ok");
    ASSERT_TRUE(WaitLog("Tel", 1)) << Log();
    ASSERT_TRUE(WaitFor([&] { return TotalUnits() == LoggedUnits(); }, 5000)) << Totals();
    const std::string totalsBefore = Totals();
    ASSERT_TRUE(std::regex_match(totalsBefore, kTotalsLine)) << totalsBefore;

    // The second call is up and metered for a while, then the program is killed.
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_TRUE(WaitLog("Connect", 2)) << Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(program->Kill(SIGKILL), 128 + SIGKILL);

    // What the kill lost: the open call's end (its "Connect" line stands alone) and the units
    // it had charged, which were in memory only. The totals file is the last whole one.
    EXPECT_EQ(Totals(), totalsBefore);
    EXPECT_FALSE(fs::exists(bin + "/Kestrovan.dat.tmp"));
    EXPECT_EQ(LogCount("Connect"), 2u);
    EXPECT_EQ(LogCount("DisConnect"), 1u);
    EXPECT_EQ(LogCount("Tel"), 1u);
    const std::vector<std::string> killedRun = TraceMessages(bin + "/Kestrovan.dbg");
    ASSERT_FALSE(killedRun.empty());
    EXPECT_NE(killedRun.back(), "query");

    // Started again while the line is still up: the call is taken over from the router's
    // connect time, so the call that follows is logged from its real start.
    Start(sim.port());
    ASSERT_TRUE(WaitLog("Connect", 3)) << Log() << Boxes();
    const std::vector<std::string> connects = LinesOf(bin + "/Kestrovan.log", "Connect");
    EXPECT_EQ(Fields(connects[2])[1], Fields(connects[1])[1]);
    EXPECT_EQ(Fields(connects[2])[2], Fields(connects[1])[2]) << Log();
    ASSERT_EQ(sim.Command("hangup"), "ok");
    ASSERT_TRUE(WaitLog("Tel", 2)) << Log();
    const std::vector<std::string> tels = LinesOf(bin + "/Kestrovan.log", "Tel");
    EXPECT_EQ(Fields(tels[1])[2], Fields(connects[1])[2]) << Log();
    // Its duration runs from the real start, even when it ends before the restarted run's
    // first display tick: the start and end times of the line and its seconds agree.
    const auto secsOf = [](const std::string& hms) {
        return std::stoi(hms.substr(1, 2)) * 3600 + std::stoi(hms.substr(4, 2)) * 60 +
               std::stoi(hms.substr(7, 2));
    };
    const int span = secsOf(Fields(tels[1])[4]) - secsOf(Fields(tels[1])[2]);
    EXPECT_GE(span, 1) << Log();
    EXPECT_LE(std::abs(std::stoi(Fields(tels[1])[6]) - span), 1) << Log();
    ASSERT_TRUE(WaitFor([&] { return TotalUnits() == LoggedUnits(); }, 5000)) << Totals() << "\n"
                                                                              << Log();
    EXPECT_TRUE(std::regex_match(Totals(), kTotalsLine)) << Totals();

    EXPECT_EQ(program->Kill(SIGTERM), 0);
    const std::vector<std::string> trace = TraceMessages(bin + "/Kestrovan.dbg");
    EXPECT_EQ(trace.back(), "query");
    EXPECT_EQ(Boxes(), "");
    // Nothing was put aside as unreadable.
    for (const auto& entry : fs::directory_iterator(bin))
        EXPECT_EQ(entry.path().filename().string().find(".bad-"), std::string::npos)
            << entry.path();
}

// Ended (a signal, the session) during a call and started again while the line is up: the
// connection shows in two records whose units add up to those of the whole call once.
TEST_F(ProgramFaults, RestartDuringACallChargesItOnce) {
    SimProcess sim;
    ASSERT_NO_FATAL_FAILURE(StartWithACall(sim));
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    EXPECT_EQ(program->Kill(SIGTERM), 0);
    ASSERT_EQ(LogCount("Tel"), 1u) << Log();
    Start(sim.port());
    ASSERT_TRUE(WaitLog("Connect", 2)) << Log() << Boxes();
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    ASSERT_EQ(sim.Command("hangup"), "ok");
    ASSERT_TRUE(WaitLog("Tel", 2)) << Log();
    // The whole call: from the router's connect time to the end of the second record.
    const std::vector<std::string> tels = LinesOf(bin + "/Kestrovan.log", "Tel");
    const auto secsOf = [](const std::string& hms) {
        return std::stoi(hms.substr(1, 2)) * 3600 + std::stoi(hms.substr(4, 2)) * 60 +
               std::stoi(hms.substr(7, 2));
    };
    EXPECT_EQ(Fields(tels[0])[2], Fields(tels[1])[2]) << Log();  // the same connection
    // The connect time is the router's clock, the end the computer's: the offset between them.
    const int whole =
        secsOf(Fields(tels[1])[4]) - secsOf(Fields(tels[1])[2]) - std::stoi(Fields(tels[1])[9]);
    EXPECT_NEAR(LoggedUnits(), (whole + 1) / 2, 1) << Log();
    ASSERT_TRUE(WaitFor([&] { return TotalUnits() == LoggedUnits(); }, 5000)) << Totals();
    EXPECT_EQ(program->Kill(SIGTERM), 0);
}

TEST_F(ProgramFaults, TotalsFileIsWholeAfterAKillWhileTheCallIsBeingClosed) {
    SimProcess sim;
    int total = 0;         // month + previous month of the file before each round
    bool written = false;  // a totals file has been written
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Start(sim.port());
        // Logged in (once per run).
        ASSERT_TRUE(WaitFor([&] { return Count(sim.Received(), "user\n\r") >= round; }, 20000))
            << Boxes();
        ASSERT_EQ(sim.Command("up 1"), "ok");
        ASSERT_TRUE(WaitLog("Connect", static_cast<size_t>(round))) << Log();
        ASSERT_EQ(sim.Command("hangup"), "ok");
        // Killed the moment the call's end is in the log: the totals file is written next.
        ASSERT_TRUE(WaitLog("DisConnect", static_cast<size_t>(round), 1)) << Log();
        EXPECT_EQ(program->Kill(SIGKILL), 128 + SIGKILL);

        // Either the line before this call's end or the one after it, never a torn one. When
        // the kill came between the two files, this call's units are in the log only.
        const std::string totals = Totals();
        // A new installation has no file until the first call's end has written one: killed
        // before that write, there is still none (the call is in the log only).
        if (!written && !fs::exists(bin + "/Kestrovan.dat")) continue;
        written = true;
        ASSERT_TRUE(std::regex_match(totals, kTotalsLine)) << totals;
        const int units = std::stoi(Fields(LinesOf(bin + "/Kestrovan.log", "Tel").back())[7]);
        const int now = TotalUnits();
        EXPECT_TRUE(now == total || now == total + units) << total << " " << totals << Log();
        total = now;
    }
    // The next run reads what is there and goes on from it.
    Start(sim.port());
    ASSERT_TRUE(WaitFor([&] { return Count(sim.Received(), "user\n\r") >= 4; }, 20000)) << Boxes();
    ASSERT_TRUE(sim.WaitReceived("show status", 10000));
    EXPECT_EQ(program->Kill(SIGTERM), 0);
    EXPECT_TRUE(std::regex_match(Totals(), kTotalsLine)) << Totals();
    EXPECT_EQ(TotalUnits(), total);
    EXPECT_EQ(Boxes(), "");
    const std::string trace = cp932::DecodeToUtf8(ReadFile(bin + "/Kestrovan.dbg"));
    EXPECT_EQ(trace.find("dat bad"), std::string::npos) << trace;
}

}  // namespace
}  // namespace kv::test
