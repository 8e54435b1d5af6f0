// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/fakes.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "common/cp932.h"

namespace kv::test {

// ---- FakeEventLoop ------------------------------------------------------------------------

FakeEventLoop::FakeEventLoop(LocalTime start)
    : wallBaseSerial_(DateToSerial(start.date)), wallBaseSecs_(start.time.Seconds()) {}

FakeEventLoop::~FakeEventLoop() = default;

LocalTime FakeEventLoop::Now() const {
    if (zoneUtcSecs_) {
        const time_t utc = static_cast<time_t>(*zoneUtcSecs_ + (now_ - wallBaseMs_) / 1000);
        tm local{};
#ifdef _WIN32
        localtime_s(&local, &utc);
#else
        localtime_r(&utc, &local);
#endif
        return LocalTime{Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday},
                         TimeOfDay{local.tm_hour, local.tm_min, local.tm_sec}};
    }
    const int64_t secs = wallBaseSecs_ + (now_ - wallBaseMs_) / 1000;
    const int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    const int32_t sod = static_cast<int32_t>(secs - days * 86400);
    return LocalTime{SerialToDate(static_cast<int32_t>(wallBaseSerial_ + days)),
                     TimeOfDay::FromSeconds(sod)};
}

int32_t FakeEventLoop::WallMsOfSecond() const {
    const int64_t ms = (now_ - wallBaseMs_) % 1000;
    return static_cast<int32_t>(ms < 0 ? ms + 1000 : ms);
}

int32_t FakeEventLoop::UtcOffsetNow() const {
    return zoneUtcSecs_ ? ZoneOffsetAtUtc(*zoneUtcSecs_ + (now_ - wallBaseMs_) / 1000) : 0;
}

std::vector<int32_t> FakeEventLoop::UtcOffsetsAt(const LocalTime& t) const {
    return zoneUtcSecs_ ? ZoneOffsetsAt(t) : std::vector<int32_t>{0};
}

void FakeEventLoop::SetWallClock(LocalTime t) {
    wallBaseSerial_ = DateToSerial(t.date);
    wallBaseSecs_ = t.time.Seconds();
    wallBaseMs_ = now_;
    zoneUtcSecs_.reset();
}

void FakeEventLoop::FollowZone(int64_t utcSecs) {
    zoneUtcSecs_ = utcSecs;
    wallBaseMs_ = now_;
}

void FakeEventLoop::At(int64_t atMs, std::function<void()> fn) {
    events_.push_back(Event{atMs, seq_++, std::move(fn)});
}

int64_t FakeEventLoop::NextEventAt() const {
    int64_t next = INT64_MAX;
    for (const Event& e : events_) next = std::min(next, e.at);
    for (const FakeTimer* t : timers_)
        if (t->enabled_ && !t->running_ && t->interval_ > 0) next = std::min(next, t->due_);
    return next;
}

// Runs everything due now, earliest first. Returns whether anything ran.
bool FakeEventLoop::RunDue() {
    bool ran = false;
    // What comes due while a handler waits inside is left for the caller's next look, so a
    // wait can see its deadline pass even when handlers keep the loop busy.
    const int64_t horizon = now_;
    for (;;) {
        // Earliest due scheduled event, then earliest due timer.
        auto it =
            std::min_element(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
                return a.at != b.at ? a.at < b.at : a.seq < b.seq;
            });
        // A timer whose handler is still running is not run again inside it, as with the Qt
        // timers: its tick comes when the handler has returned.
        FakeTimer* timer = nullptr;
        for (FakeTimer* t : timers_)
            if (t->enabled_ && !t->running_ && t->interval_ > 0 && t->due_ <= horizon &&
                (!timer || t->due_ < timer->due_))
                timer = t;
        const bool eventDue = it != events_.end() && it->at <= horizon;
        if (eventDue && (!timer || it->at <= timer->due_)) {
            std::function<void()> fn = std::move(it->fn);
            events_.erase(it);
            fn();
            ran = true;
            continue;
        }
        if (timer) {
            timer->due_ += timer->interval_;
            if (timer->due_ <= now_)
                timer->due_ = now_ + timer->interval_;  // no burst after a stall
            ++timer->ticks_;
            if (timer->tick_) {
                struct Running {
                    bool& on;
                    explicit Running(bool& r) : on(r) { on = true; }
                    ~Running() { on = false; }
                } running(timer->running_);
                timer->tick_();
            }
            ran = true;
            continue;
        }
        return ran;
    }
}

void FakeEventLoop::PumpOnce() {
    RunDue();
}

bool FakeEventLoop::WaitUntil(const std::function<bool()>& done, int64_t deadlineMs) {
    ++waits_;
    RunDue();
    while (!done()) {
        if (now_ >= deadlineMs) return false;
        const int64_t next = std::min(NextEventAt(), deadlineMs);
        if (next > now_) now_ = next;
        RunDue();
    }
    return true;
}

void FakeEventLoop::Advance(int64_t ms) {
    const int64_t end = now_ + ms;
    WaitUntil([] { return false; }, end);
}

std::unique_ptr<FakeTimer> FakeEventLoop::MakeTimer() {
    return std::make_unique<FakeTimer>(*this);
}

void RecordingLinkView::ShowCutState(CutState state) {
    const uint32_t colour = state == CutState::FlatRate ? kColourYellow
                            : state == CutState::Armed  ? kColourRed
                                                        : kColourGreen;
    view_.SetLcdColour(5, colour);
    view_.SetLcdColour(6, colour);
}

std::unique_ptr<Timer> FakeEventLoop::NewTimer() {
    return MakeTimer();
}

FakeTimer::FakeTimer(FakeEventLoop& loop) : loop_(loop) {
    loop_.timers_.push_back(this);
}

FakeTimer::~FakeTimer() {
    auto& v = loop_.timers_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void FakeTimer::SetInterval(int ms) {
    interval_ = ms;
    due_ = loop_.now_ + ms;
}

void FakeTimer::SetEnabled(bool on) {
    if (on && !enabled_) due_ = loop_.now_ + interval_;
    enabled_ = on;
}

// ---- MemorySettingsStore --------------------------------------------------------------------

static std::string Path(const std::string& a, const std::string& s, const std::string& k) {
    return a + "\\" + s + "\\" + k;
}

std::optional<std::string> MemorySettingsStore::Read(const std::string& application,
                                                     const std::string& section,
                                                     const std::string& key) {
    auto it = values.find(Path(application, section, key));
    if (it == values.end()) return std::nullopt;
    return it->second;
}

bool MemorySettingsStore::Write(const std::string& application, const std::string& section,
                                const std::string& key, const std::string& value) {
    if (failWrites) return false;
    values[Path(application, section, key)] = value;
    return true;
}

bool MemorySettingsStore::DeleteAppKey(const std::string& application, const std::string& appKey) {
    const std::string prefix = application + "\\" + appKey + "\\";
    bool any = false;
    for (auto it = values.begin(); it != values.end();) {
        if (it->first.rfind(prefix, 0) == 0) {
            it = values.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

bool MemorySettingsStore::HasAppKey(const std::string& application, const std::string& appKey) {
    const std::string prefix = application + "\\" + appKey + "\\";
    for (const auto& [k, v] : values)
        if (k.rfind(prefix, 0) == 0) return true;
    return false;
}

// ---- RecordingView --------------------------------------------------------------------------

bool RecordingView::MenuChecked(MenuItem item) const {
    auto it = menu_.find(item);
    return it != menu_.end() && it->second;
}

void RecordingView::SetCheckBox(CheckBox box, int value) {
    const int old = CheckBoxValue(box);
    check_[box] = value;
    if (old != value && onCheckBoxClick) onCheckBoxClick(box, value);
}

int RecordingView::CheckBoxValue(CheckBox box) const {
    auto it = check_.find(box);
    return it == check_.end() ? 0 : it->second;
}

MsgResult RecordingView::MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                    MsgButtons buttons) {
    boxes.push_back(RecordedBox{text, title, icon, buttons});
    if (!answers.empty()) {
        MsgResult r = answers.front();
        answers.erase(answers.begin());
        return r;
    }
    return buttons == MsgButtons::YesNo            ? MsgResult::Yes
           : buttons == MsgButtons::YesNoDefaultNo ? MsgResult::No
                                                   : MsgResult::Ok;
}

std::string RecordingView::lcd(int n) const {
    auto it = lcd_.find(n);
    return it == lcd_.end() ? "" : it->second;
}
uint32_t RecordingView::colour(int n) const {
    if (!live_) return kColourGrey;
    // The read-outs start green.
    auto it = colour_.find(n);
    return it == colour_.end() ? kColourGreen : it->second;
}
std::string RecordingView::label(int n) const {
    auto it = label_.find(n);
    return it == label_.end() ? "" : it->second;
}

// ---- FakeRunner -----------------------------------------------------------------------------

int64_t FakeRunner::Start(const std::string& path, std::string& error) {
    started.push_back(path);
    auto it = existing.find(path);
    if (it == existing.end() || !it->second) {
        error = "cannot start";
        return 0;
    }
    return nextHandle++;
}

// ---- temporary folders ----------------------------------------------------------------------

std::string MakeTempDir() {
    namespace fs = std::filesystem;
    std::random_device rd;
    for (;;) {
        fs::path p = fs::temp_directory_path() / ("kvtest-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) return p.generic_string();
    }
}

void RemoveTree(const std::string& dir) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace kv::test
