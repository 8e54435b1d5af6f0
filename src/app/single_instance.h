#pragma once
// One running Kestrovan per user. The lock is an flock on a file, so the kernel drops it when
// the holder ends in any way: a crash can never leave a stale lock behind.
#include <string>

namespace kv {

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum class Result { Acquired, HeldElsewhere, Failed };
    // Takes the lock at path (the folder is created when missing). Failed: the file could not
    // be opened or locked for another reason (error tells why); the caller decides.
    Result Acquire(const std::string& path, std::string& error);
    bool Held() const { return fd_ >= 0; }
    void Release();

  private:
    int fd_ = -1;
};

}  // namespace kv
