#include "platform/odbc/odbc_ini.h"

#include <limits.h>
#include <odbcinst.h>

#include <stdexcept>

#include "platform/files.h"
#include "platform/odbc/odbc_api.h"
#include "platform/posix/file_lock.h"

// unixODBC's own answer to where the data sources live (its private API,
// exported by libodbcinst): $ODBCINI or ~/.odbc.ini, and $ODBCSYSINI/odbc.ini
// or the system folder's.
extern "C" BOOL _odbcinst_UserINI(char* path, BOOL verify);
extern "C" BOOL _odbcinst_SystemINI(char* path, BOOL verify);

namespace pellory::odbc {
namespace {

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One line of the file as unixODBC reads it.
struct Line {
  enum class Kind { kOther, kSection, kKey };
  std::string_view text;  // the line with its ending
  Kind kind = Kind::kOther;
  std::string_view name;   // section or key name
  std::string_view value;  // key value
};

std::vector<Line> Lines(std::string_view ini) {
  std::vector<Line> lines;
  while (!ini.empty()) {
    size_t end = ini.find('\n');
    end = end == std::string_view::npos ? ini.size() : end + 1;
    Line line;
    line.text = ini.substr(0, end);
    ini.remove_prefix(end);
    std::string_view body = TrimBlanks(line.text);
    if (body.empty() || body.front() == '#' || body.front() == ';') {
      // blank or comment
    } else if (body.front() == '[') {
      line.kind = Line::Kind::kSection;
      size_t close = body.find(']');
      line.name =
          TrimBlanks(body.substr(1, close == std::string_view::npos ? body.size() - 1 : close - 1));
    } else {
      line.kind = Line::Kind::kKey;
      size_t eq = body.find('=');
      line.name = TrimBlanks(body.substr(0, eq));
      if (eq != std::string_view::npos) line.value = TrimBlanks(body.substr(eq + 1));
    }
    lines.push_back(line);
  }
  return lines;
}

// Where the first section of that name starts and ends (its header line and
// the line after its last); npos when there is none.
struct Span {
  size_t header = std::string_view::npos;
  size_t end = 0;
};

Span FindSection(const std::vector<Line>& lines, std::string_view dsn) {
  Span span;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::Kind::kSection) continue;
    if (span.header != std::string_view::npos) {
      span.end = i;
      return span;
    }
    if (SameName(lines[i].name, dsn)) span.header = i;
  }
  span.end = lines.size();
  return span;
}

std::string KeyLine(const IniEntry& e) { return e.key + "=" + e.value + "\n"; }

// The text with a new section appended: after a blank line, as unixODBC
// separates its sections.
std::string Appended(std::string_view ini, std::string_view dsn,
                     const std::vector<IniEntry>& entries) {
  std::string out(ini);
  if (!out.empty() && out.back() != '\n') out += '\n';
  if (!out.empty() && !TrimBlanks(Lines(ini).back().text).empty()) out += '\n';
  out += "[";
  out += dsn;
  out += "]\n";
  for (const IniEntry& e : entries) out += KeyLine(e);
  return out;
}

// The wanted entries with every key once, a later value winning.
std::vector<IniEntry> Distinct(const std::vector<IniEntry>& entries) {
  std::vector<IniEntry> out;
  for (const IniEntry& e : entries) {
    bool replaced = false;
    for (IniEntry& o : out) {
      if (SameName(o.key, e.key)) {
        o.value = e.value;
        replaced = true;
      }
    }
    if (!replaced) out.push_back(e);
  }
  return out;
}

// Rewrites the keys of the section at `span`: `keep` decides for each key
// line whether it stays (possibly with a new value); `extra` follows the last
// key.
std::string Rewritten(const std::vector<Line>& lines, Span span,
                      const std::function<std::optional<std::string>(const Line&)>& keep,
                      const std::string& extra) {
  size_t last_key = span.header;
  for (size_t i = span.header + 1; i < span.end; ++i) {
    if (lines[i].kind == Line::Kind::kKey) last_key = i;
  }
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (i > span.header && i < span.end && line.kind == Line::Kind::kKey) {
      if (std::optional<std::string> kept = keep(line)) out += *kept;
    } else {
      out += line.text;
    }
    if (i == last_key && !extra.empty()) {
      if (!out.empty() && out.back() != '\n') out += '\n';
      out += extra;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> WithSection(std::string_view ini, std::string_view dsn,
                                       const std::vector<IniEntry>& entries) {
  const std::vector<IniEntry> wanted = Distinct(entries);
  const std::vector<Line> lines = Lines(ini);
  const Span span = FindSection(lines, dsn);
  if (span.header == std::string_view::npos) return Appended(ini, dsn, wanted);

  // Already as wanted: each key once, with the wanted value, and no other.
  std::vector<bool> seen(wanted.size(), false);
  bool same = true;
  for (size_t i = span.header + 1; i < span.end && same; ++i) {
    if (lines[i].kind != Line::Kind::kKey) continue;
    same = false;
    for (size_t w = 0; w < wanted.size(); ++w) {
      if (!seen[w] && SameName(lines[i].name, wanted[w].key) &&
          lines[i].value == TrimBlanks(wanted[w].value)) {
        seen[w] = same = true;
        break;
      }
    }
  }
  for (bool s : seen) same = same && s;
  if (same) return std::nullopt;

  std::vector<bool> written(wanted.size(), false);
  auto keep = [&](const Line& line) -> std::optional<std::string> {
    for (size_t w = 0; w < wanted.size(); ++w) {
      if (!SameName(line.name, wanted[w].key)) continue;
      if (written[w]) return std::nullopt;  // a second line of the same key
      written[w] = true;
      if (line.value == TrimBlanks(wanted[w].value)) return std::string(line.text);
      return KeyLine(wanted[w]);
    }
    return std::nullopt;
  };
  // Which keys are new is known only after the pass; run it once to learn.
  for (size_t i = span.header + 1; i < span.end; ++i) {
    if (lines[i].kind == Line::Kind::kKey) keep(lines[i]);
  }
  std::string extra;
  for (size_t w = 0; w < wanted.size(); ++w) {
    if (!written[w]) extra += KeyLine(wanted[w]);
  }
  written.assign(wanted.size(), false);
  return Rewritten(lines, span, keep, extra);
}

std::optional<std::string> WithValue(std::string_view ini, std::string_view dsn,
                                     const IniEntry& entry) {
  const std::vector<Line> lines = Lines(ini);
  const Span span = FindSection(lines, dsn);
  if (span.header == std::string_view::npos) return Appended(ini, dsn, {entry});
  bool found = false, changed = false;
  auto keep = [&](const Line& line) -> std::optional<std::string> {
    if (!SameName(line.name, entry.key)) return std::string(line.text);
    if (found) {
      changed = true;  // later lines of the key would hide nothing; drop them
      return std::nullopt;
    }
    found = true;
    if (line.value == TrimBlanks(entry.value)) return std::string(line.text);
    changed = true;
    return KeyLine(entry);
  };
  std::string out = Rewritten(lines, span, keep, "");
  if (!found)
    return Rewritten(
        lines, span, [](const Line& l) { return std::string(l.text); }, KeyLine(entry));
  if (!changed) return std::nullopt;
  return out;
}

std::optional<std::string> WithoutSection(std::string_view ini, std::string_view dsn) {
  const std::vector<Line> lines = Lines(ini);
  const Span span = FindSection(lines, dsn);
  if (span.header == std::string_view::npos) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i < span.header || i >= span.end) out += lines[i].text;
  }
  return out;
}

std::string OdbcIniPath(bool system) {
  char path[PATH_MAX + 1] = {0};
  if (system) {
    _odbcinst_SystemINI(path, 0);
  } else {
    _odbcinst_UserINI(path, 0);
  }
  return path;
}

bool EditIniFile(const std::string& path,
                 const std::function<std::optional<std::string>(std::string_view)>& edit) {
  auto read = [&] {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes) && !IsNotFoundError(LastSystemError())) {
      throw std::runtime_error(path + ": " + SystemErrorMessage(LastSystemError()));
    }
    return bytes;
  };
  // Most start-ups find the file as they want it: no lock, no write.
  if (!edit(read())) return false;
  posix::FileLock lock(path);
  std::optional<std::string> changed = edit(read());
  if (!changed) return false;
  ReplaceFileAtomically(path, *changed);
  // unixODBC keeps what it read for a while in each process; a write of its
  // own forgets that. This one changes no file (it empties a section that
  // /dev/null cannot hold); it is made for that alone, and its answer is
  // ignored.
  std::unique_lock<std::shared_mutex> configuration(ConfigurationLock());
  (void)SQLWritePrivateProfileString("Pellory", nullptr, nullptr, "/dev/null");
  return true;
}

}  // namespace pellory::odbc
