// pellory export: runs the host's cache export (CacheStart, CacheRecord until
// "Eof", CacheEnd) and streams the contacts as CSV or JSON Lines. A progress
// bar (count, rate, time left) goes to the terminal when the records go to a
// file; nothing but the records is written when the output is piped.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "plugin/records.h"
#include "plugin/session.h"

#if __has_include("cli/command.h")
#include "cli/command.h"
#include "cli/json_text.h"
#define PELLORY_EXPORT_REGISTERED 1
#endif

namespace pellory::cli {
namespace {

struct ExportOptions {
  std::string format = "csv";
  std::string output;  // empty or "-": standard output
  int timeout = -1;    // seconds; -1: the stored setting
};

// The contact record's keys: the CSV columns, and the JSON keys in order.
constexpr const char16_t* kKeys[] = {u"Id",      u"Name",     u"Company",  u"Dept",     u"Position",
                                     u"MainTel", u"Fax",      u"Business", u"Phone1",   u"Phone2",
                                     u"Phone3",  u"Other",    u"Address",  u"Address2", u"Town",
                                     u"County",  u"PostCode", u"Country"};

void AppendCsv(std::string& out, TextView value) {
  std::string v = ToUtf8(value);
  if (v.find_first_of(",\"\r\n") == std::string::npos) {
    out += v;
    return;
  }
  out += '"';
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
using Values = std::array<std::optional<Text>, kKeyCount>;

// The values of a contact record by key. The plug-in writes the record as
// text entries one after another ("{Town(S5)=Leeds}"), which are read in one
// pass; anything else is read key by key with GetVar.
void ReadContact(Env& env, TextView rd, Values& values) {
  for (auto& v : values) v.reset();
  size_t pos = 0;
  bool plain = true;
  while (plain && pos < rd.size()) {
    size_t paren = rd.find(u'(', pos);
    plain = rd[pos] == u'{' && paren != TextView::npos && paren + 2 < rd.size() &&
            rd[paren + 1] == u'S';
    if (!plain) break;
    size_t length = 0, p = paren + 2;
    while (p < rd.size() && rd[p] >= u'0' && rd[p] <= u'9') length = length * 10 + (rd[p++] - u'0');
    plain = p + 1 < rd.size() && rd[p] == u')' && rd[p + 1] == u'=' && p + 2 + length < rd.size() &&
            rd[p + 2 + length] == u'}';
    if (!plain) break;
    TextView name = rd.substr(pos + 1, paren - pos - 1);
    for (size_t k = 0; k < kKeyCount; ++k) {
      if (!values[k] && EqualsNoCase(name, kKeys[k])) values[k] = Text(rd.substr(p + 2, length));
    }
    pos = p + 3 + length;
  }
  if (plain) return;
  const Variant absent = Variant::Missing();
  for (size_t k = 0; k < kKeyCount; ++k) {
    Variant v = GetVar(env, rd, kKeys[k], absent);
    if (v.is_missing()) {
      values[k].reset();
    } else {
      values[k] = v.ToText(&env.regional());
    }
  }
}

// One contact record as a CSV row or a JSON line (keys it holds, in order).
void AppendContact(Env& env, std::string& out, TextView fields, bool json, Values& values) {
  ReadContact(env, fields, values);
  bool first = true;
  out += json ? "{" : "";
  for (size_t k = 0; k < kKeyCount; ++k) {
    if (json) {
      if (!values[k]) continue;
      if (!first) out += ',';
      AppendJsonString(out, kKeys[k]);
      out += ':';
      AppendJsonString(out, *values[k]);
    } else {
      if (!first) out += ',';
      if (values[k]) AppendCsv(out, *values[k]);
    }
    first = false;
  }
  out += json ? "}\n" : "\r\n";
}

std::string Thousands(long long n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Clock(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  }
  return buf;
}

// The progress line: count (of the total when known), rate, time left.
class Progress {
 public:
  Progress(bool shown, long long total) : shown_(shown), total_(total) {}

  void Update(long long count, bool final = false) {
    if (!shown_) return;
    auto now = std::chrono::steady_clock::now();
    if (!final && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    double elapsed = std::chrono::duration<double>(now - start_).count();
    double rate = elapsed > 0 ? count / elapsed : 0;
    std::string line = "\r" + Thousands(count);
    if (total_ >= 0) {
      int percent = total_ > 0 ? static_cast<int>(100.0 * count / total_) : 100;
      int filled = percent / 5;
      line += " / " + Thousands(total_) + " records " + std::to_string(percent) + "% [" +
              std::string(filled, '#') + std::string(20 - filled, '.') + "]";
    } else {
      line += " records";
    }
    line += "  " + Thousands(static_cast<long long>(rate)) + " rec/s";
    if (final) {
      line += "  " + Clock(elapsed);
    } else if (total_ >= 0 && rate > 0) {
      line += "  " + Clock((total_ - count) / rate) + " left";
    }
    line += "\033[K";  // clears what a longer line before left
    if (final) line += "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  }

 private:
  bool shown_;
  long long total_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

// Streams the export of an initialised session into `out`. Returns the exit
// status: 0 after the last contact (or when the reader of a pipe has gone),
// 2 when the export cannot start or fails on the way.
[[maybe_unused]] int RunExport(Session& session, const ExportOptions& o, std::FILE* out,
                               bool progress_shown) {
  Env& env = session.env();
  const bool json = o.format == "jsonl";
  Text start = session.CacheStart();
  if (UpperCase(GetText(env, start, u"Result")) == u"FAIL") {
    std::cerr << "pellory export: " << ToUtf8(GetText(env, start, u"Reason")) << "\n";
    session.CacheEnd();
    return 2;
  }
  long long total =
      static_cast<long long>(GetVar(env, start, u"Records", Variant(-1.0)).ToDouble());
  Progress progress(progress_shown, total);

  std::string buffer;
  buffer.reserve(1 << 16);
  if (!json) {
    for (const char16_t* key : kKeys) {
      if (!buffer.empty()) buffer += ',';
      buffer += ToUtf8(key);
    }
    buffer += "\r\n";
  }
  long long count = 0;
  int status = 0;
  Values values;
  auto flush = [&] {
    if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) return false;
    buffer.clear();
    return true;
  };
  for (;;) {
    Text reply = session.CacheRecord();
    Text result = GetText(env, reply, u"Result");
    if (result != u"Success") {
      if (result != u"Eof") {
        std::cerr << "pellory export: stopped after " << count << " records: " << ToUtf8(reply)
                  << "\n";
        status = 2;
      }
      break;
    }
    AppendContact(env, buffer, GetText(env, reply, u"Fields"), json, values);
    ++count;
    if (buffer.size() >= (1 << 16) - 4096) {
      if (!flush()) break;
      progress.Update(count);
    }
  }
  if (flush() && std::fflush(out) == 0) {
    progress.Update(count, true);
  } else if (errno != EPIPE) {
    std::cerr << "pellory export: cannot write: " << std::strerror(errno) << "\n";
    status = 2;
  }
  session.CacheEnd();
  return status;
}

#ifdef PELLORY_EXPORT_REGISTERED
const bool registered = RegisterCommand(
    "export", "Stream every contact through the cache export, as CSV or JSON Lines",
    [](CLI::App& sub, CliContext& ctx) {
      auto o = std::make_shared<ExportOptions>();
      sub.add_option("--format", o->format, "csv (default) or jsonl")
          ->check(CLI::IsMember({"csv", "jsonl"}));
      sub.add_option("--output,-o", o->output, "Write to FILE instead of standard output");
      AddTimeoutOption(sub, o->timeout);
      sub.footer(
          "A progress bar is shown on the terminal when the records go to a file.\n"
          "Exit status: 0 when every contact was written (or the reader of the pipe "
          "stopped), 2 on failure.");
      return [o, &ctx]() -> int {
  // A reader that stops early (pellory export | head) ends the export
  // quietly instead of killing the process.
#ifdef SIGPIPE
        std::signal(SIGPIPE, SIG_IGN);
#endif
        std::FILE* out = stdout;
        const bool to_file = !o->output.empty() && o->output != "-";
        // A file is written under a name of its own beside the final one and
        // renamed when every record is in it: a failed export leaves no file
        // that looks complete.
        const std::string partial = o->output + ".partial";
        if (to_file) {
          out = std::fopen(partial.c_str(), "wb");
          if (!out) {
            std::cerr << "pellory export: cannot open " << partial << ": " << std::strerror(errno)
                      << "\n";
            return 2;
          }
        }
        int status = 2;
        try {
          OverrideTimeout(ctx, o->timeout);
          auto session = ctx.OpenSession();
          status = RunExport(*session, *o, out, to_file && isatty(STDERR_FILENO));
        } catch (...) {
          if (to_file) {
            std::fclose(out);
            std::remove(partial.c_str());
          }
          throw;
        }
        if (!to_file) return status;
        if (std::fclose(out) != 0 && status == 0) {
          std::cerr << "pellory export: cannot write " << partial << ": " << std::strerror(errno)
                    << "\n";
          status = 2;
        }
        std::error_code renamed;
        if (status == 0) std::filesystem::rename(partial, o->output, renamed);
        if (status == 0 && renamed) {
          std::cerr << "pellory export: cannot rename " << partial << " to " << o->output << ": "
                    << renamed.message() << "\n";
          status = 2;
        }
        if (status != 0) std::remove(partial.c_str());
        return status;
      };
    });
#endif

}  // namespace
}  // namespace pellory::cli
