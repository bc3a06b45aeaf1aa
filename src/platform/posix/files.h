// File chores of the POSIX adapters: writing every byte, replacing a file
// whole, and an advisory lock shared by every Pellory process.
#pragma once

#include <string>
#include <string_view>

namespace pellory::posix {

// The system's text for an errno value.
std::string ErrnoText(int error);

// Writes all of `bytes` to `fd`, retrying after signals. False with errno
// set when the system refuses.
bool WriteAll(int fd, std::string_view bytes);

// Reads a whole file. False with errno set when it cannot be read; a
// missing file is ENOENT.
bool ReadWholeFile(const std::string& path, std::string* bytes);

// Replaces the file at `path` with `bytes`: a new file is written beside it,
// flushed and renamed over the old one, so a reader sees the old content or
// the new one, never a part. A link at `path` is replaced through: its
// target gets the new content. The new file keeps the old one's permissions
// (`mode` for a file that did not exist). Throws std::runtime_error with the
// reason.
void ReplaceFile(const std::string& path, std::string_view bytes, unsigned mode = 0600);

// An exclusive advisory lock that every Pellory process takes before it
// rewrites a shared file, held on the file itself (created empty when
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

}  // namespace pellory::posix
