// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The small interfaces the cores call instead of the platform. Qt implementations live in
// src/platform and src/app/ui; tests use the fakes in tests/support.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/datetime.h"

namespace kv {

// ---- time -------------------------------------------------------------------------------
class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime Now() const = 0;        // wall clock, whole seconds, local time
    virtual int64_t MonotonicMs() const = 0;  // for waits: never jumps
    // How far into its current second the wall clock is, so seconds counted on the monotonic
    // clock can turn when Now()'s do.
    virtual int32_t WallMsOfSecond() const { return 0; }
    // Local time less UTC, in seconds, now and at a local time: two offsets in the hour that
    // is repeated when summer time ends, none in the hour skipped when it begins. A clock that
    // knows no zone is always at 0.
    virtual int32_t UtcOffsetNow() const { return 0; }
    virtual std::vector<int32_t> UtcOffsetsAt(const LocalTime& /*t*/) const { return {0}; }
};

class Timer {
  public:
    virtual ~Timer() = default;
    virtual void SetInterval(int ms) = 0;
    virtual int Interval() const = 0;
    virtual void SetEnabled(bool on) = 0;  // enabling restarts the interval
    virtual bool Enabled() const = 0;
    virtual void SetHandler(std::function<void()> tick) = 0;
};

// Timers made as a part needs them: a reply's attempt, a message's display. Nothing in the
// program waits: it arms a timer and goes back to the event loop.
class TimerFactory {
  public:
    virtual ~TimerFactory() = default;
    virtual std::unique_ptr<Timer> NewTimer() = 0;
};

// ---- settings store (per-user application settings; every value a string) -------------------
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // application e.g. "Qel"; section e.g. "Kestrovan\\Setup"; absent -> nullopt.
    virtual std::optional<std::string> Read(const std::string& application,
                                            const std::string& section, const std::string& key) = 0;
    // Returns false when the value could not be written; the store is then as it was.
    virtual bool Write(const std::string& application, const std::string& section,
                       const std::string& key, const std::string& value) = 0;
    struct Value {
        std::string section, key, value;
    };
    // A whole record: every value or, on failure, none. This default is only as good as the
    // single writes; a real store overrides it.
    virtual bool WriteAll(const std::string& application, const std::vector<Value>& values) {
        for (const Value& v : values)
            if (!Write(application, v.section, v.key, v.value)) return false;
        return true;
    }
    // Deletes application\appKey (e.g. "Qel", "Kestrovan") with all sections below it.
    // Returns false when nothing was stored or it could not be deleted.
    virtual bool DeleteAppKey(const std::string& application, const std::string& appKey) = 0;
    virtual bool HasAppKey(const std::string& application, const std::string& appKey) = 0;
    // Settings that exist but cannot be read (no permission, not a file, no settings in it):
    // the reason, for the user. Empty when they can be read or there are none: only then may a
    // program start afresh or write over them.
    virtual std::string Unreadable(const std::string& application, const std::string& appKey) {
        (void)application;
        (void)appKey;
        return {};
    }
    // The system's reason for the last write or delete that failed ("No space left on device").
    virtual std::string LastError() const { return {}; }
};

// ---- router console transport (WinSock-like, UI thread) -----------------------------------
// Errors are WinSock numbers: 10035 would block, 10038 not a socket, 10061 refused, ...
class ConsoleTransport {
  public:
    virtual ~ConsoleTransport() = default;
    // Creates the stream socket. Returns its handle (>= 0), or -1 with LastError() set.
    // Connect creates one itself when this was not called.
    virtual int Create() { return 0; }
    // Blocking connect to the router's address (a dotted IPv4 address; where the platform can,
    // also an IPv6 address or a host name). 0 on success, else the WinSock error code (11001:
    // the name could not be found).
    virtual int Connect(const std::string& address, uint16_t port) = 0;
    // Returns bytes sent, or -1 with LastError() set.
    virtual int Send(const char* data, int len) = 0;
    // Returns n > 0 bytes, 0 when the peer closed, -1 with LastError() set (10035: nothing
    // waiting).
    virtual int Recv(char* buffer, int len) = 0;
    virtual void Close() = 0;
    // 0 after a successful call, else the WinSock code of the last failed call.
    virtual int LastError() const = 0;
    // readEvents false: only close events are delivered (while the handler reads).
    virtual void SetNotifications(bool readEvents) = 0;
    // Called on the UI thread, from the event loop, for every read or close event.
    virtual void SetNotifyHandler(std::function<void()> handler) = 0;
};

// ---- processes, shell, program end -------------------------------------------------------
class ProcessRunner {
  public:
    virtual ~ProcessRunner() = default;
    virtual bool FileExists(const std::string& path) = 0;
    // Starts the program at path exactly (no shell, no arguments). Returns a handle > 0, or 0
    // with error set when it could not be started.
    virtual int64_t Start(const std::string& path, std::string& error) = 0;
    virtual void Terminate(int64_t handle) = 0;
};

class Shell {
  public:
    virtual ~Shell() = default;
    // Opens a URL or a local file with the desktop's handler; false when nothing could be
    // started.
    virtual bool Open(const std::string& urlOrPath) = 0;
    // As Open; failedLater runs (on the event loop) when the handler started but reported
    // that it could not open the target (no browser). Not run when this returns false.
    virtual bool OpenWatched(const std::string& urlOrPath, std::function<void()> failedLater) {
        (void)failedLater;
        return Open(urlOrPath);
    }
};

class ProgramExit {
  public:
    virtual ~ProgramExit() = default;
    // Ends the program at once. Never returns (the test fake throws ProgramEnded).
    [[noreturn]] virtual void Exit(int code) = 0;
};

}  // namespace kv
