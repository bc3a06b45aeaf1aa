// The statement log, the SQL functions ucase and lcase, and SQLSTATEs for SQLite failures.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "driver.h"
#include "text.h"

namespace maxodbc {

void LogStatement(std::string_view text) {
  const char* path = std::getenv("PELLORY_MAXODBC_LOG");
  if (path == nullptr || *path == '\0') return;
  // One line per statement: line breaks inside the text are written as blanks.
  std::string line(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line += '\n';
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  if (FILE* f = std::fopen(path, "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
}

bool AsyncExecutionOffered() {
  const char* off = std::getenv("PELLORY_MAXODBC_NO_ASYNC");
  return off == nullptr || *off == '\0' || std::string_view(off) == "0";
}

namespace {

template <char32_t (*Map)(char32_t)>
void MapCase(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (argc != 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* data = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const int bytes = sqlite3_value_bytes(argv[0]);
  if (data == nullptr) {
    sqlite3_result_null(context);
    return;
  }
  const std::string_view in(data, static_cast<std::size_t>(bytes));
  // A malformed byte becomes U+FFFD (three bytes); the case mappings never lengthen a character.
  auto* out = static_cast<char*>(sqlite3_malloc64(static_cast<sqlite3_uint64>(bytes) * 3 + 1));
  if (out == nullptr) {
    sqlite3_result_error_nomem(context);
    return;
  }
  std::size_t written = 0;
  std::size_t pos = 0;
  std::string buffer;
  while (pos < in.size()) {
    const auto lead = static_cast<unsigned char>(in[pos]);
    if (lead < 0x80) {
      out[written++] = static_cast<char>(Map(lead));
      ++pos;
      continue;
    }
    buffer.clear();
    AppendUtf8(buffer, Map(DecodeUtf8(in, pos)));
    for (char c : buffer) out[written++] = c;
  }
  sqlite3_result_text64(context, out, written, sqlite3_free, SQLITE_UTF8);
}

}  // namespace

bool RegisterFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  return sqlite3_create_function_v2(db, "ucase", 1, flags, nullptr, MapCase<UpperCase>, nullptr,
                                    nullptr, nullptr) == SQLITE_OK &&
         sqlite3_create_function_v2(db, "lcase", 1, flags, nullptr, MapCase<LowerCase>, nullptr,
                                    nullptr, nullptr) == SQLITE_OK;
}

std::string StateForSqliteError(int code, std::string_view message) {
  if (code == SQLITE_INTERRUPT) return "HY008";
  if (message.rfind("no such column", 0) == 0) return "42S22";
  if (message.rfind("no such table", 0) == 0) return "42S02";
  if (message.rfind("no such function", 0) == 0 ||
      message.find("syntax error") != std::string_view::npos ||
      message.rfind("wrong number of arguments", 0) == 0 ||
      message.rfind("unrecognized token", 0) == 0 || message.rfind("incomplete input", 0) == 0 ||
      message.rfind("ambiguous column name", 0) == 0) {
    return "42000";
  }
  return "HY000";
}

}  // namespace maxodbc
