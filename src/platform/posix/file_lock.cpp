#include "platform/posix/file_lock.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/files.h"

namespace pellory::posix {

std::string LinkTarget(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  return path;
}

FileLock::FileLock(const std::string& path) {
  const std::string target = LinkTarget(path);
  for (;;) {
    fd_ = ::open(target.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) throw std::runtime_error(target + ": " + SystemErrorMessage(errno));
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    struct stat locked, now;
    if (rc == 0 && ::fstat(fd_, &locked) == 0 && ::stat(target.c_str(), &now) == 0 &&
        locked.st_dev == now.st_dev && locked.st_ino == now.st_ino) {
      return;
    }
    const int error = rc == 0 ? 0 : errno;
    ::close(fd_);
    fd_ = -1;
    if (error != 0) throw std::runtime_error(target + ": " + SystemErrorMessage(error));
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace pellory::posix
