#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kestovane {

std::string InstanceLock::PathFor(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string dir;
  if (runtime && *runtime) {
    dir = runtime;
  } else {
    const char* tmp = std::getenv("TMPDIR");
    dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestovane-" + std::to_string(getuid());
    // Private to the user so that nobody else can hold our lock file.
    mkdir(dir.c_str(), 0700);
  }
  return dir + "/" + name + ".lock";
}

InstanceLock::Result InstanceLock::Acquire(const std::string& name) {
  Release();
  const std::string path = PathFor(name);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Result::Unavailable;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? Result::AlreadyRunning : Result::Unavailable;
  }
  fd_ = fd;
  return Result::Acquired;
}

void InstanceLock::Release() {
  if (fd_ < 0) return;
  flock(fd_, LOCK_UN);
  close(fd_);
  fd_ = -1;
}

}  // namespace kestovane
