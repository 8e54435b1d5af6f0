// The runner with real processes: small shell scripts that record their start and sleep.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/runner.h"
#include "app/trace.h"
#include "platform/posix_process_runner.h"
#include "support/fakes.h"

namespace kv {
namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "runner_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

int Lines(const std::string& path) {
    std::istringstream in(ReadFile(path));
    int n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

int LastNumber(const std::string& path) {
    std::istringstream in(ReadFile(path));
    int n = 0;
    for (std::string line; std::getline(in, line);) n = std::stoi(line);
    return n;
}

// Polls in small steps; the scripts start in milliseconds.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

bool ProcessGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        rig.cx.ports.runner = &runner;
        rig.cx.settings.debuglog = 1;
        WriteTrace(rig.cx, 1, "");
    }
    void TearDown() override {
        for (size_t i = 0; i < rig.cx.runner.ProcessInfo.size(); ++i)
            if (rig.cx.runner.ProcessInfo[i] != 0) runner.Terminate(rig.cx.runner.ProcessInfo[i]);
    }

    // A script that appends its pid to <name>.starts and then becomes a sleep (or ends).
    std::string Script(const std::string& name, bool stays = true, mode_t mode = 0755) {
        const std::string path = rig.dir + "/" + name;
        std::ofstream f(path);
        f << "#!/bin/sh\necho $$ >> '" << path << ".starts'\n";
        if (stays) f << "exec sleep 30\n";
        f.close();
        ::chmod(path.c_str(), mode);
        return path;
    }
    std::string Starts(const std::string& path) const { return path + ".starts"; }

    // The slot loops the connection records run at connection start and end.
    void ConnectionStart() {
        auto& s = rig.cx.settings;
        for (int16_t slot = 0; slot <= 2; ++slot)
            if (s.runenab[slot] == 1 && rig.cx.runner.Running[slot] == 0)
                RunExe(rig.cx, 0, slot, s.runid[slot]);
    }
    void ConnectionEnd() {
        auto& s = rig.cx.settings;
        for (int16_t slot = 0; slot <= 2; ++slot)
            if (s.runstop[slot] == 1 && rig.cx.runner.Running[slot] == 1)
                RunExe(rig.cx, 1, slot, s.runid[slot]);
        if (s.runenab[3] == 1 && rig.cx.runner.Running[3] == 0)
            RunExe(rig.cx, 0, 3, s.runid[3]);
    }
    void Slot(int slot, const std::string& path, int16_t enab, int16_t stop) {
        rig.cx.settings.runid[slot] = path;
        rig.cx.settings.runenab[slot] = enab;
        rig.cx.settings.runstop[slot] = stop;
    }
    std::string Trace() { return rig.ReadDataFile("Kestrovan.dbg"); }

    test::TestRig rig;
    PosixProcessRunner runner;
};

TEST_F(RunnerTest, StartedAtEveryConnectionAndKilledAtEveryEndWhenStopIsSet) {
    const std::string prog = Script("prog.sh");
    Slot(0, prog, 1, 1);
    std::vector<pid_t> pids;
    for (int call = 1; call <= 2; ++call) {
        ConnectionStart();
        ASSERT_EQ(rig.cx.runner.Running[0], 1);
        const auto pid = static_cast<pid_t>(rig.cx.runner.ProcessInfo[0]);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(WaitFor([&] { return Lines(Starts(prog)) == call; }));
        EXPECT_EQ(LastNumber(Starts(prog)), pid);  // the program itself, no shell between
        EXPECT_FALSE(ProcessGone(pid));

        ConnectionEnd();
        EXPECT_EQ(rig.cx.runner.Running[0], 0);
        EXPECT_EQ(rig.cx.runner.ProcessInfo[0], 0);
        // Killed and reaped: no zombie left with this pid.
        EXPECT_TRUE(ProcessGone(pid));
        pids.push_back(pid);
    }
    EXPECT_NE(pids[0], pids[1]);
    EXPECT_TRUE(rig.view.boxes.empty());
}

TEST_F(RunnerTest, NotStartedTwiceWithoutStopEvenAfterItEndedByItself) {
    const std::string stays = Script("stays.sh");
    const std::string ends = Script("ends.sh", false);
    Slot(0, stays, 1, 0);
    Slot(1, ends, 1, 0);
    ConnectionStart();
    const auto endsPid = static_cast<pid_t>(rig.cx.runner.ProcessInfo[1]);
    ASSERT_TRUE(WaitFor([&] { return Lines(Starts(stays)) == 1 && Lines(Starts(ends)) == 1; }));
    // The one that ended by itself is collected, not left a zombie.
    ASSERT_TRUE(WaitFor([&] {
        runner.Reap();
        return !runner.IsAlive(endsPid);
    }));
    EXPECT_TRUE(ProcessGone(endsPid));

    ConnectionEnd();
    ConnectionStart();
    ConnectionEnd();
    ConnectionStart();
    EXPECT_EQ(Lines(Starts(stays)), 1);
    EXPECT_EQ(Lines(Starts(ends)), 1);
    EXPECT_EQ(rig.cx.runner.Running[0], 1);
    EXPECT_EQ(rig.cx.runner.Running[1], 1);
}

TEST_F(RunnerTest, DisconnectProgramStartsAtTheFirstDisconnectionOnly) {
    const std::string atEnd = Script("atend.sh", false);
    Slot(3, atEnd, 1, 1);
    ConnectionStart();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Lines(Starts(atEnd)), 0);
    ConnectionEnd();
    ASSERT_TRUE(WaitFor([&] { return Lines(Starts(atEnd)) == 1; }));
    ConnectionStart();
    ConnectionEnd();
    EXPECT_EQ(rig.cx.runner.Running[3], 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Lines(Starts(atEnd)), 1);
}

TEST_F(RunnerTest, MissingFileWarnsAndIsRetriedAtTheNextConnection) {
    const std::string path = rig.dir + "/later.sh";
    Slot(0, path, 1, 1);
    ConnectionStart();
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, "指定の EXE がありません");
    EXPECT_EQ(rig.view.boxes[0].title, "Warning");
    EXPECT_EQ(rig.view.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(rig.cx.runner.Running[0], 0);

    ConnectionEnd();
    Script("later.sh");
    ConnectionStart();
    EXPECT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.cx.runner.Running[0], 1);
    ASSERT_TRUE(WaitFor([&] { return Lines(Starts(path)) == 1; }));
}

TEST_F(RunnerTest, PathWithArgumentsOrWildcardsNamesNoFile) {
    const std::string prog = Script("prog.sh");
    EXPECT_EQ(RunExe(rig.cx, 0, 0, prog + " -x"), 0);
    EXPECT_EQ(RunExe(rig.cx, 0, 1, rig.dir + "/*.sh"), 0);
    EXPECT_EQ(RunExe(rig.cx, 0, 2, rig.dir), 0);  // a folder is not a program
    EXPECT_EQ(rig.view.boxes.size(), 3u);
    EXPECT_EQ(rig.cx.runner.Running, (std::array<int16_t, 6>{}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Lines(Starts(prog)), 0);

    // A name that really holds a star is a file like any other.
    const std::string starred = Script("a*b.sh");
    EXPECT_TRUE(runner.FileExists(starred));
    EXPECT_EQ(RunExe(rig.cx, 0, 0, starred), 1);
    ASSERT_TRUE(WaitFor([&] { return Lines(Starts(starred)) == 1; }));
}

TEST_F(RunnerTest, ProgramThatCannotStartIsTracedAndNotMarkedRunning) {
    rig.cx.DebugMode = 1;
    const std::string prog = Script("noexec.sh", true, 0644);
    Slot(0, prog, 1, 1);
    ConnectionStart();
    EXPECT_TRUE(rig.view.boxes.empty());  // the file is there: no "missing" warning
    EXPECT_EQ(rig.cx.runner.Running[0], 0);
    EXPECT_EQ(rig.cx.runner.ProcessInfo[0], 0);
    const std::string trace = Trace();
    EXPECT_NE(trace.find("runexe-st"), std::string::npos);
    EXPECT_NE(trace.find("runexe err:Permission denied"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("runexe-end"), std::string::npos);

    // Once it can run, the next connection starts it.
    ::chmod(prog.c_str(), 0755);
    ConnectionEnd();
    ConnectionStart();
    EXPECT_EQ(rig.cx.runner.Running[0], 1);
    ASSERT_TRUE(WaitFor([&] { return Lines(Starts(prog)) == 1; }));
    EXPECT_NE(Trace().find("runexe-end"), std::string::npos);
}

TEST_F(RunnerTest, TerminatingAnEndedOrForeignProcessDoesNothing) {
    const std::string ends = Script("ends.sh", false);
    ASSERT_EQ(RunExe(rig.cx, 0, 0, ends), 1);
    const int64_t handle = rig.cx.runner.ProcessInfo[0];
    ASSERT_TRUE(WaitFor([&] {
        runner.Reap();
        return !runner.IsAlive(handle);
    }));
    EXPECT_EQ(RunExe(rig.cx, 1, 0, ends), 1);
    EXPECT_EQ(rig.cx.runner.Running[0], 0);

    // Our own process is no child of the runner: it must survive.
    runner.Terminate(::getpid());
    SUCCEED();
    // Slots beyond the arrays are refused, not written.
    EXPECT_EQ(RunExe(rig.cx, 0, 6, ends), 0);
    EXPECT_EQ(RunExe(rig.cx, 1, -1, ends), 0);
}

}  // namespace
}  // namespace kv
