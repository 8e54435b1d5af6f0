// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/single_instance.h"
#include "common/win_text.h"

namespace kv {

namespace {

std::string Why(const std::string& step, DWORD error) {
    return step + ": Windows error " + std::to_string(error);
}

// Local\: the user's own session, so another user logged on beside them has a lock of their own.
std::wstring Object(const std::string& name, const char* suffix) {
    return L"Local\\" + Wide(name + suffix);
}

}  // namespace

InstanceLock::~InstanceLock() {
    Release();
}

bool InstanceLock::Held() const {
    return mutex_ != nullptr;
}

int InstanceLock::RequestSocket() const {
    return -1;
}

InstanceLock::Result InstanceLock::Acquire(const std::string& name, std::string& error) {
    if (mutex_) return Result::Acquired;
    // The event first: whoever sees the mutex can then always find the event to knock on.
    const HANDLE requests = ::CreateEventW(nullptr, FALSE, FALSE, Object(name, "-show").c_str());
    if (!requests) {
        const DWORD e = ::GetLastError();
        error = e == ERROR_ACCESS_DENIED ? "the name " + name + " is held by another user's program"
                                         : Why("CreateEvent", e);
        return Result::Failed;
    }
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Object(name, "").c_str());
    const DWORD e = ::GetLastError();
    if (!mutex) {
        ::CloseHandle(requests);
        error = e == ERROR_ACCESS_DENIED ? "the name " + name + " is held by another user's program"
                                         : Why("CreateMutex", e);
        return Result::Failed;
    }
    if (e == ERROR_ALREADY_EXISTS) {
        // Taken: setting the event is the request to come forward.
        ::SetEvent(requests);
        ::CloseHandle(requests);
        ::CloseHandle(mutex);
        return Result::HeldElsewhere;
    }
    mutex_ = mutex;
    requests_ = requests;
    return Result::Acquired;
}

bool InstanceLock::TakeRequest() {
    if (!requests_) return false;
    return ::WaitForSingleObject(static_cast<HANDLE>(requests_), 0) == WAIT_OBJECT_0;
}

void InstanceLock::Release() {
    if (!mutex_) return;
    ::CloseHandle(static_cast<HANDLE>(mutex_));
    ::CloseHandle(static_cast<HANDLE>(requests_));
    mutex_ = nullptr;
    requests_ = nullptr;
}

}  // namespace kv
