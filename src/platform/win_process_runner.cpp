// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "platform/win_process_runner.h"
#include "common/win_text.h"

#include <string>

namespace kv {

namespace {

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n > 0) {
        const int len = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                              nullptr, nullptr);
        out.resize(static_cast<size_t>(len));
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), len, nullptr,
                              nullptr);
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
            out.pop_back();
    }
    if (text) ::LocalFree(text);
    if (out.empty()) out = "Windows error " + std::to_string(error);
    return out;
}

void Close(void* process, void* job) {
    ::CloseHandle(static_cast<HANDLE>(process));
    ::CloseHandle(static_cast<HANDLE>(job));
}

}  // namespace

WinProcessRunner::~WinProcessRunner() {
    // Only our handles go; the programs keep running.
    for (const auto& [pid, child] : children_) Close(child.process, child.job);
}

bool WinProcessRunner::FileExists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int64_t WinProcessRunner::Start(const std::string& path, std::string& error) {
    Reap();
    const std::wstring app = Wide(path);
    // The program's own name as its only argument, quoted, as the system would pass it.
    std::wstring commandLine = L"\"" + app + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // Suspended until it is in its job, so nothing it starts can escape the job.
    if (!::CreateProcessW(app.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si,
                          &pi)) {
        error = SystemMessage(::GetLastError());
        return 0;
    }
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job && !::AssignProcessToJobObject(job, pi.hProcess)) {
        // Already in a job that allows no other (an old system): it runs without one.
        ::CloseHandle(job);
        job = nullptr;
    }
    ::ResumeThread(pi.hThread);
    ::CloseHandle(pi.hThread);
    children_[pi.dwProcessId] = Child{pi.hProcess, job};
    return pi.dwProcessId;
}

void WinProcessRunner::Terminate(int64_t handle) {
    Reap();
    const auto it = children_.find(handle);
    if (it == children_.end()) return;
    const HANDLE process = static_cast<HANDLE>(it->second.process);
    if (it->second.job)
        ::TerminateJobObject(static_cast<HANDLE>(it->second.job), 1);
    else
        ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, 10000);
    Close(it->second.process, it->second.job);
    children_.erase(it);
}

void WinProcessRunner::Reap() {
    for (auto it = children_.begin(); it != children_.end();) {
        if (::WaitForSingleObject(static_cast<HANDLE>(it->second.process), 0) == WAIT_OBJECT_0) {
            Close(it->second.process, it->second.job);
            it = children_.erase(it);
        } else {
            ++it;
        }
    }
}

bool WinProcessRunner::IsAlive(int64_t handle) const {
    const auto it = children_.find(handle);
    return it != children_.end() &&
           ::WaitForSingleObject(static_cast<HANDLE>(it->second.process), 0) == WAIT_TIMEOUT;
}

}  // namespace kv
