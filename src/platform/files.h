// File chores shared by the adapters and the programs: reading a file,
// replacing one whole, making private folders, writing every byte, and the
// system's message for a failure. One implementation per system
// (posix/files.cpp, win32/files.cpp); paths are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace pellory {

#ifdef _WIN32
using NativeFile = void*;  // a HANDLE
#else
using NativeFile = int;  // a file descriptor
#endif

// The error number of the last system call that failed on this thread:
// errno, or GetLastError() on Windows.
int LastSystemError();

// The system's message for such an error number, without a line end.
std::string SystemErrorMessage(int error);

// Whether the error says that a file, or a folder on its path, does not exist.
bool IsNotFoundError(int error);

// Writes all of `bytes` to `file`, retrying after signals and short writes.
// False when the system refuses; LastSystemError() says why.
bool WriteAll(NativeFile file, std::string_view bytes);

// Reads a whole file. False when it cannot be read (a folder cannot);
// LastSystemError() says why, IsNotFoundError() of it for a missing file.
bool ReadWholeFile(const std::string& path, std::string* bytes);

// Replaces the file at `path` with `bytes`: a new file is written beside it,
// flushed and renamed over the old one, so a reader sees the old content or
// the new one, never a part. The new file keeps the old one's permissions
// (`mode` for a file that did not exist; on Windows the old file's security
// and attributes, or the folder's for a new file). On POSIX a link at `path`
// is replaced through: its target gets the new content. Throws
// std::runtime_error "<file>: <reason>".
void ReplaceFileAtomically(const std::string& path, std::string_view bytes, unsigned mode = 0600);

// The folder part of `path`: everything before its last separator ("/", and
// "\" on Windows); empty when there is none or it is the root.
std::string ParentFolder(const std::string& path);

// Creates the folder `folder` and every missing one above it, private to the
// user: mode 0700 on POSIX, the permissions they inherit on Windows. Folders
// that exist are left as they are; one that cannot be made is left for the
// write that follows to report.
void MakePrivateFolders(const std::string& folder);

}  // namespace pellory
