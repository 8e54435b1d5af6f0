// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One running Kestrovan per user's settings. The lock is a listening local socket whose name
// lives in the kernel (the abstract namespace), not in a file: nothing on disk can be deleted
// from under it, a read-only settings folder does not matter, and the kernel frees the name
// however the holder ends. A second start connects to it, which is also how it asks the
// running program to show its window. On Windows the lock is a named mutex of the user's
// session and the knock an event beside it; the system frees both with their last handle.
#include <string>

#include "common/instance_probe.h"

namespace kv {

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum class Result {
        Acquired,       // this process holds the name
        HeldElsewhere,  // the user's running program holds it and was asked to come forward
        Failed,         // no lock could be had (error says why); the caller must not run
    };
    // name: from InstanceName. Holding it again returns Acquired.
    Result Acquire(const std::string& name, std::string& error);
    bool Held() const;
    void Release();

    // The listening socket, for the event loop to watch for a second start (-1 when not held,
    // and on Windows, where the event loop asks TakeRequest now and then instead).
    int RequestSocket() const;
    // Takes one waiting connection; true when it came from this user (a second start).
    // Connections of other users are closed and ignored.
    bool TakeRequest();

  private:
#ifdef _WIN32
    void* mutex_ = nullptr;     // HANDLE
    void* requests_ = nullptr;  // HANDLE of the auto-reset event a second start sets
#else
    int fd_ = -1;
#endif
};

}  // namespace kv
