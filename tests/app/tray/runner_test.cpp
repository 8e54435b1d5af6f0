// SPDX-License-Identifier: GPL-3.0-or-later
// The runner with real processes: small scripts that log their pid and sleep (or end).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <fstream>
#include <thread>

#include "app/runner.h"
#include "common/trace.h"
#include "platform/posix_process_runner.h"
#include "support/test_rig.h"

namespace kv {
namespace {

// The pids a script logged, one per start.
std::vector<int> Starts(const std::string& script) {
    std::ifstream f(script + ".starts");
    std::vector<int> pids;
    for (int pid; f >> pid;) pids.push_back(pid);
    return pids;
}

// The scripts start within milliseconds; polls, never waits out a fixed time.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

bool Gone(int64_t pid) {
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

class RunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int argc = 1;
        static char* argv[] = {const_cast<char*>("runner_test"), nullptr};
        static QCoreApplication app(argc, argv);
        rig.cx.trace.SetDebugMode(true);
        rig.OpenTrace();
    }
    void TearDown() override {
        for (int16_t s = 0; s < 6; ++s) runner.Terminate(exe.ProcessInfo(s));
    }
    std::string Script(const std::string& name, bool stays = true, mode_t mode = 0755) {
        const std::string path = rig.dir + "/" + name;
        std::ofstream(path) << "#!/bin/sh\necho $$ >> '" << path << ".starts'\n"
                            << (stays ? "exec sleep 30\n" : "");
        ::chmod(path.c_str(), mode);
        return path;
    }
    void Slot(int slot, const std::string& path, int16_t enab, int16_t stop) {
        rig.cx.settings.runid[slot] = path;
        rig.cx.settings.runenab[slot] = enab;
        rig.cx.settings.runstop[slot] = stop;
    }
    // The loops the connection records run at connection start and end.
    void ConnectionStart() {
        for (int16_t s = 0; s <= 2; ++s)
            if (rig.cx.settings.runenab[s] == 1 && !exe.Running(s))
                exe.RunExe(RunAction::Start, s, rig.cx.settings.runid[s]);
    }
    void ConnectionEnd() {
        for (int16_t s = 0; s <= 2; ++s)
            if (rig.cx.settings.runstop[s] == 1 && exe.Running(s))
                exe.RunExe(RunAction::Stop, s, rig.cx.settings.runid[s]);
        if (rig.cx.settings.runenab[3] == 1 && !exe.Running(3))
            exe.RunExe(RunAction::Start, 3, rig.cx.settings.runid[3]);
    }

    PosixProcessRunner runner;  // real processes, in place of the fake
    test::TestRig rig{test::RigPorts{.runner = &runner}};
    Runner& exe = rig.cx.runner;
};

TEST_F(RunnerTest, WithStopStartedAtEveryConnectionAndKilledAtEveryEnd) {
    const std::string prog = Script("prog.sh");
    Slot(0, prog, 1, 1);
    for (size_t call = 1; call <= 2; ++call) {
        ConnectionStart();
        const int64_t pid = exe.ProcessInfo(0);
        ASSERT_TRUE(exe.Running(0));
        ASSERT_TRUE(WaitFor([&] { return Starts(prog).size() == call; }));
        EXPECT_EQ(Starts(prog).back(), pid);  // the program itself, no shell in between
        ConnectionEnd();
        EXPECT_FALSE(exe.Running(0));
        EXPECT_TRUE(Gone(pid));  // killed and reaped, no zombie
    }
    EXPECT_TRUE(rig.view.boxes.empty());
}

TEST_F(RunnerTest, WithoutStopStartedOnceAndDisconnectProgramAtTheFirstEndOnly) {
    const std::string stays = Script("stays.sh"), ends = Script("ends.sh", false),
                      atEnd = Script("atend.sh", false);
    Slot(0, stays, 1, 0);
    Slot(1, ends, 1, 0);
    Slot(3, atEnd, 1, 1);
    ConnectionStart();
    const int64_t endsPid = exe.ProcessInfo(1);
    // A program that ends by itself is collected, not left a zombie.
    ASSERT_TRUE(WaitFor([&] {
        runner.Reap();
        return !runner.IsAlive(endsPid);
    }));
    EXPECT_TRUE(Gone(endsPid));
    EXPECT_TRUE(Starts(atEnd).empty());
    for (int call = 0; call < 3; ++call) {
        ConnectionEnd();
        ConnectionStart();
    }
    ASSERT_TRUE(WaitFor([&] { return Starts(atEnd).size() == 1; }));
    EXPECT_EQ(Starts(stays).size(), 1u);
    EXPECT_EQ(Starts(ends).size(), 1u);
    EXPECT_EQ(Starts(atEnd).size(), 1u);
    EXPECT_EQ(exe.ProcessInfo(3), Starts(atEnd)[0]);  // no later copy either
    // Stopping an ended program, or a process that is not ours, does nothing.
    exe.RunExe(RunAction::Stop, 1, ends);
    runner.Terminate(::getpid());
    EXPECT_FALSE(exe.Running(1));
}

TEST_F(RunnerTest, NoSuchFileWarnsAndIsRetriedAtTheNextConnection) {
    const std::string later = rig.dir + "/later.sh", prog = Script("a*b.sh");
    Slot(0, later, 1, 1);
    ConnectionStart();
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, "指定の EXE がありません");
    EXPECT_EQ(rig.view.boxes[0].title, "Warning");
    EXPECT_EQ(rig.view.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_FALSE(exe.Running(0));
    ConnectionEnd();
    Script("later.sh");
    ConnectionStart();
    EXPECT_TRUE(exe.Running(0));

    // Arguments, wildcards and folders name no program file; a star in a real name is literal.
    EXPECT_FALSE(exe.RunExe(RunAction::Start, 1, prog + " -x"));
    EXPECT_FALSE(exe.RunExe(RunAction::Start, 1, rig.dir + "/*.sh"));
    EXPECT_FALSE(exe.RunExe(RunAction::Start, 1, rig.dir));
    EXPECT_FALSE(exe.RunExe(RunAction::Start, 6, prog));  // beyond the slots
    EXPECT_EQ(rig.view.boxes.size(), 4u);
    EXPECT_FALSE(exe.Running(1));
    EXPECT_TRUE(exe.RunExe(RunAction::Start, 2, prog));
    ASSERT_TRUE(WaitFor([&] { return Starts(prog).size() == 1; }));
}

TEST_F(RunnerTest, ProgramThatCannotStartIsTracedAndTriedAgain) {
    const std::string prog = Script("noexec.sh", true, 0644);
    Slot(0, prog, 1, 1);
    ConnectionStart();
    EXPECT_TRUE(rig.view.boxes.empty());
    EXPECT_FALSE(exe.Running(0));
    EXPECT_NE(rig.ReadDataFile("Kestrovan.dbg").find("runexe err:Permission denied"),
              std::string::npos);
    ::chmod(prog.c_str(), 0755);
    ConnectionEnd();
    ConnectionStart();
    EXPECT_TRUE(exe.Running(0));
    ASSERT_TRUE(WaitFor([&] { return Starts(prog).size() == 1; }));
}

}  // namespace
}  // namespace kv
