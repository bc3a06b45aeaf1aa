// An advisory lock that every Pellory process takes before it rewrites a
// shared file (POSIX).
#pragma once

#include <string>

namespace pellory::posix {

// An exclusive advisory lock held on the file itself (created empty when
// missing). A writer that held it may have renamed a new file into place
// meanwhile; the lock is only taken on the file that the path names now.
// Blocks until the lock is free; throws std::runtime_error with the reason.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

// The file a path names once its links are followed; the path itself when
// it does not exist yet.
std::string LinkTarget(const std::string& path);

}  // namespace pellory::posix
