// SPDX-License-Identifier: GPL-3.0-or-later
// mn128sim: a stand-in for the ISDN router's telnet console, for tests, benchmarks and demos.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/mn128sim/router.h"
#include "tools/mn128sim/server.h"
#include "common/licence.h"

namespace {

const char* const kHelp = R"(Usage: mn128sim [options]

A router console simulator: plain TCP, no telnet negotiation, one session at a time (a second
connection is accepted and closed at once). Lines from the client may end with LF, CR, CR LF or
LF CR; the console ends its own lines with LF CR.

Options:
  --listen ADDR:PORT   listen there (default 127.0.0.1:2323; PORT 0 picks a free port).
                       Prints "listening ADDR:PORT" on stdout once it listens.
  --allow-remote       allow a non-loopback listen address
  --name NAME          router name in the banner and prompt (default MN128-SOHO; a client
                       that checks for "Welcome to MN128-SOHO" needs a name starting so)
  --password PW        login password (default none: "user" alone logs in)
  --kcode CODE         console encoding until "sys kcode sjis": sjis (default), euc, utf8
  --dial-ms MS         dialling delay of "connect" and automatic calls (default 1500)
  --autocut SECONDS    the router hangs up a line idle this long (default 180, 0 = never)
  --auto on|off        automatic calling at start (default on)
  --tick-ms MS         length of one router second (default 1000; smaller = faster time)
  --clock "yyyy/mm/dd hh:mm:ss"   router clock at start (default: the local time)
  --prompt-split GAPMS every prompt in two writes, "% " GAPMS after the rest ("prompt split")
  --login-bytes GAPMS  one byte per write, GAPMS apart, until the login ("login-bytes on")
  --slow MS            every reply MS late ("slow")
  --rate BYTES         output at BYTES per second ("rate")
  --silent             start silent: connections are taken but nothing is sent ("silent on")
  --echo               echo every byte received, the password too, before the reply
                       ("echo on")
  --transcript FILE    record every byte received and sent (format below)
  --script FILE        timed control lines: "at SECONDS command", optional "repeat SECONDS"
  --demo               the demo timeline below (implies --verbose, --autocut 90)
  --detach             do not read control lines from stdin; run until SIGTERM/SIGINT
  --verbose            router events on stderr
  --version            print the version and end
  --help               this text

Console dialogue (what the client sees):
  on connect           LF CR "ISDN router console" LF CR
  empty line           LF CR "login: "                 (before login)
  user [CR LF pw]      "Password: " when a password is set; then
                       LF CR "Welcome to NAME!" LF CR LF CR "NAME% ";
                       a wrong name or password: "Login incorrect" and "login: " (no "%")
  Every reply after the login ends with the prompt "NAME% ", and the name appears nowhere
  earlier in a reply, so a client may take the name as the end of the reply.
  sys kcode sjis|euc   switch the console encoding
  sys time yyyy/mm/dd-hh:mm   set the router clock (seconds 00)
  show time            LF CR "Date/Time yyyy/mm/dd hh:mm:ss" LF CR prompt: the time stands at
                       characters 24..31 (from 1) of the reply, when it arrives in one read
  show status          "回線種別:ISDN", then "B1チャネル:" and "B2チャネル:" blocks with
                       接続モード [端末型|発信中|未接続], 接続時刻 [yyyy/mm/dd hh:mm:ss],
                       相手先電話番号, 割り当てIPアドレス, 回線使用率,
                       自動切断時間 [idle/limit], 経過時間 [hh:mm:ss]
  connect N            dials destination N on the first free channel; up after --dial-ms
  disconnect bN        a "Bnチャネル 切断中" line, report lines, then the prompt
  remote N call auto on|off   automatic calling: while on, traffic makes it dial N
  quit | exit | logout close the session

Control lines (stdin, one per line; each answered on stdout by "ok ..." or "error <text>"):
  state                       ok connected= login= encoding= auto= traffic= b1= b2= idle1=
                              idle2= clock=yyyy/mm/dd hh:mm:ss prompt=whole|split
                              loginbytes=on|off silent=on|off slow=MS rate=BYTES listening=0|1
  up [1|2]                    the line comes up on the channel at once (default 1)
  hangup [1|2]                the peer hangs up (default: every channel in use)
  traffic on|off              on: idle counters stay 0 (and automatic calling dials);
                              off: idle counters rise each router second
  idle [1|2] SECONDS          set the idle counter of connected channels
  auto on|off                 the router's automatic calling
  close                       the router closes the console connection
  restart SECONDS [keep|drop] the router restarts: it closes the session and stops listening,
                              so connections are refused for SECONDS; then it listens again
                              on the same address and port, and a new session starts logged
                              out, in the --kcode encoding. keep: channels that are up stay up
                              (same connect time, counters running on); drop (default): every
                              channel goes down. Calls being dialled are lost either way; the
                              router clock runs on. Noted in the transcript ("restart: ...",
                              then "listening ADDR:PORT again")
  echo on|off                 on: every byte received is sent back at once, as a terminal
                              echoes what is typed (the password too)
  silent on|off               on: the router stops answering but keeps the connection: what the
                              client sends is read and recorded, nothing at all is sent, and
                              replies to lines received meanwhile are dropped, never sent
                              later; output queued before "on" waits for "off"
  stall MS                    the next output is held back MS milliseconds
  segment N [GAPMS]           send output in pieces of N bytes, GAPMS apart (default 30;
                              N 0 = whole); pieces may cut a two-byte character
  prompt split [GAPMS]        every prompt "NAME% " (the login's too) in two writes: the reply
                              up to and with NAME, then "% " GAPMS later (default 30)
  prompt whole                the prompt goes out with its reply again
  login-bytes on [GAPMS]      until the client has logged in, all output one byte per write,
                              GAPMS apart (default 5), the reply that logs in included; after
                              the login output is whole again (or as "segment" says)
  login-bytes off             output before the login as after it
  slow MS                     every reply goes out MS late, order kept (a lasting "stall",
                              added to it); slow 0 ends it
  rate BYTES                  output trickles at BYTES per second, in writes of at most
                              BYTES/10 bytes (at least 1) evenly paced; rate 0 ends it
  big N                       pad the next status report to N bytes, the prompt following
                              (padding after the 回線種別 line: lines of two-byte characters)
  garbage N                   send N bytes of line noise now (control and high bytes only)
  encoding sjis|euc|utf8      switch the console encoding now
  clock yyyy/mm/dd hh:mm:ss   set the router clock
  tick MS                     length of one router second from now on
  dial-ms MS | autocut S      as the options
  quit                        exit (also on stdin end-of-file, SIGTERM, SIGINT)

Transcript (--transcript): one line per event, "MS KIND PAYLOAD", MS = milliseconds since the
simulator started (monotonic). KIND: recv (bytes from the client, written before they are
answered), send (one write: a reply, or a piece of one, written just before it goes out),
conn (client address), close (who closed), note (events, script lines, restarts, silence and
the replies it dropped). PAYLOAD keeps the exact bytes: printable ASCII as is, backslash as
"\\", every other byte as "\xHH".

Reading the clock: with "segment" (or a reply still arriving when the next command is sent)
the "show time" reply reaches the client in pieces, and a client that counts characters
across reads will not find the time at character 24; that is the point of the option.

Demo timeline (--demo), repeating every 150 seconds (script form). The call is the router's
automatic call, so with automatic calling switched off (remote N call auto off) the line stays
down until the client connects; the router hangs up after 90 idle seconds.
)";

bool TakeValue(int argc, char** argv, int& i, std::string& out) {
    if (i + 1 >= argc) {
        std::fprintf(stderr, "mn128sim: %s needs a value\n", argv[i]);
        return false;
    }
    out = argv[++i];
    return true;
}

bool ToInt(const std::string& text, long lo, long hi, int& out) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace mn128sim;
    ServerOptions options;
    RouterConfig config;
    bool autocutGiven = false;
    std::string clockText;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        auto bad = [&](const char* what) {
            std::fprintf(stderr, "mn128sim: %s: %s\n", arg.c_str(), what);
            return 2;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            std::fputs(kDemoScript, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("mn128sim %s\n%s", KV_PROJECT_VERSION, kv::kLicenceNotice);
            return 0;
        } else if (arg == "--listen") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            auto colon = value.rfind(':');
            int port = 0;
            if (colon == std::string::npos || !ToInt(value.substr(colon + 1), 0, 65535, port))
                return bad("expected ADDR:PORT");
            options.listenAddress = value.substr(0, colon);
            options.listenPort = static_cast<uint16_t>(port);
        } else if (arg == "--allow-remote") {
            options.allowRemote = true;
        } else if (arg == "--name") {
            if (!TakeValue(argc, argv, i, config.name)) return 2;
            if (config.name.empty() || config.name.find('!') != std::string::npos)
                return bad("a non-empty name without '!'");
        } else if (arg == "--password") {
            if (!TakeValue(argc, argv, i, config.password)) return 2;
        } else if (arg == "--kcode") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (!ParseEncoding(value, config.startEncoding)) return bad("sjis, euc or utf8");
        } else if (arg == "--dial-ms") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (!ToInt(value, 0, 600000, config.dialMs)) return bad("0..600000");
        } else if (arg == "--autocut") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (!ToInt(value, 0, 99999, config.autoCutLimit)) return bad("0..99999");
            autocutGiven = true;
        } else if (arg == "--auto") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (value != "on" && value != "off") return bad("on or off");
            config.autoCall = value == "on";
        } else if (arg == "--tick-ms") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (!ToInt(value, 1, 60000, options.tickMs)) return bad("1..60000");
        } else if (arg == "--clock") {
            if (!TakeValue(argc, argv, i, clockText)) return 2;
            int64_t c = 0;
            if (!ParseClock(clockText, ' ', true, c)) return bad("yyyy/mm/dd hh:mm:ss");
        } else if (arg == "--prompt-split") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (!ToInt(value, 0, 60000, options.promptGapMs)) return bad("0..60000");
            options.promptSplit = true;
        } else if (arg == "--login-bytes") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (!ToInt(value, 0, 60000, options.loginBytesGapMs)) return bad("0..60000");
            options.loginBytes = true;
        } else if (arg == "--slow") {
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (!ToInt(value, 0, 600000, options.slowMs)) return bad("0..600000");
        } else if (arg == "--rate") {
            int rate = 0;
            if (!TakeValue(argc, argv, i, value)) return 2;
            if (!ToInt(value, 0, 100000000, rate)) return bad("0..100000000");
            options.rate = rate;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--echo") {
            options.echo = true;
        } else if (arg == "--transcript") {
            if (!TakeValue(argc, argv, i, options.transcriptPath)) return 2;
        } else if (arg == "--script") {
            if (!TakeValue(argc, argv, i, options.scriptPath)) return 2;
        } else if (arg == "--demo") {
            options.demo = true;
            options.verbose = true;
        } else if (arg == "--detach") {
            options.detach = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            std::fprintf(stderr, "mn128sim: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        }
    }
    if (options.demo && !autocutGiven) config.autoCutLimit = 90;
    Server server(options, config);
    if (!clockText.empty()) server.Control("clock " + clockText);
    return server.Run();
}
