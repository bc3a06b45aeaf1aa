// The driver manager's data-source file (unixODBC's odbc.ini) edited the way
// several processes can share it: a change is written beside the file and
// renamed over it under an advisory lock, so a reader never sees it
// truncated or half written; nothing is written when the file already says
// what is wanted; and every line the change is not about (other sections,
// comments, blank lines, the layout of kept keys) stays byte for byte.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellory::odbc {

struct IniEntry {
  std::string key;
  std::string value;
};

// Edits of the file's text. Each gives the new text, or nullopt when the
// text already is as asked. Section and key names compare without regard to
// ASCII case, and values with outer blanks trimmed, as unixODBC reads them.

// The section `dsn` holding exactly `entries` (a later entry of a key wins).
// Kept keys stay where they are; new ones follow the section's last key; a
// new section goes at the end.
std::optional<std::string> WithSection(std::string_view ini, std::string_view dsn,
                                       const std::vector<IniEntry>& entries);
// One key of `dsn` set, the section made when missing.
std::optional<std::string> WithValue(std::string_view ini, std::string_view dsn,
                                     const IniEntry& entry);
// The section `dsn` removed with its keys (comments and blank lines inside it
// go too; those before its header stay).
std::optional<std::string> WithoutSection(std::string_view ini, std::string_view dsn);

// Where unixODBC keeps the user's (`system` false) or the system's sources.
std::string OdbcIniPath(bool system);

// Applies `edit` to the file at `path` under the lock and replaces the file
// when the edit changes it. Returns whether it was written. Throws
// std::runtime_error with the reason when the file cannot be read or written.
bool EditIniFile(const std::string& path,
                 const std::function<std::optional<std::string>(std::string_view)>& edit);

}  // namespace pellory::odbc
