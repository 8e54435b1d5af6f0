// SPDX-License-Identifier: GPL-3.0-or-later
// Golden transcripts: whole scripted runs of the program on the fakes, compared with transcripts
// recorded earlier, twice over. tests/data/golden/<name>.txt holds every side effect in the
// order it happened (trace lines, bytes on the wire, windows, boxes, timers, pumps, settings
// writes, programs started); golden/observable/<name>.txt holds only what a user or the router
// could see, which a rewrite of the program's insides must keep. Both end with the data files.
// A change of behaviour shows up as a diff; a deliberate one records the transcripts anew
// (KV_UPDATE_GOLDEN=1) in a commit of its own that says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/context.h"
#include "app/startup.h"
#include "app/tray.h"
#include "app/tray_menu.h"
#include "common/cp932.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/scripted_transport.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

std::string Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else if (b < 0x20 || b == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else
            out += c;
    }
    return out;
}

std::string Quoted(std::string_view text) {
    return "\"" + Escape(text) + "\"";
}
std::string Wire(std::string_view bytes) {
    return Quoted(cp932::DecodeToUtf8(bytes));
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Two transcripts of one run. The internal one holds every line in order, trace lines written
// since the last event first: it follows the program's insides and changes with them. The
// observable one holds only what a user or the router could see, so a rewrite of the insides
// must leave it as it is. The window's figures are not events there but samples, one a
// simulated second at the half second (so a change due on a whole second is never a race with
// the sample), printed when a figure changed. Taken here as events come rather than by a timer
// of the loop, so that sampling puts no events in the way of the program's own waits.
class Transcript {
  public:
    Transcript(FakeEventLoop& loop, std::string dir) : loop_(loop), dir_(std::move(dir)) {}

    void Add(const std::string& event) { Log(event, nullptr); }
    void Seen(const std::string& event) { Log(event, &event); }
    // The observable line may say less than the internal one.
    void Seen(const std::string& event, const std::string& observable) { Log(event, &observable); }
    void Note(const std::string& text) {
        DrainTrace();
        SampleBefore(loop_.MonotonicMs());
        Push(internal_, "---- " + text);
        Push(observable_, Stamp(loop_.MonotonicMs()) + "---- " + text);
    }
    // A step of the test's own (start, advance, end): when the program reacts to it is what
    // the observable transcript shows, by the time of each event.
    void Step(const std::string& text) {
        DrainTrace();
        Push(internal_, "---- " + text);
    }
    // A figure of the window as it stands from now on.
    void Figure(const std::string& name, const std::string& value) {
        SampleBefore(loop_.MonotonicMs());
        figures_[name] = value;
    }
    // Another program run's window: it starts blank.
    void NewWindow() {
        SampleBefore(loop_.MonotonicMs() + 1);
        figures_.clear();
        sampled_.clear();
    }
    void DrainTrace() {
        const std::string bytes = ReadFile(dir_ + "/Kestrovan.dbg");
        if (bytes.size() <= traceRead_) return;
        size_t p = traceRead_;
        for (size_t e; (e = bytes.find("\r\n", p)) != std::string::npos; p = e + 2)
            Push(internal_, "            trace " + cp932::DecodeToUtf8(bytes.substr(p, e - p)));
        traceRead_ = p;
    }
    std::string Internal() {
        DrainTrace();
        return internal_;
    }
    std::string Observable() {
        SampleBefore(loop_.MonotonicMs() + 1);
        return observable_;
    }

  private:
    void Log(const std::string& event, const std::string* observable) {
        DrainTrace();
        const int64_t now = loop_.MonotonicMs();
        SampleBefore(now);
        Push(internal_, Stamp(now) + event);
        if (observable) Push(observable_, Stamp(now) + *observable);
    }
    static std::string Stamp(int64_t ms) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%9.3f] ", static_cast<double>(ms) / 1000);
        return stamp;
    }
    // The samples due before limitMs; the window as it was then is the window as it is now,
    // since every change of it comes through Figure.
    void SampleBefore(int64_t limitMs) {
        while (nextSampleMs_ < limitMs) {
            if (figures_ == sampled_) {
                nextSampleMs_ = std::max(nextSampleMs_, (limitMs + 499) / 1000 * 1000 + 500);
                return;
            }
            std::string line = Stamp(nextSampleMs_) + "window";
            for (const auto& [name, value] : figures_)
                if (auto it = sampled_.find(name); it == sampled_.end() || it->second != value)
                    line += " " + name + "=" + value;
            Push(observable_, line);
            sampled_ = figures_;
            nextSampleMs_ += 1000;
        }
    }
    void Push(std::string& text, std::string line) {
        for (size_t p; (p = line.find(dir_)) != std::string::npos;)
            line.replace(p, dir_.size(), "<dir>");
        text += line + "\n";
    }
    FakeEventLoop& loop_;
    std::string dir_;
    size_t traceRead_ = 0;
    std::string internal_, observable_;
    std::map<std::string, std::string> figures_, sampled_;
    int64_t nextSampleMs_ = 500;
};

// ---- the ports, each telling the transcript what it is asked to do --------------------------

const char* IconName(MsgIcon i) {
    switch (i) {
        case MsgIcon::None: return "none";
        case MsgIcon::Information: return "information";
        case MsgIcon::Exclamation: return "exclamation";
        case MsgIcon::Critical: return "critical";
        case MsgIcon::Question: return "question";
    }
    return "?";
}

const char* MenuName(MenuItem m) {
    switch (m) {
        case MenuItem::MainCutBrk: return "MainCutBrk";
        case MenuItem::TrayCutBrk: return "TrayCutBrk";
        case MenuItem::TrayRight3: return "TrayRight3";
        case MenuItem::MainWinend: return "MainWinend";
    }
    return "?";
}

class LoggedView : public RecordingView {
  public:
    explicit LoggedView(Transcript& t) : t_(t) {}
    void SetLcdText(int lcd, const std::string& text) override {
        t_.Add("view.lcd" + std::to_string(lcd) + " " + Quoted(text));
        t_.Figure("lcd" + std::to_string(lcd), Quoted(text));
        RecordingView::SetLcdText(lcd, text);
        if (onLcdText) onLcdText(lcd, text);
    }
    void SetLcdColour(int lcd, uint32_t colour) override {
        t_.Add("view.lcd" + std::to_string(lcd) + ".colour " + std::to_string(colour));
        t_.Figure("lcd" + std::to_string(lcd) + ".colour", std::to_string(colour));
        RecordingView::SetLcdColour(lcd, colour);
    }
    void SetFiguresLive(bool live) override {
        t_.Add(std::string("view.live ") + (live ? "1" : "0"));
        t_.Figure("live", live ? "1" : "0");
        RecordingView::SetFiguresLive(live);
    }
    void SetLabelCaption(int label, const std::string& text) override {
        t_.Add("view.label" + std::to_string(label) + " " + Quoted(text));
        t_.Figure("label" + std::to_string(label), Quoted(text));
        RecordingView::SetLabelCaption(label, text);
    }
    void SetWindowCaption(const std::string& text) override {
        t_.Add("view.caption " + Quoted(text));
        t_.Figure("caption", Quoted(text));
        RecordingView::SetWindowCaption(text);
    }
    void SetStatusText(const std::string& text) override {
        t_.Seen("view.status " + Quoted(text));
        RecordingView::SetStatusText(text);
    }
    void ShowMainWindow(bool restoreNormal) override {
        t_.Seen(std::string("view.show") + (restoreNormal ? " normal" : ""));
        RecordingView::ShowMainWindow(restoreNormal);
    }
    void HideMainWindow() override {
        t_.Seen("view.hide");
        RecordingView::HideMainWindow();
    }
    void MinimizeMainWindow() override {
        t_.Seen("view.minimize");
        RecordingView::MinimizeMainWindow();
    }
    void SetTopmost(bool on) override {
        t_.Seen(std::string("view.topmost ") + (on ? "on" : "off"));
        RecordingView::SetTopmost(on);
    }
    void SetMenuChecked(MenuItem item, bool checked) override {
        t_.Add(std::string("view.menu ") + MenuName(item) + (checked ? " checked" : " unchecked"));
        t_.Figure(std::string("menu.") + MenuName(item), checked ? "checked" : "unchecked");
        RecordingView::SetMenuChecked(item, checked);
    }
    void SetCheckBox(CheckBox box, int value) override {
        const std::string name = box == CheckBox::ChkAutoMode ? "ChkAutoMode" : "ChkTopDsp";
        t_.Add("view.checkbox " + name + " " + std::to_string(value));
        t_.Figure("checkbox." + name, std::to_string(value));
        RecordingView::SetCheckBox(box, value);
    }
    void ShowCheckBox(CheckBox box, int value) override {
        const std::string name = box == CheckBox::ChkAutoMode ? "ChkAutoMode" : "ChkTopDsp";
        t_.Add("view.checkbox " + name + " " + std::to_string(value));
        t_.Figure("checkbox." + name, std::to_string(value));
        RecordingView::ShowCheckBox(box, value);
    }
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override {
        t_.Seen("view.box title=" + Quoted(title) + " icon=" + IconName(icon) +
                " buttons=" + std::to_string(static_cast<int>(buttons)) + " " + Quoted(text));
        return RecordingView::MessageBox(text, title, icon, buttons);
    }
    void ShowNotice(const std::string& text, std::function<void()> silenced) override {
        t_.Seen("view.notice " + Quoted(text));
        RecordingView::ShowNotice(text, std::move(silenced));
    }
    void ShowMessageWindow() override {
        t_.Seen("view.msgwindow show");
        RecordingView::ShowMessageWindow();
    }
    void CloseMessageWindow() override {
        t_.Seen("view.msgwindow close");
        RecordingView::CloseMessageWindow();
    }
    void SetMessageText(const std::string& text) override {
        t_.Seen("view.msgwindow text " + Quoted(text));
        RecordingView::SetMessageText(text);
    }
    // A scenario's cue: something that happens the moment the window shows a text.
    std::function<void(int lcd, const std::string& text)> onLcdText;

  private:
    Transcript& t_;
};

class LoggedTransport : public ScriptedTransport {
  public:
    LoggedTransport(FakeEventLoop& loop, Transcript& t) : ScriptedTransport(loop), t_(t) {}
    int Create() override {
        const int r = ScriptedTransport::Create();
        t_.Add("net.create -> " + std::to_string(r));
        return r;
    }
    int Connect(const std::string& ipv4, uint16_t port) override {
        const int r = ScriptedTransport::Connect(ipv4, port);
        open_ = r == 0;
        t_.Seen("net.connect " + ipv4 + ":" + std::to_string(port) + " -> " + std::to_string(r));
        return r;
    }
    int Send(const char* data, int len) override {
        const int r = ScriptedTransport::Send(data, len);
        const std::string line = "net.send " +
                                 Wire(std::string_view(data, static_cast<size_t>(len))) + " -> " +
                                 std::to_string(r) + Error(r);
        // The router sees only the bytes taken.
        if (r > 0)
            t_.Seen(line, "net.send " + Wire(std::string_view(data, static_cast<size_t>(r))));
        else
            t_.Add(line);
        return r;
    }
    int Recv(char* buffer, int len) override {
        const int r = ScriptedTransport::Recv(buffer, len);
        t_.Add("net.recv -> " + std::to_string(r) + Error(r) +
               (r > 0 ? " " + Wire(std::string_view(buffer, static_cast<size_t>(r))) : ""));
        return r;
    }
    // A connection ends once for the router, however often the program closes it.
    void Close() override {
        if (open_)
            t_.Seen("net.close");
        else
            t_.Add("net.close");
        open_ = false;
        ScriptedTransport::Close();
    }
    void SetNotifications(bool readEvents) override {
        t_.Add(std::string("net.notify ") + (readEvents ? "read+close" : "close"));
        ScriptedTransport::SetNotifications(readEvents);
    }
    void SetNotifyHandler(std::function<void()> handler) override {
        t_.Add("net.handler");
        ScriptedTransport::SetNotifyHandler(std::move(handler));
    }

  private:
    std::string Error(int r) const { return r < 0 ? " err " + std::to_string(LastError()) : ""; }
    Transcript& t_;
    bool open_ = false;
};

class LoggedTimer : public Timer {
  public:
    LoggedTimer(const char* name, FakeEventLoop& loop, Transcript& t)
        : name_(name), inner_(loop.MakeTimer()), t_(t) {}
    void SetInterval(int ms) override {
        t_.Add(name_ + ".interval " + std::to_string(ms));
        inner_->SetInterval(ms);
    }
    int Interval() const override { return inner_->Interval(); }
    void SetEnabled(bool on) override {
        t_.Add(name_ + (on ? ".on" : ".off"));
        inner_->SetEnabled(on);
    }
    bool Enabled() const override { return inner_->Enabled(); }
    void SetHandler(std::function<void()> tick) override {
        inner_->SetHandler([this, tick = std::move(tick)] {
            t_.Add(name_ + ".tick");
            tick();
        });
    }

  private:
    std::string name_;
    std::unique_ptr<FakeTimer> inner_;
    Transcript& t_;
};

// The timers the program makes as it needs them (a reply's attempt, a message's time), named
// by the order in which they were made.
class LoggedTimers : public TimerFactory {
  public:
    LoggedTimers(FakeEventLoop& loop, Transcript& t) : loop_(loop), t_(t) {}
    std::unique_ptr<Timer> NewTimer() override {
        names_.push_back("timer" + std::to_string(names_.size() + 1));
        return std::make_unique<LoggedTimer>(names_.back().c_str(), loop_, t_);
    }

  private:
    FakeEventLoop& loop_;
    Transcript& t_;
    std::vector<std::string> names_;
};

class LoggedStore : public MemorySettingsStore {
  public:
    explicit LoggedStore(Transcript& t) : t_(t) {}
    bool Write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override {
        if (logging)
            t_.Seen("store.write " + application + "\\" + section + "\\" + key + " = " +
                    Quoted(value));
        return MemorySettingsStore::Write(application, section, key, value);
    }
    bool DeleteAppKey(const std::string& application, const std::string& appKey) override {
        t_.Seen("store.delete " + application + "\\" + appKey);
        return MemorySettingsStore::DeleteAppKey(application, appKey);
    }
    bool logging = false;

  private:
    Transcript& t_;
};

class LoggedRunner : public FakeRunner {
  public:
    explicit LoggedRunner(Transcript& t) : t_(t) {}
    int64_t Start(const std::string& path, std::string& error) override {
        const int64_t h = FakeRunner::Start(path, error);
        t_.Seen("runner.start " + Quoted(path) + " -> " + std::to_string(h));
        return h;
    }
    void Terminate(int64_t handle) override {
        t_.Seen("runner.terminate " + std::to_string(handle));
        FakeRunner::Terminate(handle);
    }

  private:
    Transcript& t_;
};

class LoggedShell : public Shell {
  public:
    explicit LoggedShell(Transcript& t) : t_(t) {}
    bool Open(const std::string& target) override {
        t_.Seen("shell.open " + Quoted(target));
        return true;
    }

  private:
    Transcript& t_;
};

class LoggedExit : public ProgramExit {
  public:
    explicit LoggedExit(Transcript& t) : t_(t) {}
    [[noreturn]] void Exit(int code) override {
        t_.Seen("exit " + std::to_string(code));
        throw ProgramEnded{code};
    }

  private:
    Transcript& t_;
};

class LoggedTray : public TrayIconPort {
  public:
    explicit LoggedTray(Transcript& t) : t_(t) {}
    bool Available() override { return true; }
    void Add(const std::string& tip) override { t_.Seen("tray.add " + Quoted(tip)); }
    void Remove() override { t_.Seen("tray.remove"); }
    void SetTip(const std::string& tip) override { t_.Seen("tray.tip " + Quoted(tip)); }

  private:
    Transcript& t_;
};

class LoggedNotifier : public NotifierPort {
  public:
    explicit LoggedNotifier(Transcript& t) : t_(t) {}
    void Notify(const std::string& text) override { t_.Seen("notify " + Quoted(text)); }

  private:
    Transcript& t_;
};

// ---- the router -------------------------------------------------------------------------

const std::string kPrompt = "\n\rMN128-SOHO% ";

// A router console written from its contract: its clock runs 5 seconds behind the computer's,
// a channel comes up when dialled (or when the scenario says so) and goes down when cut.
class Router {
  public:
    explicit Router(FakeEventLoop& loop) : loop_(loop) {}

    struct Channel {
        bool up = false;
        std::string connectTime;  // the router's clock
        int64_t trafficUntilMs = 0;
    };

    // The router's time now, and as text.
    LocalTime Clock(int64_t offsetMs = 0) const {
        const LocalTime now = loop_.Now();
        int64_t secs = now.time.Seconds() - 5 + offsetMs / 1000;
        int32_t serial = DateToSerial(now.date);
        while (secs < 0) secs += 86400, --serial;
        while (secs >= 86400) secs -= 86400, ++serial;
        return LocalTime{SerialToDate(serial), TimeOfDay::FromSeconds(static_cast<int32_t>(secs))};
    }
    static std::string Text(const LocalTime& t) {
        return FormatDate(t.date) + " " + FormatTime(t.time);
    }

    // Brings channel ch up now, connected `agoSecs` ago by the router's clock, with traffic for
    // `trafficSecs` more seconds.
    void Up(int ch, int agoSecs = 0, int trafficSecs = 5) {
        ch_[ch].up = true;
        ch_[ch].connectTime = Text(Clock(-int64_t{agoSecs} * 1000));
        ch_[ch].trafficUntilMs = loop_.MonotonicMs() + int64_t{trafficSecs} * 1000;
    }
    void Down(int ch) { ch_[ch] = Channel{}; }
    bool IsUp(int ch) const { return ch_[ch].up; }

    std::optional<std::string> Reply(const std::string& line) {
        if (stalled) return std::nullopt;
        if (line.empty()) return std::string("\n\rlogin: ");
        if (line.rfind("user", 0) == 0) return "\n\rWelcome to MN128-SOHO!\n\r" + kPrompt;
        if (line == "sys kcode sjis" || line.rfind("sys time ", 0) == 0) return kPrompt;
        if (line == "show time") {
            const LocalTime t = Clock();
            return "\n\r" + FormatDate(t.date) + "(Mon) now: " + FormatTime(t.time) + kPrompt;
        }
        if (line == "show status") return Status();
        if (line.rfind("connect ", 0) == 0) {
            if (ignoreConnect) return std::nullopt;
            loop_.After(2000, [this] { Up(1, 0, 6); });
            return "\n\r発呼します" + kPrompt;
        }
        if (line.rfind("disconnect b", 0) == 0) {
            const int ch = line.size() > 12 ? line[12] - '0' : 1;
            if (ch == 1 || ch == 2) Down(ch);
            return "\n\r切断中です\n\rB" + std::to_string(ch) + "を切断しました\n\r" + kPrompt;
        }
        if (line.rfind("remote ", 0) == 0) return kPrompt;
        return "\n\runknown command" + kPrompt;
    }

    bool stalled = false;
    bool ignoreConnect = false;
    // Commands answered this many ms late, the reply as it was when the command came.
    std::map<std::string, int64_t> late;

  private:
    std::string Block(int ch) const {
        std::string b = "B" + std::to_string(ch) + "チャネル:\n\r";
        const Channel& c = ch_[ch];
        if (!c.up) return b + "  接続モード         [未接続]\n\r";
        const int64_t idleMs = loop_.MonotonicMs() - c.trafficUntilMs;
        const int64_t idle = idleMs > 0 ? idleMs / 1000 : 0;
        return b + "  接続モード         [端末型]\n\r" + "  相手先電話番号     [0311112222]\n\r" +
               "  接続時刻           [" + c.connectTime + "]\n\r" +
               "  割り当てIPアドレス [192.0.2." + std::to_string(ch) + "]\n\r" +
               "  回線使用率         [ " + (idle > 0 ? "0" : "37") + "%]\n\r" +
               "  自動切断時間       [ " + std::to_string(idle) + "/180]\n\r" +
               "  経過時間           [00:00:00]\n\r";
    }
    std::string Status() const { return "\n\r回線種別:ISDN\n\r" + Block(1) + Block(2) + kPrompt; }

    FakeEventLoop& loop_;
    Channel ch_[3];
};

// ---- a program run and the world around it ------------------------------------------------

// What outlives one run of the program: time, the settings, the folder, the router.
struct World {
    explicit World(LocalTime start)
        : loop(start), dir(MakeTempDir()), t(loop, dir), store(t), router(loop) {
        Configure({});
    }
    ~World() { RemoveTree(dir); }

    // A typical installation with short units, so a transcript stays short; `changes` last.
    void Configure(const std::vector<std::pair<std::string, std::string>>& changes) {
        const std::vector<std::pair<std::string, std::string>> base = {
            {"sohoip", "127.0.0.1"}, {"seca", "30"},       {"secb", "45"},     {"secc", "60"},
            {"ctanni", "10"},        {"cnctno", "1"},      {"atcuttm", "10"},  {"atcutmode", "1"},
            {"atcutdly", "3"},       {"telstday", "1"},    {"teldiscnt", "0"}, {"teleho", "0"},
            {"sohoint", "2000"},     {"soho2int", "3000"}, {"dspint", "1000"}, {"dsptop", "0"},
            {"dsptrans", "0"},       {"dspinfo", "1"},     {"linecut", "0"},   {"winmodes", "0"},
            {"winmodec", "1"},       {"winmodedc", "1"},   {"hvmode", "1"},    {"dosuumode", "0"},
            {"sohotime", "0"},       {"sohokcode", "0"},   {"debuglog", "1"},  {"sizehigh", "1"},
            {"rmtauto", "1"}};
        for (const auto& list : {base, changes})
            for (const auto& [k, v] : list) {
                if (k == "sizehigh" || k == "rmtauto")
                    SaveStringSetting(store, "Variant", k, v);
                else if (k == "sohowp")
                    SaveStringSetting(store, "Setup", k, *ScramblePassword(1, v));
                else
                    SaveStringSetting(store, "Setup", k, v);
            }
    }
    void WriteFile(const std::string& name, const std::string& utf8) {
        std::ofstream(dir + "/" + name, std::ios::binary) << cp932::EncodeFromUtf8(utf8);
    }

    // The data files as they are at the end, but the trace.
    std::string DataFiles() {
        std::string out;
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            if (n == "Kestrovan.dbg") continue;
            out += "==== " + n + "\n" + cp932::DecodeToUtf8(ReadFile(dir + "/" + n));
        }
        return out;
    }

    FakeEventLoop loop;
    std::string dir;
    Transcript t;
    LoggedStore store;
    Router router;
};

// One run of the program: its own ports and its own context on the world's time and settings.
struct ProgramRun {
    explicit ProgramRun(World& world)
        : w(world),
          timers(world.loop, world.t),
          tmrSOHO("tmrSOHO", world.loop, world.t),
          tmrDSP("tmrDSP", world.loop, world.t),
          Tmr1Sec("Tmr1Sec", world.loop, world.t),
          tmrRetry("tmrRetry", world.loop, world.t),
          view(world.t),
          transport(world.loop, world.t),
          runner(world.t),
          shell(world.t),
          exit(world.t),
          tray(world.t),
          notifier(world.t),
          cx(Ports{world.loop, timers, world.store, transport, tmrSOHO, tmrDSP, Tmr1Sec, tmrRetry,
                   view, runner, shell, exit}) {
        w.t.NewWindow();
        transport.Greeting("\n\rMN128-SOHO telnet console\n\r");
        transport.onLine = [this](const std::string& line) -> std::optional<std::string> {
            std::optional<std::string> reply = w.router.Reply(line);
            const auto late = w.router.late.find(line);
            if (!reply || late == w.router.late.end()) return reply;
            transport.Deliver(*reply, late->second);
            return std::nullopt;
        };
        runner.existing["/opt/tools/on-connect"] = true;
        cx.tray.SetPort(&tray);
        cx.notices.SetPort(&notifier);
        cx.link.SetConsolePort(2323);
        cx.hooks.ShowSetupDialog = [this] { w.t.Seen("hook.setup dialog"); };
        cx.hooks.ShowLogViewer = [this] { w.t.Seen("hook.log viewer"); };
        cx.hooks.SaveWindowPosition = [this] { w.t.Seen("hook.save window position"); };
        // A change the program makes to a check box runs its click handler, as on the window.
        view.onCheckBoxClick = [this](CheckBox box, int value) {
            if (box == CheckBox::ChkAutoMode)
                ChkAutoMode_Click(cx);
            else
                ChkTopDsp_Click(cx, value);
        };
        WireMainTimers(cx);
    }

    // Runs f; false when the program ended in it.
    template <typename F>
    bool Do(const std::string& what, F f) {
        w.t.Step(what);
        try {
            f();
        } catch (const ProgramEnded& e) {
            w.t.Note("program ended (" + std::to_string(e.code) + ")");
            ended = true;
            return false;
        }
        return true;
    }
    bool Start(const std::vector<std::string>& args) {
        w.store.logging = true;
        FormLoadSteps steps;
        steps.AnotherInstanceRunning = [this] {
            w.t.Add("step.instance check");
            return InstanceCheck{};
        };
        steps.RestoreWindowPosition = [this] { w.t.Seen("step.restore window position"); };
        steps.LoadTrayMenu = [this] { w.t.Add("step.load tray menu"); };
        // As a user sees it, the start is over once the login has ended.
        return Do("start " + BuildCommandLine(args), [&] {
            Form_Load(cx, args, w.dir, steps);
            w.loop.RunUntil([this] { return cx.link.LoggedIn() && !cx.link.ConsoleHeld(); },
                            kLongestLoginMs);
        });
    }
    // The end asked for, and the time it may take (a last hang-up's one attempt).
    template <typename F>
    bool Ends(const std::string& what, F f) {
        return Do(what, [&] {
            f();
            w.loop.Advance(kLongestEndMs);
        });
    }
    static constexpr int64_t kLongestLoginMs = 120000;
    static constexpr int64_t kLongestEndMs = 15000;
    bool Advance(int64_t ms) {
        return Do("advance " + std::to_string(ms) + " ms", [&] { w.loop.Advance(ms); });
    }
    // Runs f at simulated time atMs from now (inside whatever waits then).
    void At(int64_t inMs, const std::string& what, std::function<void()> f) {
        w.loop.After(inMs, [this, what, f = std::move(f)] {
            w.t.Note("user: " + what);
            f();
        });
    }
    bool End() {
        return Ends("menu 終了", [&] { mnuEnd_Click(cx); });
    }

    World& w;
    LoggedTimers timers;
    LoggedTimer tmrSOHO, tmrDSP, Tmr1Sec, tmrRetry;
    LoggedView view;
    LoggedTransport transport;
    LoggedRunner runner;
    LoggedShell shell;
    LoggedExit exit;
    LoggedTray tray;
    LoggedNotifier notifier;
    Context cx;
    bool ended = false;
};

// ---- comparison -------------------------------------------------------------------------

void Compare(const std::string& name, const std::string& got) {
    const std::string path = std::string(KV_TEST_DATA_DIR) + "/golden/" + name + ".txt";
    if (const char* u = std::getenv("KV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << got;
        return;
    }
    const std::string want = ReadFile(path);
    ASSERT_FALSE(want.empty()) << "no golden transcript " << path
                               << " (KV_UPDATE_GOLDEN=1 records it)";
    if (got == want) return;
    // Point at the first line that differs; the whole transcript goes beside the golden one.
    size_t line = 1, i = 0;
    for (; i < got.size() && i < want.size() && got[i] == want[i]; ++i)
        if (got[i] == '\n') ++line;
    auto lineAt = [](const std::string& s, size_t at) {
        const size_t b = s.rfind('\n', at == 0 ? 0 : at - 1);
        const size_t from = b == std::string::npos ? 0 : b + 1;
        return s.substr(from, s.find('\n', from) - from);
    };
    std::string flat = name;
    std::replace(flat.begin(), flat.end(), '/', '-');
    const std::string out = std::string(KV_BINARY_DIR) + "/golden-" + flat + ".txt";
    std::ofstream(out, std::ios::binary) << got;
    ADD_FAILURE() << name << ": differs from line " << line << "\n  golden: " << lineAt(want, i)
                  << "\n  now:    " << lineAt(got, i) << "\n  whole transcript: " << out;
}

// Both transcripts of the run, each with the data files.
void Check(World& w, const std::string& name) {
    const std::string files = w.DataFiles();
    Compare(name, w.t.Internal() + files);
    Compare("observable/" + name, w.t.Observable() + files);
}

const LocalTime kMorning{Date{2026, 12, 7}, TimeOfDay{10, 0, 0}};

// ---- scenarios ----------------------------------------------------------------------------

TEST(Golden, LoginWithEveryOptionalStep) {
    World w(kMorning);
    w.Configure({{"sohowp", "secret"},
                 {"sohokcode", "1"},
                 {"sohotime", "1"},
                 {"dsptop", "1"},
                 {"winmodes", "1"}});
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-debug"}));
    r.Advance(4500);
    r.End();
    EXPECT_TRUE(r.ended);
    Check(w, "login_every_step");
}

TEST(Golden, CallMeteredCutAutomaticallyAndLogged) {
    World w(kMorning);
    w.Configure({{"winmodec", "0"},
                 {"winmodedc", "0"},
                 {"runid", "/opt/tools/on-connect"},
                 {"runenab", "1"},
                 {"runstop", "1"},
                 {"runid3", "/opt/tools/missing"},
                 {"runenab3", "1"}});
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-DEBUG"}));
    w.loop.After(2500, [&] { w.router.Up(1, 0, 4); });
    r.Advance(45000);
    r.End();
    Check(w, "call_autocut");
}

TEST(Golden, CallTheRouterDropsIntoTheFlatRateWindow) {
    World w({Date{2026, 12, 7}, TimeOfDay{22, 59, 30}});
    w.Configure({{"teleho", "1"}, {"dosuumode", "1"}, {"atcutmode", "0"}});
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-DEBUG"}));
    w.loop.After(4000, [&] { w.router.Up(1, 1, 200); });
    w.loop.After(95000, [&] { w.router.Down(1); });
    r.Advance(101000);
    r.End();
    Check(w, "call_dropped_flat_rate");
}

TEST(Golden, ConnectAndDisconnectDuringAPollWait) {
    World w(kMorning);
    w.Configure({{"atcutmode", "0"}});
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-DEBUG"}));
    // From now on the status report takes 1.5 s, so the user's clicks land inside its wait.
    r.transport.onLineDelayMs = 1500;
    r.At(2600, "接 during the poll", [&] { BtnConnect_Click(r.cx); });
    r.At(14600, "切 during the poll", [&] { BtnDisConnect_Click(r.cx); });
    r.Advance(22000);
    r.End();
    Check(w, "nested_connect_disconnect");
}

TEST(Golden, EveryWindowAndTrayCommand) {
    World w(kMorning);
    w.Configure({{"atcutmode", "1"}, {"atcuttm", "3"}});
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-debug"}));
    w.router.Up(2, 30, 2);
    int64_t at = 500;
    auto click = [&](const std::string& what, std::function<void()> f) {
        r.At(at, what, std::move(f));
        at += 700;
    };
    click("窓 open", [&] { BtnMsg_Click(r.cx); });
    click("Lbl3", [&] { Lbl3_Click(r.cx); });
    click("LCD3", [&] { LCD3_Click(r.cx); });
    click("表示切替(B1-B2)", [&] { mnuB12_Click(r.cx); });
    click("表示切替(B1-B2) again", [&] { mnuB12_Click(r.cx); });
    click("表示切替(Auto)", [&] { mnuB0_Click(r.cx); });
    click("自動切断一時解除", [&] { mnuCutBrk_Click(r.cx); });
    click("LCD0 double click", [&] { LCD0_DblClick(r.cx); });
    click("tray 自動切断一時解除", [&] { frm_mnu::mnuCutBrk_Click(r.cx); });
    click("自動", [&] { ChkAutoMode_Click(r.cx); });
    click("tray 接続抑制", [&] { frm_mnu::mnuRight_Click(r.cx, 3); });
    click("長", [&] { BtnSize_Click(r.cx); });
    click("Top", [&] { ChkTopDsp_Click(r.cx, 1); });
    click("Top off", [&] { ChkTopDsp_Click(r.cx, 0); });
    click("debug", [&] { BtnDEBUG_Click(r.cx); });
    click("LastInformation", [&] { mnuLastInfo_Click(r.cx); });
    click("SOHO表示", [&] { mnuSOHO_Click(r.cx); });
    click("tray SOHO表示", [&] { frm_mnu::mnuSOHO_Click(r.cx); });
    click("ヘルプ", [&] { mnuHELP_Click(r.cx); });
    click("バージョン", [&] { mnuVER_Click(r.cx); });
    click("接続ログ", [&] { mnuLOG_Click(r.cx); });
    click("基本設定", [&] { mnuInit_Click(r.cx); });
    click("tray 基本設定", [&] { frm_mnu::mnuInit_Click(r.cx); });
    click("切断後Win終了", [&] { mnuWinend_Click(r.cx); });
    click("close box", [&] {
        bool cancel = false;
        Form_QueryUnload(r.cx, cancel, UnloadMode::UserClose);
        w.t.Note(std::string("cancel ") + (cancel ? "1" : "0"));
    });
    click("tray トレイから出る", [&] { frm_mnu::mnuOut_Click(r.cx); });
    click("窓 close", [&] { BtnMsg_Click(r.cx); });
    click("tray 切断", [&] { frm_mnu::mnuRight_Click(r.cx, 2); });
    at += 3000;
    click("tray 接続", [&] { frm_mnu::mnuRight_Click(r.cx, 1); });
    at += 6000;
    click("tray 終了", [&] { frm_mnu::mnuEnd_Click(r.cx); });
    r.Advance(at + 2000);
    EXPECT_TRUE(r.ended);
    Check(w, "every_command");
}

TEST(Golden, AStallWithItsThreeAttemptsThenAnUnansweredConnect) {
    World w(kMorning);
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-DEBUG"}));
    w.loop.After(3000, [&] { w.router.stalled = true; });
    w.loop.After(40000, [&] { w.router.stalled = false; });
    r.Advance(45000);
    w.router.ignoreConnect = true;
    r.Do("接 unanswered", [&] {
        BtnConnect_Click(r.cx);
        w.loop.Advance(40000);
    });
    EXPECT_TRUE(r.ended);
    Check(w, "stall_three_attempts");
}

TEST(Golden, TheRouterClosesTheConnectionDuringACall) {
    World w(kMorning);
    w.Configure({{"linecut", "1"}, {"atcutmode", "0"}});
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-DEBUG"}));
    w.loop.After(1500, [&] { w.router.Up(1, 0, 60); });
    r.transport.PeerClose(9000);
    r.Advance(45000);
    r.End();
    EXPECT_TRUE(r.ended);
    Check(w, "router_closes");
}

TEST(Golden, DayAndPeriodRollOver) {
    World w({Date{2026, 12, 31}, TimeOfDay{23, 59, 30}});
    w.WriteFile("Kestrovan.dat", "20,31,4,\"2026/11/30\",55\r\n");
    w.Configure({{"atcutmode", "0"}, {"secc", "20"}});
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-DEBUG"}));
    w.loop.After(5000, [&] { w.router.Up(1, 0, 100); });
    w.loop.After(75000, [&] { w.router.Down(1); });
    r.Advance(80000);
    // The computer wakes from sleep just before 05:00, the accounting day's start.
    w.loop.SetWallClock({Date{2027, 1, 1}, TimeOfDay{4, 59, 50}});
    w.t.Note("wall clock set to 2027/01/01 04:59:50");
    w.loop.After(15000, [&] { w.router.Up(2, 0, 100); });
    w.loop.After(45000, [&] { w.router.Down(2); });
    r.Advance(50000);
    r.End();
    Check(w, "rollover_day_and_period");
}

TEST(Golden, ARestartTakesOverTheRunningCall) {
    World w(kMorning);
    w.Configure({{"atcutmode", "0"}});
    {
        ProgramRun first(w);
        ASSERT_TRUE(first.Start({"-DEBUG"}));
        w.loop.After(2500, [&] { w.router.Up(1, 0, 100); });
        first.Advance(25000);
        // Ended by the session or a signal: the same shutdown as the menu's.
        first.Ends("SIGTERM", [&] {
            bool cancel = false;
            Form_QueryUnload(first.cx, cancel, UnloadMode::Program);
        });
        EXPECT_TRUE(first.ended);
    }
    w.t.Note("restart");
    w.store.logging = false;
    {
        ProgramRun second(w);
        w.loop.Advance(5000);
        // Without the debug switch: only the trace's error lines.
        ASSERT_TRUE(second.Start({}));
        w.loop.After(20000, [&] { w.router.Down(1); });
        second.Advance(26000);
        second.End();
        EXPECT_TRUE(second.ended);
    }
    Check(w, "restart_takes_over");
}

// The router's status report comes 8 s late; its 41-s call is four 12-s units.
TEST(Golden, ASlowRouterMetersACall) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> changes;
        int trafficSecs;
    };
    const Case cases[] = {
        {"slow_router_call", {{"atcutmode", "0"}}, 100},
        // Idle from 2 s into the call, so the cut arms; it falls due 3 s before a unit ends.
        {"slow_router_autocut", {{"atcutmode", "1"}, {"atcuttm", "3"}, {"atcutdly", "3"}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World w(kMorning);
        std::vector<std::pair<std::string, std::string>> changes = {
            {"seca", "12"}, {"secb", "12"}, {"secc", "12"}, {"dspint", "1000"}};
        changes.insert(changes.end(), c.changes.begin(), c.changes.end());
        w.Configure(changes);
        ProgramRun r(w);
        ASSERT_TRUE(r.Start({"-DEBUG"}));
        w.router.late["show status"] = 8000;
        w.loop.After(3000, [&] { w.router.Up(1, 0, c.trafficSecs); });
        w.loop.After(44000, [&] {
            if (w.router.IsUp(1)) w.router.Down(1);
        });
        r.Advance(80000);
        r.End();
        EXPECT_TRUE(r.ended);
        Check(w, c.name);
    }
}

// Ended as by SIGTERM while a status poll waits for a reply that is late or never comes.
TEST(Golden, AnExitDuringAPollThatIsNotAnswered) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> changes;
        int64_t lateMs;  // 0: the router stops answering at 3 s
        bool call;
        int64_t exitAtMs;  // inside the wait for the poll sent at 2 or 4 s
    };
    const Case cases[] = {
        {"exit_during_slow_poll", {}, 5000, false, 3000},
        {"exit_during_unanswered_poll", {{"linecut", "0"}}, 0, false, 6000},
        {"exit_during_unanswered_poll_with_call", {{"linecut", "1"}}, 0, true, 6000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World w(kMorning);
        std::vector<std::pair<std::string, std::string>> changes = {{"atcutmode", "0"}};
        changes.insert(changes.end(), c.changes.begin(), c.changes.end());
        w.Configure(changes);
        ProgramRun r(w);
        ASSERT_TRUE(r.Start({"-DEBUG"}));
        if (c.call) w.loop.After(1000, [&] { w.router.Up(1, 0, 100); });
        if (c.lateMs > 0)
            w.router.late["show status"] = c.lateMs;
        else
            w.loop.After(3000, [&] { w.router.stalled = true; });
        r.At(c.exitAtMs, "SIGTERM", [&] {
            bool cancel = false;
            Form_QueryUnload(r.cx, cancel, UnloadMode::Program);
        });
        r.Advance(90000);
        EXPECT_TRUE(r.ended);
        Check(w, c.name);
    }
}

TEST(Golden, TheLinkIsLostWhileTheMeterOpensACall) {
    World w(kMorning);
    w.Configure({{"atcutmode", "0"}});
    ProgramRun r(w);
    ASSERT_TRUE(r.Start({"-DEBUG"}));
    w.loop.After(1000, [&] { w.router.Up(1, 0, 100); });
    // The router drops the console in the millisecond the window first shows the call, so the
    // close comes in while the meter opens it; it takes connections again 5 s later.
    bool dropped = false;
    r.view.onLcdText = [&](int lcd, const std::string& text) {
        if (dropped || lcd != 0 || text.rfind("端末型", 0) != 0) return;
        dropped = true;
        r.transport.PeerClose(0);
        r.transport.connectResult = 10061;
        w.loop.After(5000, [&] { r.transport.connectResult = 0; });
    };
    w.loop.After(40000, [&] { w.router.Down(1); });
    r.Advance(50000);
    r.End();
    EXPECT_TRUE(r.ended);
    Check(w, "link_lost_inside_call_start");
}

}  // namespace
}  // namespace kv::test
