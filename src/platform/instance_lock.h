// One running copy per user: an exclusive flock on a lock file stands in for
// the named system mutex. The kernel drops the lock when the process ends,
// even by a crash, so a stale file never blocks the next start.
#pragma once

#include <string>

namespace kestovane {

class InstanceLock {
 public:
  enum class Result { Acquired, AlreadyRunning, Unavailable };

  InstanceLock() = default;
  ~InstanceLock() { Release(); }
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // The lock file for a name: in $XDG_RUNTIME_DIR, or in a private folder
  // of the user under the temporary folder when that is unset.
  static std::string PathFor(const std::string& name);

  Result Acquire(const std::string& name);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace kestovane
