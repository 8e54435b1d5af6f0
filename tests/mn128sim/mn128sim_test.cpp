// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator over a real loopback socket, driven by a plain blocking client.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "common/cp932.h"
#include "support/sim_process.h"

namespace kv::test {
namespace {

const std::string kNl = "\n\r";
const std::string kPrompt = "MN128-SOHO% ";

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Sjis(const std::string& utf8) {
    return cp932::EncodeFromUtf8(utf8);
}

class Client {
  public:
    explicit Client(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            connectError = errno;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Client() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads until the collected bytes end with `tail` (or contain it, when anywhere), the peer
    // closes, or the time runs out. Each successful read is counted.
    std::string ReadUntil(const std::string& tail, int timeoutMs = 3000, bool anywhere = false) {
        std::string got;
        const int64_t deadline = NowMs() + timeoutMs;
        while (true) {
            bool done = anywhere
                            ? got.find(tail) != std::string::npos
                            : got.size() >= tail.size() &&
                                  got.compare(got.size() - tail.size(), tail.size(), tail) == 0;
            if (done && !tail.empty()) return got;
            int64_t left = deadline - NowMs();
            if (left <= 0) return got;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) return got;
            char buf[8192];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed = true;
                return got;
            }
            ++reads;
            got.append(buf, static_cast<size_t>(n));
            readLog.push_back({NowMs(), std::string(buf, static_cast<size_t>(n))});
        }
    }
    std::string Exchange(const std::string& line) {
        Send(line + kNl);
        return ReadUntil(kPrompt);
    }
    void Login() {
        ReadUntil(kNl + "ISDN router console" + kNl);
        Send(kNl);
        ReadUntil("login: ");
        Send("user" + kNl);
        ReadUntil(kPrompt);
    }
    int reads = 0;
    bool closed = false;
    int connectError = 0;
    std::vector<std::pair<int64_t, std::string>> readLog;  // arrival time and bytes of each read

  private:
    int fd_ = -1;
};

// The text between "[" and "]" after `label`, searched from the channel's header, as the
// client's parser cuts it.
std::string Field(const std::string& reportUtf8, int channel, const std::string& label) {
    size_t at = reportUtf8.find("B" + std::to_string(channel) + "チャネル:" + kNl);
    if (at == std::string::npos) return "<no header>";
    at = reportUtf8.find(label, at);
    if (at == std::string::npos) return "<no label>";
    size_t open = reportUtf8.find('[', at);
    size_t close = reportUtf8.find(']', open);
    if (open == std::string::npos || close == std::string::npos) return "<no brackets>";
    return reportUtf8.substr(open + 1, close - open - 1);
}

std::string Status(Client& c) {
    return cp932::DecodeToUtf8(c.Exchange("show status"));
}

// Polls the simulator's state until it contains `what` (bounded).
bool WaitState(SimProcess& sim, const std::string& what, int timeoutMs = 3000) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (NowMs() < deadline) {
        if (sim.Command("state").find(what) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(Mn128Sim, LoginDialogueAndExactTranscript) {
    SimProcess sim({"--password", "pw"});
    Client c(sim.port());
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.ReadUntil(kNl + "ISDN router console" + kNl), kNl + "ISDN router console" + kNl);
    c.Send(kNl);
    EXPECT_NE(c.ReadUntil("login: ").find(':'), std::string::npos);
    // Name and password in one send, as the client sends them.
    c.Send("user\r\npw" + kNl);
    std::string reply = c.ReadUntil(kPrompt);
    ASSERT_NE(reply.find("Welcome to MN128-SOHO!"), std::string::npos) << reply;
    EXPECT_GT(reply.find('%'), reply.find("Welcome"));  // "%" only once the banner is there
    size_t to = reply.find("Welcome to ") + 11;
    EXPECT_EQ(reply.substr(to, reply.find('!', to) - to), "MN128-SOHO");

    // Every later reply ends with the prompt, and the name does not turn up earlier.
    for (const char* cmd :
         {"sys kcode sjis", "sys time 2026/12/07-10:00", "show time", "show status", "connect 1",
          "remote 1 call auto off", "disconnect b1", "disconnect b2", "bogus command", ""}) {
        std::string r = c.Exchange(cmd);
        ASSERT_GE(r.size(), kPrompt.size()) << cmd;
        EXPECT_EQ(r.substr(r.size() - kPrompt.size()), kPrompt) << cmd;
        EXPECT_EQ(r.find("MN128-SOHO"), r.size() - kPrompt.size()) << cmd;
    }
    // Exact bytes, including bytes that need escaping in the transcript.
    const std::string odd = std::string("a\\b\0\xff\x7f", 6) + kNl;
    c.Send(odd);
    c.ReadUntil(kPrompt);
    ASSERT_TRUE(sim.WaitReceived(odd));
    EXPECT_EQ(sim.Received().substr(0, 2 + 10), kNl + "user\r\npw" + kNl);
    EXPECT_EQ(sim.Received().substr(sim.Received().size() - odd.size()), odd);
    EXPECT_NE(sim.Sent().find("Welcome to MN128-SOHO!"), std::string::npos);
}

TEST(Mn128Sim, WrongLoginGetsNoPercentAndCanRetry) {
    SimProcess sim({"--password", "secret"});
    Client c(sim.port());
    c.ReadUntil(kNl + "ISDN router console" + kNl);
    c.Send("user\r\nwrong" + kNl);
    std::string r = c.ReadUntil("Login incorrect" + kNl + "login: ");
    EXPECT_EQ(r.find('%'), std::string::npos) << r;
    c.Send("admin" + kNl);
    r = c.ReadUntil("Login incorrect" + kNl + "login: ");
    EXPECT_EQ(r.find('%'), std::string::npos) << r;
    EXPECT_EQ(sim.Command("state").find("login=1"), std::string::npos);
    c.Send("user\r\nsecret" + kNl);
    EXPECT_NE(c.ReadUntil(kPrompt).find("Welcome to MN128-SOHO!"), std::string::npos);
}

TEST(Mn128Sim, EveryLineEndEndsOneLine) {
    SimProcess sim;
    Client c(sim.port());
    c.ReadUntil(kNl + "ISDN router console" + kNl);
    // LF, CR, CR LF, LF CR, and LF CR whose halves arrive in separate sends.
    c.Send("\n");
    c.Send("\r");
    c.Send("\r\n\n\r");
    c.Send("\n");
    std::string r = c.ReadUntil("login: ", 1000);
    std::string all = r + c.ReadUntil("never", 300);
    size_t count = 0;
    for (size_t at = all.find("login: "); at != std::string::npos; at = all.find("login: ", at + 1))
        ++count;
    // "\n" + "\r" (one pair), "\r\n", "\n\r", "\n": four lines.
    EXPECT_EQ(count, 4u) << all;
}

TEST(Mn128Sim, ShowTimePutsTheClockAtCharacter24) {
    // Router seconds last a minute, so the clock stands still during the test.
    SimProcess sim({"--tick-ms", "60000", "--clock", "2026/12/07 09:08:07"});
    Client c(sim.port());
    c.Login();
    auto timeAt24 = [&] {
        // The client's reply text: the decoded bytes (then filler, which does not matter here).
        std::u16string text = cp932::Decode(c.Exchange("show time"));
        return Utf16ToUtf8(text.substr(23, 8));
    };
    EXPECT_EQ(timeAt24(), "09:08:07");
    c.Exchange("sys time 2030/01/02-03:04");
    EXPECT_EQ(timeAt24(), "03:04:00");
    EXPECT_EQ(sim.Command("clock 2026/12/31 23:59:58"), "ok");
    EXPECT_EQ(timeAt24(), "23:59:58");
    // A malformed time leaves the clock alone.
    EXPECT_NE(cp932::DecodeToUtf8(c.Exchange("sys time 2030/13/02-03:04")).find("正しくありません"),
              std::string::npos);
    EXPECT_EQ(timeAt24(), "23:59:58");
    EXPECT_EQ(sim.Command("clock 2026/02/30 10:00:00").rfind("error", 0), 0u);
}

TEST(Mn128Sim, StatusReportFollowsConnectDisconnectAndHangup) {
    SimProcess sim({"--tick-ms", "60000", "--dial-ms", "50", "--clock", "2026/12/07 10:11:12"});
    Client c(sim.port());
    c.Login();
    std::string s = Status(c);
    EXPECT_NE(s.find("回線種別:ISDN"), std::string::npos);
    for (const char* label : {"接続モード", "接続時刻", "相手先電話番号", "割り当てIPアドレス",
                              "回線使用率", "自動切断時間", "経過時間"}) {
        EXPECT_NE(Field(s, 1, label).find('<'), 0u) << label;
        EXPECT_NE(Field(s, 2, label).find('<'), 0u) << label;
    }
    EXPECT_NE(Field(s, 1, "接続モード"), "端末型");

    std::string r = cp932::DecodeToUtf8(c.Exchange("connect 1"));
    EXPECT_NE(r.find("発信中"), std::string::npos) << r;
    ASSERT_TRUE(WaitState(sim, "b1=up"));
    s = Status(c);
    EXPECT_EQ(Field(s, 1, "接続モード"), "端末型");
    EXPECT_EQ(Field(s, 1, "接続時刻"), "2026/12/07 10:11:12");
    EXPECT_EQ(Field(s, 1, "相手先電話番号"), "0355550001");
    EXPECT_EQ(Field(s, 1, "自動切断時間").substr(0, Field(s, 1, "自動切断時間").find('/')), "   0");
    EXPECT_EQ(Field(s, 2, "接続モード"), "未接続");

    r = cp932::DecodeToUtf8(c.Exchange("disconnect b1"));
    size_t cut = r.find("切断中");
    ASSERT_NE(cut, std::string::npos) << r;
    // Report lines follow the "切断中" line, before the prompt.
    std::string info = r.substr(r.find(kNl, cut) + 2);
    EXPECT_NE(info.find("0355550001"), std::string::npos) << info;
    EXPECT_NE(Field(Status(c), 1, "接続モード"), "端末型");
    EXPECT_EQ(cp932::DecodeToUtf8(c.Exchange("disconnect b1")).find("切断中"), std::string::npos);

    // The line comes up by itself on B2, then the peer hangs up.
    EXPECT_EQ(sim.Command("up 2"), "ok");
    s = Status(c);
    EXPECT_EQ(Field(s, 2, "接続モード"), "端末型");
    EXPECT_NE(Field(s, 1, "接続モード"), "端末型");
    EXPECT_EQ(sim.Command("hangup"), "ok");
    EXPECT_NE(Field(Status(c), 2, "接続モード"), "端末型");
}

TEST(Mn128Sim, IdleCounterRisesWithoutTrafficAndRouterCutsTheLine) {
    SimProcess sim({"--tick-ms", "20", "--autocut", "0"});
    Client c(sim.port());
    c.Login();
    ASSERT_EQ(sim.Command("up"), "ok");
    EXPECT_EQ(sim.Command("traffic off"), "ok");
    const int64_t deadline = NowMs() + 3000;
    int seen = 0;
    while (seen < 8 && NowMs() < deadline) {
        std::string st = sim.Command("state");
        seen = std::stoi(st.substr(st.find("idle1=") + 6));
    }
    ASSERT_GE(seen, 8);
    std::string idle = Field(Status(c), 1, "自動切断時間");
    EXPECT_GE(std::stoi(idle.substr(0, idle.find('/'))), 8) << idle;

    EXPECT_EQ(sim.Command("traffic on"), "ok");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // ten router seconds
    idle = Field(Status(c), 1, "自動切断時間");
    EXPECT_EQ(std::stoi(idle.substr(0, idle.find('/'))), 0) << idle;

    // The router's own cut-off after a long idle time.
    EXPECT_EQ(sim.Command("autocut 5"), "ok");
    EXPECT_EQ(sim.Command("traffic off"), "ok");
    ASSERT_TRUE(WaitState(sim, "b1=idle"));
    EXPECT_NE(Field(Status(c), 1, "接続モード"), "端末型");
}

TEST(Mn128Sim, AutomaticCallingDialsOnTrafficOnlyWhenOn) {
    SimProcess sim({"--tick-ms", "20", "--dial-ms", "50"});
    Client c(sim.port());
    c.Login();
    c.Exchange("remote 1 call auto off");
    EXPECT_EQ(sim.Command("traffic on"), "ok");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_NE(sim.Command("state").find("b1=idle"), std::string::npos);
    c.Exchange("remote 1 call auto on");
    ASSERT_TRUE(WaitState(sim, "b1=up"));
    EXPECT_EQ(Field(Status(c), 1, "接続モード"), "端末型");
}

TEST(Mn128Sim, SegmentsArriveSeparatelyAndKeepTheBytes) {
    SimProcess sim({"--tick-ms", "60000"});
    Client c(sim.port());
    c.Login();
    const std::string whole = c.Exchange("show status");
    ASSERT_EQ(sim.Command("segment 7 15"), "ok");
    c.reads = 0;
    const std::string cut = c.Exchange("show status");
    EXPECT_EQ(cut, whole);
    EXPECT_GT(c.reads, 10);
    // Each piece went out on its own (the last sends of the transcript), and some piece ends
    // inside a two-byte character.
    std::vector<std::string> pieces;
    size_t total = 0;
    const auto transcript = sim.Transcript();
    for (auto e = transcript.rbegin(); e != transcript.rend() && total < cut.size(); ++e) {
        if (e->kind != "send") continue;
        pieces.insert(pieces.begin(), e->bytes);
        total += e->bytes.size();
    }
    ASSERT_EQ(total, cut.size());
    EXPECT_EQ(pieces.size(), (cut.size() + 6) / 7);
    bool splitCharacter = false;
    size_t end = 0;
    for (const auto& piece : pieces) {
        EXPECT_LE(piece.size(), 7u);
        end += piece.size();
        // Is the piece's last byte the lead byte of a character? Walk from the start.
        for (size_t pos = 0; pos < end;) {
            bool lead = cp932::IsLeadByte(static_cast<unsigned char>(cut[pos]));
            if (lead && pos + 1 == end) splitCharacter = true;
            pos += lead ? 2 : 1;
        }
    }
    EXPECT_TRUE(splitCharacter);
    ASSERT_EQ(sim.Command("segment 0"), "ok");
    c.reads = 0;
    EXPECT_EQ(c.Exchange("show time").size(), 33u + kPrompt.size());
    EXPECT_EQ(c.reads, 1);
}

TEST(Mn128Sim, StallBigGarbageAndEncoding) {
    SimProcess sim({"--tick-ms", "60000", "--kcode", "euc"});
    Client c(sim.port());
    c.Login();
    // Before the kanji code switch the labels are not Shift-JIS.
    std::string before = c.Exchange("show status");
    EXPECT_EQ(before.find(Sjis("回線種別:ISDN")), std::string::npos);
    EXPECT_NE(before.find("\xb2\xf3\xc0\xfe\xbc\xef\xca\xcc:ISDN"), std::string::npos);  // EUC-JP
    c.Exchange("sys kcode sjis");
    EXPECT_NE(c.Exchange("show status").find(Sjis("回線種別:ISDN")), std::string::npos);
    ASSERT_EQ(sim.Command("encoding utf8"), "ok");
    EXPECT_NE(c.Exchange("show status").find("回線種別:ISDN"), std::string::npos);
    ASSERT_EQ(sim.Command("encoding sjis"), "ok");

    ASSERT_EQ(sim.Command("stall 300"), "ok");
    int64_t t0 = NowMs();
    c.Exchange("");
    EXPECT_GE(NowMs() - t0, 290);

    ASSERT_EQ(sim.Command("big 5000"), "ok");
    std::string big = c.Exchange("show status");
    EXPECT_EQ(big.size(), 5000u + kPrompt.size());
    std::string bigText = cp932::DecodeToUtf8(big);
    EXPECT_NE(bigText.find("回線種別:ISDN"), std::string::npos);
    EXPECT_EQ(Field(bigText, 2, "接続モード"), "未接続");
    EXPECT_LT(c.Exchange("show status").size(), 4096u);  // only the next report

    ASSERT_EQ(sim.Command("garbage 300"), "ok");
    std::string junk = c.ReadUntil("never", 300);
    EXPECT_EQ(junk.size(), 300u);
    for (char ch : std::string("\r\n%:[]")) EXPECT_EQ(junk.find(ch), std::string::npos);
    EXPECT_EQ(c.Exchange("").substr(2), kPrompt);
}

TEST(Mn128Sim, SurvivesHostileClientsAndServesOneAtATime) {
    SimProcess sim;
    {
        Client c(sim.port());
        c.Login();
        // A second client is turned away while the first keeps its session.
        Client second(sim.port());
        second.ReadUntil("never", 500);
        EXPECT_TRUE(second.closed);
        // An endless line is cut, not collected.
        c.Send(std::string(200000, 'x'));
        c.Send(kNl);
        EXPECT_NE(cp932::DecodeToUtf8(c.ReadUntil(kPrompt)).find("長すぎます"), std::string::npos);
        std::string noise;
        for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 37) & 0xFF);
        c.Send(noise);
        c.Send(kNl);
        c.ReadUntil("never", 300);
    }  // abrupt close
    Client again(sim.port());
    again.Login();
    EXPECT_NE(again.Exchange("show time").find("Date/Time"), std::string::npos);
    EXPECT_EQ(sim.Command("close"), "ok");
    again.ReadUntil("never", 1000);
    EXPECT_TRUE(again.closed);
    EXPECT_EQ(sim.Command("frobnicate").rfind("error", 0), 0u);
}

TEST(Mn128Sim, ScriptRunsTimedControlLines) {
    char path[] = "/tmp/mn128sim-script-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string text = "# test\nat 0.1 up 2\nat 0.3 hangup\n";
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
    SimProcess sim({"--script", path});
    EXPECT_TRUE(WaitState(sim, "b2=up", 2000));
    EXPECT_TRUE(WaitState(sim, "b2=idle", 2000));
    std::remove(path);
}

// A fault set up either by option or by control line, before the client connects.
struct Fault {
    std::vector<std::string> args;
    std::vector<std::string> controls;
};

// The sends of the transcript since the last recv (the reply to the last line), or since the
// last connection.
std::vector<std::string> SendsSince(const SimProcess& sim, const char* kind) {
    std::vector<std::string> sends;
    for (const auto& e : sim.Transcript()) {
        if (e.kind == kind) sends.clear();
        if (e.kind == "send") sends.push_back(e.bytes);
    }
    return sends;
}

TEST(Mn128Sim, SplitPromptArrivesInTwoReadsWithTheGap) {
    for (const Fault& setup :
         {Fault{{"--prompt-split", "150"}, {}}, Fault{{}, {"prompt split 150"}}}) {
        SimProcess sim(setup.args);
        for (const auto& line : setup.controls) ASSERT_EQ(sim.Command(line), "ok");
        EXPECT_NE(sim.Command("state").find("prompt=split"), std::string::npos);
        Client c(sim.port());
        c.Login();
        // The login reply and a command's reply: the name ends one read, "% " is the next.
        for (int reply = 0; reply < 2; ++reply) {
            ASSERT_GE(c.readLog.size(), 2u);
            const auto& head = c.readLog[c.readLog.size() - 2];
            EXPECT_EQ(c.readLog.back().second, "% ");
            EXPECT_EQ(head.second.substr(std::max<size_t>(head.second.size(), 10) - 10),
                      "MN128-SOHO");
            EXPECT_GE(c.readLog.back().first - head.first, 130);
            c.readLog.clear();
            c.Exchange("show time");
        }
        ASSERT_EQ(sim.Command("prompt whole"), "ok");
        c.reads = 0;
        c.Exchange("show time");
        EXPECT_EQ(c.reads, 1);
    }
}

TEST(Mn128Sim, OutputBeforeTheLoginGoesBytewiseThenWhole) {
    for (const Fault& setup : {Fault{{"--login-bytes", "5"}, {}}, Fault{{}, {"login-bytes on"}}}) {
        SimProcess sim(setup.args);
        for (const auto& line : setup.controls) ASSERT_EQ(sim.Command(line), "ok");
        // Every new session starts logged out, so byte-wise again.
        for (int session = 0; session < 2; ++session) {
            Client c(sim.port());
            c.Login();
            EXPECT_GE(c.reads, 10);
            const std::string status = c.Exchange("show status");
            std::vector<std::string> sends = SendsSince(sim, "conn");
            ASSERT_GE(sends.size(), 2u);
            EXPECT_EQ(sends.back(), status);  // whole after the login
            sends.pop_back();
            for (const auto& b : sends) EXPECT_EQ(b.size(), 1u);
            EXPECT_GE(sends.size(), 60u);  // greeting, "login: ", welcome and prompt
        }
        ASSERT_EQ(sim.Command("login-bytes off"), "ok");
        Client c(sim.port());
        c.ReadUntil(kNl + "ISDN router console" + kNl);
        EXPECT_EQ(c.reads, 1);
    }
}

TEST(Mn128Sim, RestartRefusesConnectionsForThePauseThenKeepsOrDropsTheCall) {
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "keep" : "drop");
        // Router seconds of 50 ms: the clock and the counters visibly run on during the pause.
        SimProcess sim({"--tick-ms", "50", "--autocut", "0"});
        std::string before;
        int64_t t0 = 0;
        {
            Client c(sim.port());
            c.Login();
            ASSERT_EQ(sim.Command("up 1"), "ok");
            before = Status(c);
            c.Exchange("sys kcode euc");  // the new session must start in the --kcode one
            t0 = NowMs();
            ASSERT_EQ(sim.Command(keep ? "restart 1 keep" : "restart 1"), "ok");
            c.ReadUntil("never", 1000);
            EXPECT_TRUE(c.closed);
        }
        EXPECT_NE(sim.Command("state").find("listening=0"), std::string::npos);
        std::unique_ptr<Client> c;
        while (NowMs() - t0 < 3000) {
            c = std::make_unique<Client>(sim.port());
            if (c->ok()) break;
            ASSERT_EQ(c->connectError, ECONNREFUSED);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(c->ok());
        EXPECT_GE(NowMs() - t0, 950);
        c->Login();
        EXPECT_NE(sim.Command("state").find("login=1 encoding=sjis"), std::string::npos);
        const std::string after = Status(*c);
        if (keep) {
            EXPECT_EQ(Field(after, 1, "接続モード"), "端末型");
            EXPECT_EQ(Field(after, 1, "接続時刻"), Field(before, 1, "接続時刻"));
            EXPECT_GT(Field(after, 1, "経過時間"), Field(before, 1, "経過時間"));
            EXPECT_GT(Field(after, 1, "自動切断時間"), Field(before, 1, "自動切断時間"));
        } else {
            EXPECT_EQ(Field(after, 1, "接続モード"), "未接続");
        }
        std::string notes;
        for (const auto& e : sim.Transcript())
            if (e.kind == "note") notes += e.bytes + "\n";
        EXPECT_NE(notes.find("restart: "), std::string::npos) << notes;
        EXPECT_NE(notes.find(" again\n"), std::string::npos) << notes;
    }
}

TEST(Mn128Sim, SilentRouterReadsButNeverAnswersEvenLater) {
    SimProcess sim;
    Client c(sim.port());
    c.Login();
    ASSERT_EQ(sim.Command("silent on"), "ok");
    c.Send("show time" + kNl);
    EXPECT_EQ(c.ReadUntil(kPrompt, 300), "");
    EXPECT_TRUE(sim.WaitReceived("show time" + kNl));
    EXPECT_FALSE(c.closed);
    ASSERT_EQ(sim.Command("silent off"), "ok");
    EXPECT_EQ(c.ReadUntil("never", 300), "");  // the dropped reply stays dropped
    EXPECT_NE(c.Exchange("show time").find("Date/Time"), std::string::npos);

    // Silent from the start: the connection is taken, not even the greeting comes.
    SimProcess mute({"--silent"});
    Client m(mute.port());
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.ReadUntil("never", 300), "");
    EXPECT_FALSE(m.closed);
}

TEST(Mn128Sim, SlowRepliesAndTrickledOutput) {
    struct Case {
        Fault setup;
        std::string off;
        int64_t minMs, maxMs;
        size_t maxWrite;  // 0: not cut
    };
    // 1512 bytes at 3000 bytes/s in writes of 300: 5 waits of 100 ms after the first write.
    for (const Case& k : {Case{{{"--slow", "150"}, {}}, "slow 0", 140, 1500, 0},
                          Case{{{}, {"slow 150"}}, "slow 0", 140, 1500, 0},
                          Case{{{"--rate", "3000"}, {"big 1500"}}, "rate 0", 400, 1500, 300},
                          Case{{{}, {"rate 3000", "big 1500"}}, "rate 0", 400, 1500, 300}}) {
        SCOPED_TRACE(k.off + (k.setup.args.empty() ? " (control)" : " (option)"));
        std::vector<std::string> args = k.setup.args;
        args.insert(args.end(), {"--tick-ms", "60000"});
        SimProcess sim(args);
        Client c(sim.port());
        c.Login();
        for (const auto& line : k.setup.controls) ASSERT_EQ(sim.Command(line), "ok");
        // Two lines at once: both replies come, in order.
        int64_t t0 = NowMs();
        c.Send("show status" + kNl + kNl);
        std::string r = c.ReadUntil(kPrompt + kNl + kPrompt, 3000);
        const int64_t took = NowMs() - t0;
        EXPECT_GE(took, k.minMs);
        EXPECT_LE(took, k.maxMs);
        EXPECT_NE(cp932::DecodeToUtf8(r).find("回線種別:ISDN"), std::string::npos);
        EXPECT_EQ(r.substr(r.size() - 2 * kPrompt.size() - 2), kPrompt + kNl + kPrompt);
        if (k.maxWrite != 0) {
            EXPECT_EQ(r.size(), 1500 + kPrompt.size() + 2 + kPrompt.size());
            const auto sends = SendsSince(sim, "recv");
            EXPECT_GE(sends.size(), 6u);
            for (const auto& b : sends) EXPECT_LE(b.size(), k.maxWrite);
        }
        ASSERT_EQ(sim.Command(k.off), "ok");
        EXPECT_NE(sim.Command("state").find("slow=0 rate=0"), std::string::npos);
        t0 = NowMs();
        c.Exchange("show status");
        EXPECT_LT(NowMs() - t0, 250);
    }
}

}  // namespace
}  // namespace kv::test
