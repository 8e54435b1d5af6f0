// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The name of Kestrovan's one-instance lock, and whether a program holds it, for Kestrovan and
// for Pelvaro, which must not change settings under a running Kestrovan.
#include <string>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif

namespace kv {

// The lock's name for the settings in folder: one per user and settings folder, so runs with
// their own settings (tests, a second account) do not meet.
std::string InstanceName(const std::string& settingsFolder);

// Whether a program of this user holds the lock of name. Only looks: the holder is not asked
// to come forward.
bool InstanceRunning(const std::string& name);

#ifndef _WIN32
// The local socket address of a lock's name: in the abstract namespace where there is one
// (Linux), a file socket under /tmp elsewhere. Returns the address's length.
socklen_t InstanceAddress(const std::string& name, sockaddr_un& addr);
#endif

}  // namespace kv
