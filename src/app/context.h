#pragma once
// One program run's records and flags, and the ports they act through. Built by main (or by a
// test), passed by reference to every procedure; no globals.
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "common/datetime.h"
#include "common/ports.h"
#include "common/view.h"
#include "settings/settings.h"

namespace kv {

class TrayIconPort;  // app/tray.h

// ---- router status snapshot ---------------------------------------------------------------
struct ChannelStatusRecord {
    std::string Mode;         // "端末型" marks a channel that carries a connection
    std::string PeerNumber;
    std::string ConnectTime;  // "yyyy/mm/dd hh:mm:ss"
    std::string IpAddress;
    std::string Usage;
    std::string AutoCutTime;
    std::string Elapsed;
    int16_t IdleSeconds = 0;
};

struct RouterStatus {
    std::array<ChannelStatusRecord, 3> ChannelStatus;  // index 0 never filled
    std::array<int16_t, 3> LineState{};                // [0] is CurrentChannel
    int16_t& CurrentChannel() { return LineState[0]; }
    int16_t CurrentChannel() const { return LineState[0]; }
    int16_t AutoCutArmed = 0;
    uint32_t LcdColour = 0;
};

// ---- call accounting ----------------------------------------------------------------------
// Unit counts are 32-bit here: the 16-bit originals overflow at 32767.
struct CallRecord {
    std::array<int16_t, 3> ChConnected{};
    Date CntStDate;
    TimeOfDay CntStTime;
    int32_t ConnectAdjust = 0;
    int32_t StartTick = 0;
    int32_t LastTick = 0;
    int32_t ElapsedSecs = 0;
    int32_t NextUnitSecs = 0;
    int16_t TariffMode = 0;
    int32_t CallUnits = 0;
    Date ConnDate;
    TimeOfDay ConnTime;
    Date EndDate;
    TimeOfDay EndTime;
    int32_t CallSecs = 0;
    int32_t LoggedUnits = 0;
};

struct ChargeTotals {
    int32_t DayUnits = 0;
    int32_t MonthUnits = 0;
    int32_t PrevMonthUnits = 0;
    Date PeriodMarker;  // the zero date until the totals file (or start-up) sets it
    // The last write of the totals file failed: the file is older than these figures.
    bool FileStale = false;
    // The accounting day (the date on which it began at 05:00) that DayUnits belong to; the
    // zero date until the totals file (or start-up) sets it.
    Date DayOf;
};

// ---- router console link ------------------------------------------------------------------
struct LinkState {
    bool SocketOpen = false;  // ConsoleSocket is valid
    std::u16string SendText;
    std::u16string ReplyText;  // one element per character, as Receive builds it
    int16_t PendingReceives = 0;
    std::string ActivityTag;
    int16_t LinkReady = 0;
    int16_t LoggedIn = 0;
    int16_t DisconnectPending = 0;
    std::u16string RouterName;
    int32_t ClockOffset = 0;
    // A lead byte that ended the previous read, joined to the next read's first byte.
    std::string CarryBytes;
};

// ---- trace file ---------------------------------------------------------------------------
struct TraceState {
    std::FILE* TraceFile = nullptr;  // null while closed
    bool ReportedFailure = false;    // a failed open is reported once, not at every line
};

// ---- the runner's slots -------------------------------------------------------------------
struct RunnerState {
    std::array<int16_t, 6> Running{};
    std::array<int64_t, 6> ProcessInfo{};  // process handle of the slot, 0 when none
};

// Things only the window layer can do, which start-up and EndProgram need.
struct AppHooks {
    std::function<void()> ShowSetupDialog;     // FrmSetup, modal
    std::function<void()> SaveWindowPosition;  // SetFormPosition, then release the store
    std::function<void()> ShowLogViewer;       // FrmLog, modeless
};

struct Ports {
    Clock* clock = nullptr;
    EventPump* pump = nullptr;
    SettingsStore* store = nullptr;
    ConsoleTransport* transport = nullptr;
    Timer* tmrSOHO = nullptr;
    Timer* tmrDSP = nullptr;
    Timer* Tmr1Sec = nullptr;
    MainView* view = nullptr;
    ProcessRunner* runner = nullptr;
    Shell* shell = nullptr;
    ProgramExit* exit = nullptr;
    TrayIconPort* tray = nullptr;  // the notification-area icon (FrmMnu); null: none
};

struct Context {
    Ports ports;
    AppHooks hooks;

    // program paths and switches
    std::string CommandLine;  // " " + arguments + " ", upper case
    int16_t DebugMode = 0;
    std::string AppPath;  // folder of the program file, no trailing separator
    std::string LogPath;
    std::string TracePath;
    std::string DataPath;
    uint16_t ConsolePort = 23;  // KESTROVAN_CONSOLE_PORT may override it

    Settings settings;

    // seconds clock: whole days since start-up are counted, so it keeps rising for days
    int32_t BaseSeconds = 0;
    Date BaseDate;

    LinkState link;
    RouterStatus status;
    CallRecord call;
    ChargeTotals totals;
    int16_t CutBreak = 0;
    // The holiday list whose unreadable entries were last traced, so each is reported once.
    std::string HolidayTableReported;
    RunnerState runner;
    TraceState trace;

    // main window state
    int16_t DisplayChannel = 0;
    int16_t DelayedAction = 0;
    int16_t TrayInstalled = 0;
    int16_t MessageWindowOpen = 0;
    std::string LastInformation;
};

// AppPath + separator + name.
std::string DataFilePath(const Context& cx, const std::string& name);

}  // namespace kv
