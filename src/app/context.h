// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The composition root of one program run: the ports, the settings record and the subsystems,
// wired together. Built by main (or by a test) and passed by reference to the window's
// handlers; no globals. This is the only place where the link and the meter meet.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accounting/call_meter.h"
#include "app/delayed_action.h"
#include "app/notices.h"
#include "app/runner.h"
#include "app/tray.h"
#include "app/view.h"
#include "common/ports.h"
#include "common/trace.h"
#include "app/view.h"
#include "link/console_link.h"
#include "settings/settings.h"

namespace kv {

// The ports every run has; the tray icon, which a desktop may lack, is set on `tray`.
struct Ports {
    Clock& clock;
    TimerFactory& timers;
    SettingsStore& store;
    ConsoleTransport& transport;
    Timer& tmrSOHO;
    Timer& tmrDSP;
    Timer& Tmr1Sec;
    Timer& tmrRetry;  // the link's next attempt to log in again
    MainView& view;
    ProcessRunner& runner;
    Shell& shell;
    ProgramExit& exit;
};

// Things only the window layer can do, which start-up, the menus and EndProgram need.
struct AppHooks {
    std::function<void()> ShowSetupDialog;     // FrmSetup, modal
    std::function<void()> SaveWindowPosition;  // SetFormPosition, then release the store
    std::function<void()> ShowLogViewer;       // FrmLog, modeless
};

class Context {
  public:
    explicit Context(const Ports& ports);
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    Ports ports;
    AppHooks hooks;
    std::string CommandLine;  // " " + arguments + " ", upper case
    std::string AppPath;      // folder of the program file, no trailing separator
    // Where to look for the help page when it is not beside the program (set by main).
    std::vector<std::string> HelpFolders;
    // Where the call log, totals and trace go: AppPath, or, when that cannot be written and
    // PerUserDataFolder is set (by main), the per-user folder. Chosen by InitProgram.
    std::string DataFolder;
    std::string PerUserDataFolder;
    bool PollWaiting = false;  // a poll waits for the exchange holding the console
    // The program is ending: a second request to end waits for the first.
    bool Ending = false;
    // The start-up's wait of "-W".
    std::unique_ptr<Timer> startDelay;
    Settings settings;

    // The tray tip: the described one, or with the line's state when traytip is on. Called
    // where the read-outs change, so it needs no timer of its own.
    void ShowTrayState();

  private:
    // What the link shows, on the window.
    class LinkOnWindow : public LinkView {
      public:
        explicit LinkOnWindow(Context& cx) : cx_(cx) {}
        void ShowStatus(const std::string& text) override;
        void ShowFigure(LinkFigure figure, const std::string& text) override;
        void ShowCutState(CutState state) override;
        void ShowBox(const std::string& text, const std::string& title) override;
        void OpenMessageWindow() override;
        void CloseMessageWindow() override;
        void SetMessageText(const std::string& text) override;

      private:
        Context& cx_;
    };
    // A failure of the link ends the program.
    class LinkFailures : public LinkEvents {
      public:
        explicit LinkFailures(Context& cx) : cx_(cx) {}
        void LinkFailed(const std::string& message, bool atOnce) override;

      private:
        Context& cx_;
    };
    // What the meter shows, on the window.
    class MeterOnWindow : public MeterView {
      public:
        explicit MeterOnWindow(Context& cx) : cx_(cx) {}
        void ShowFigure(MeterFigure figure, const std::string& text) override;
        void ShowLive(bool live) override;
        void ShowCaption(const std::string& text) override;
        void ShowStatus(const std::string& text) override;
        void ShowWarning(const std::string& text) override;
        void BringUp() override;

      private:
        Context& cx_;
    };
    // What the link tells the meter.
    class LinkToMeter : public CallEvents {
      public:
        explicit LinkToMeter(Context& cx) : cx_(cx) {}
        void CallUp(int16_t channel, const std::string& routerConnectTime) override;
        void CallDown(int16_t channel) override;
        bool CallOpen(int16_t channel) const override;
        TariffMode CallTariff() const override;
        TimeOfDay CallSeenAt() const override;
        void LinkLost() override;
        void LinkBack(int16_t channel, const std::string& routerConnectTime) override;

      private:
        Context& cx_;
    };
    // What the meter asks of the line.
    class MeterToLink : public LineControl {
      public:
        explicit MeterToLink(Context& cx) : cx_(cx) {}
        void HangUp(int16_t channel) override;
        int16_t CurrentChannel() const override;
        bool AutoCutArmed() const override;
        int32_t ClockOffset() const override;

      private:
        Context& cx_;
    };
    // What the program does when a call opens or closes: the runner and the window.
    class MeterToProgram : public MeterEvents {
      public:
        explicit MeterToProgram(Context& cx) : cx_(cx) {}
        void CallOpened() override;
        void CallClosed() override;

      private:
        Context& cx_;
    };
    LinkOnWindow linkOnWindow_{*this};
    LinkFailures linkFailures_{*this};
    MeterOnWindow meterOnWindow_{*this};
    LinkToMeter linkToMeter_{*this};
    MeterToLink meterToLink_{*this};
    MeterToProgram meterToProgram_{*this};

  public:
    Trace trace;
    ConsoleLink link;
    CallMeter meter;
    Runner runner;
    TrayIcon tray;
    DelayedActions delayed;
    Notices notices{settings};
};

enum class EndMode { Quiet, WithMessage };
// The end of the program: the last trace line, the message, the connection closed, the window
// position saved, the process ended.
[[noreturn]] void EndProgram(Context& cx, EndMode mode, const std::string& message);

// DataFolder + separator + name.
std::string DataFilePath(const Context& cx, const std::string& name);

}  // namespace kv
