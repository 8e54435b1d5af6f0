// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fakes of the ports for tests: a clock that advances only when the code waits, an in-memory
// settings store, a recording main window, a program end that throws.
#include <functional>
#include <optional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/ports.h"
#include "app/view.h"
#include "accounting/call_meter.h"
#include "link/console_link.h"

namespace kv::test {

// EndProgram's process end, observable: the fake throws this.
struct ProgramEnded {
    int code;
};

class FakeTimer;

// Tests wait on an event loop until a condition or a deadline; the program itself never does.
class EventPump {
  public:
    virtual ~EventPump() = default;
    // Process what is pending now, without blocking.
    virtual void PumpOnce() = 0;
    // Run the event loop until done() is true or the monotonic clock reaches deadlineMs.
    // done() is tested before waiting and after every batch of events. Returns done().
    virtual bool WaitUntil(const std::function<bool()>& done, int64_t deadlineMs) = 0;
};

// Simulated time. Waits jump straight to the next scheduled event or the deadline, so a
// 30-second reply time-out takes microseconds.
class FakeEventLoop : public Clock, public EventPump, public TimerFactory {
  public:
    explicit FakeEventLoop(LocalTime start = {Date{2026, 12, 7}, TimeOfDay{10, 0, 0}});
    ~FakeEventLoop() override;

    LocalTime Now() const override;
    int64_t MonotonicMs() const override { return now_; }
    int32_t WallMsOfSecond() const override;
    int32_t UtcOffsetNow() const override;
    std::vector<int32_t> UtcOffsetsAt(const LocalTime& t) const override;
    void PumpOnce() override;
    bool WaitUntil(const std::function<bool()>& done, int64_t deadlineMs) override;

    // Run fn when simulated time reaches atMs (monotonic).
    void At(int64_t atMs, std::function<void()> fn);
    void After(int64_t delayMs, std::function<void()> fn) { At(now_ + delayMs, std::move(fn)); }
    // Let simulated time pass, running timers and scheduled events.
    void Advance(int64_t ms);
    // Make the wall clock read `t` now, without moving the monotonic clock (a clock change).
    void SetWallClock(LocalTime t);
    // From now on the wall clock is the process's time zone (TZ) at UTC `utcSecs` plus the
    // time that passes, as the system clock is: summer time changes happen as they would.
    void FollowZone(int64_t utcSecs);
    // Counters for tests that check nothing spins.
    int64_t waits() const { return waits_; }

    std::unique_ptr<FakeTimer> MakeTimer();
    std::unique_ptr<Timer> NewTimer() override;
    // Runs the loop until done() or maxMs of simulated time have passed; returns done().
    bool RunUntil(const std::function<bool()>& done, int64_t maxMs = 120000) {
        return WaitUntil(done, now_ + maxMs);
    }

  private:
    friend class FakeTimer;

    // Tests wait on an event loop until a condition or a deadline; the program itself never does.
    class EventPump {
      public:
        virtual ~EventPump() = default;
        // Process what is pending now, without blocking.
        virtual void PumpOnce() = 0;
        // Run the event loop until done() is true or the monotonic clock reaches deadlineMs.
        // done() is tested before waiting and after every batch of events. Returns done().
        virtual bool WaitUntil(const std::function<bool()>& done, int64_t deadlineMs) = 0;
    };
    bool RunDue();
    int64_t NextEventAt() const;

    struct Event {
        int64_t at;
        uint64_t seq;
        std::function<void()> fn;
    };
    int64_t now_ = 0;
    uint64_t seq_ = 0;
    int32_t wallBaseSerial_;  // date of the wall clock at monotonic wallBaseMs_
    int64_t wallBaseSecs_;    // seconds of day then
    int64_t wallBaseMs_ = 0;
    std::optional<int64_t> zoneUtcSecs_;  // UTC at wallBaseMs_ when following the zone
    std::vector<Event> events_;
    std::vector<FakeTimer*> timers_;
    int64_t waits_ = 0;
};

class FakeTimer : public Timer {
  public:
    explicit FakeTimer(FakeEventLoop& loop);
    ~FakeTimer() override;
    void SetInterval(int ms) override;
    int Interval() const override { return interval_; }
    void SetEnabled(bool on) override;
    bool Enabled() const override { return enabled_; }
    void SetHandler(std::function<void()> tick) override { tick_ = std::move(tick); }
    int ticks() const { return ticks_; }

  private:
    friend class FakeEventLoop;
    FakeEventLoop& loop_;
    int interval_ = 0;
    bool enabled_ = false;
    int64_t due_ = 0;
    int ticks_ = 0;
    bool running_ = false;  // its handler is running
    std::function<void()> tick_;
};

class MemorySettingsStore : public SettingsStore {
  public:
    std::optional<std::string> Read(const std::string& application, const std::string& section,
                                    const std::string& key) override;
    bool Write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override;
    bool WriteAll(const std::string& application, const std::vector<Value>& batch) override {
        return !failWrites && SettingsStore::WriteAll(application, batch);
    }
    bool DeleteAppKey(const std::string& application, const std::string& appKey) override;
    bool HasAppKey(const std::string& application, const std::string& appKey) override;
    std::string Unreadable(const std::string&, const std::string&) override { return unreadable; }
    // application\section\key -> value
    std::map<std::string, std::string> values;
    bool failWrites = false;
    std::string unreadable;  // as a settings file that exists but cannot be read
};

struct RecordedBox {
    std::string text;
    std::string title;
    MsgIcon icon;
    MsgButtons buttons;
};

class RecordingView : public MainView {
  public:
    void SetLcdText(int lcd, const std::string& text) override { lcd_[lcd] = text; }
    void SetLcdColour(int lcd, uint32_t colour) override { colour_[lcd] = colour; }
    void SetFiguresLive(bool live) override { live_ = live; }
    void SetLabelCaption(int label, const std::string& text) override { label_[label] = text; }
    void SetWindowCaption(const std::string& text) override { caption = text; }
    void SetStatusText(const std::string& text) override { statusHistory.push_back(text); }
    void ShowMainWindow(bool restoreNormal) override {
        visible = true;
        if (restoreNormal) ++restores;
    }
    void HideMainWindow() override { visible = false; }
    void MinimizeMainWindow() override { ++minimized; }
    void SetTopmost(bool on) override { topmost = on; }
    void SetMenuChecked(MenuItem item, bool checked) override { menu_[item] = checked; }
    bool MenuChecked(MenuItem item) const override;
    void SetCheckBox(CheckBox box, int value) override;
    void ShowCheckBox(CheckBox box, int value) override { check_[box] = value; }
    int CheckBoxValue(CheckBox box) const override;
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override;
    void ShowNotice(const std::string& text, std::function<void()> silenced) override {
        notices.push_back(text);
        silencers.push_back(std::move(silenced));
    }
    void ShowMessageWindow() override { messageWindowOpen = true; }
    void CloseMessageWindow() override { messageWindowOpen = false; }
    void SetMessageText(const std::string& text) override { messageTexts.push_back(text); }

    std::string lcd(int n) const;
    uint32_t colour(int n) const;
    std::string label(int n) const;
    std::string status() const { return statusHistory.empty() ? "" : statusHistory.back(); }

    std::string caption;
    std::vector<std::string> statusHistory;
    std::vector<RecordedBox> boxes;
    std::vector<std::string> notices;              // boxes that do not wait
    std::vector<std::function<void()>> silencers;  // "次回から表示しない" of each notice
    std::vector<MsgResult> answers;  // answers for the next boxes; Ok / Yes when empty
    std::vector<std::string> messageTexts;
    bool messageWindowOpen = false;
    bool visible = true;
    bool topmost = false;
    int restores = 0;
    int minimized = 0;
    // Runs when SetCheckBox changes a value, as the control's click handler would.
    std::function<void(CheckBox, int)> onCheckBoxClick;

  private:
    bool live_ = true;
    std::map<int, std::string> lcd_;
    std::map<int, uint32_t> colour_;
    std::map<int, std::string> label_;
    std::map<MenuItem, bool> menu_;
    std::map<CheckBox, int> check_;
};

class FakeExit : public ProgramExit {
  public:
    [[noreturn]] void Exit(int code) override { throw ProgramEnded{code}; }
};

class FakeRunner : public ProcessRunner {
  public:
    bool FileExists(const std::string& path) override { return existing.count(path) != 0; }
    int64_t Start(const std::string& path, std::string& error) override;
    void Terminate(int64_t handle) override { terminated.push_back(handle); }
    std::map<std::string, bool> existing;  // path -> starts successfully
    std::vector<std::string> started;
    std::vector<int64_t> terminated;
    int64_t nextHandle = 100;
};

class FakeShell : public Shell {
  public:
    bool Open(const std::string& target) override {
        opened.push_back(target);
        return true;
    }
    bool OpenWatched(const std::string& target, std::function<void()> failed) override {
        opened.push_back(target);
        failedLater = std::move(failed);
        return true;
    }
    std::vector<std::string> opened;
    std::function<void()> failedLater;
};

// The link's and the meter's read-outs on a recording window, numbered as on the main window.
class RecordingLinkView : public LinkView {
  public:
    explicit RecordingLinkView(RecordingView& view) : view_(view) {}
    void ShowStatus(const std::string& text) override { view_.SetStatusText(text); }
    void ShowFigure(LinkFigure figure, const std::string& text) override {
        view_.SetLcdText(static_cast<int>(figure), text);
    }
    void ShowCutState(CutState state) override;
    void ShowBox(const std::string& text, const std::string& title) override {
        view_.MessageBox(text, title, MsgIcon::None, MsgButtons::Ok);
    }
    void OpenMessageWindow() override { view_.ShowMessageWindow(); }
    void CloseMessageWindow() override { view_.CloseMessageWindow(); }
    void SetMessageText(const std::string& text) override { view_.SetMessageText(text); }

  private:
    RecordingView& view_;
};

class RecordingMeterView : public MeterView {
  public:
    explicit RecordingMeterView(RecordingView& view) : view_(view) {}
    void ShowFigure(MeterFigure figure, const std::string& text) override {
        view_.SetLcdText(static_cast<int>(figure), text);
    }
    void ShowLive(bool live) override { view_.SetFiguresLive(live); }
    void ShowCaption(const std::string& text) override { view_.SetWindowCaption(text); }
    void ShowStatus(const std::string& text) override { view_.SetStatusText(text); }
    void ShowWarning(const std::string& text) override {
        view_.MessageBox(text, "", MsgIcon::Exclamation, MsgButtons::Ok);
    }
    void BringUp() override { view_.ShowMainWindow(true); }

  private:
    RecordingView& view_;
};

// A link failure, recorded: the message and whether the socket's box was the message.
class RecordingLinkEvents : public LinkEvents {
  public:
    void LinkFailed(const std::string& message, bool atOnce) override {
        failures.push_back(atOnce ? "(at once)" : message);
    }
    std::vector<std::string> failures;
};

// Creates a fresh empty temporary folder; the caller removes it.
std::string MakeTempDir();
void RemoveTree(const std::string& dir);

}  // namespace kv::test
