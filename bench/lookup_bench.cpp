// Contact lookup against raw ODBC: each plug-in operation runs side by side
// with the same statement executed straight through the same driver manager
// and driver. bench/run-lookup.sh prepares the address books and servers and
// prints the ratios; run it rather than this program.
//
// Environment:
//   PELLORY_BENCH_BOOK    address-book directory (file mode, stand-in driver)
//   PELLORY_BENCH_SQLITE  the same book's mxza.max, for the SQLite ODBC driver
//   PELLORY_BENCH_PG      connect string of a PostgreSQL database holding Client
//   PELLORY_BENCH_MARIADB connect string of a MariaDB database holding Client
//   PELLORY_BENCH_ROWS    number of contacts in the book (for the names)
// Also: lookup_bench --export-rss file|sqlite|pg  runs one export and prints
// the process's peak resident size in KiB; lookup_bench --search-rss does
// the same for 20 number searches with SqlFilter "Server" (lookup_bench
// --search-rss pg|mariadb).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if __has_include("platform/odbc/odbc_engines.h") && __has_include("platform/posix/reg_registry.h")
#define PELLORY_BENCH_ODBC 1
#include <sql.h>
#include <sqlext.h>

#include "assembly.h"
#include "lookup/lookup.h"
#include "lookup/phone_number.h"
#include "platform/odbc/odbc_engines.h"
#include "platform/posix/posix_env.h"
#include "platform/posix/reg_registry.h"
#include "plugin/records.h"
#include "plugin/text_functions.h"
#endif

#ifdef PELLORY_BENCH_ODBC
namespace {

using pellory::Text;
using pellory::TextView;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::vector<SQLWCHAR> Wide(TextView text) {
  std::vector<SQLWCHAR> w(text.begin(), text.end());
  w.push_back(0);
  return w;
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) return;
  SQLCHAR state[6] = {}, message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRecA(type, handle, 1, state, &native, message, sizeof message, &length);
  std::fprintf(stderr, "raw ODBC: %s failed: %s %s\n", what, state, message);
  std::exit(3);
}

// The baseline: one connection, statements executed directly, every result
// column bound as wide text into buffers reused row after row.
class RawOdbc {
 public:
  // `async`: statements run with SQL_ATTR_ASYNC_ENABLE and are polled until
  // done, as the plug-in's searches are.
  explicit RawOdbc(const Text& connect, bool async = false) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    auto w = Wide(connect);
    Check(SQLDriverConnectW(dbc_, nullptr, w.data(), SQL_NTS, nullptr, 0, nullptr,
                            SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc_, "connect");
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
    if (async) {
      SQLSetStmtAttr(stmt_, SQL_ATTR_ASYNC_ENABLE,
                     reinterpret_cast<SQLPOINTER>(SQL_ASYNC_ENABLE_ON), 0);
    }
  }
  ~RawOdbc() {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  // Executes `sql` and fetches up to `max_rows` rows; returns the rows read.
  long Fetch(TextView sql, long max_rows = -1) {
    auto w = Wide(sql);
    SQLRETURN rc;
    while ((rc = SQLExecDirectW(stmt_, w.data(), SQL_NTS)) == SQL_STILL_EXECUTING) {
      std::this_thread::yield();
    }
    Check(rc, SQL_HANDLE_STMT, stmt_, "execute");
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt_, &columns);
    buffers_.resize(columns);
    lengths_.resize(columns);
    for (SQLSMALLINT c = 0; c < columns; ++c) {
      buffers_[c].resize(kWidth);
      SQLBindCol(stmt_, c + 1, SQL_C_WCHAR, buffers_[c].data(), kWidth * sizeof(SQLWCHAR),
                 &lengths_[c]);
    }
    long rows = 0;
    while (max_rows < 0 || rows < max_rows) {
      SQLRETURN rc = SQLFetch(stmt_);
      if (rc == SQL_NO_DATA) break;
      Check(rc, SQL_HANDLE_STMT, stmt_, "fetch");
      ++rows;
      benchmark::DoNotOptimize(buffers_[0].data());
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeStmt(stmt_, SQL_UNBIND);
    return rows;
  }

  // The first column of the first row of `sql`.
  Text Scalar(TextView sql) {
    Fetch(sql, 1);
    return Text(reinterpret_cast<const char16_t*>(buffers_[0].data()));
  }

 private:
  static constexpr size_t kWidth = 512;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<std::vector<SQLWCHAR>> buffers_;
  std::vector<SQLLEN> lengths_;
};

// The plug-in as the host drives it, over the POSIX platform with the ODBC
// engines and the registry file wired in.
struct Plugin {
  pellory::PosixEnv env;
  std::unique_ptr<pellory::Session> session;

  Plugin(const Text& data_rd) {
    env.set_databases(std::make_unique<pellory::OdbcEngines>());
    env.set_registry(std::make_unique<pellory::RegFileRegistry>(
        pellory::DefaultRegistryPath(), pellory::MakeOdbcDataSourceStore()));
    session = std::make_unique<pellory::Session>(env, pellory::WireSubsystems);
    Text data = data_rd, user;
    pellory::ObjectRef callback;
    session->Initialize(data, user, callback);
    Text vars;
    Text reply = session->Load(vars);
    if (reply.find(u"Success") == Text::npos) {
      std::fprintf(stderr, "plug-in load failed: %s\n", pellory::ToUtf8(reply).c_str());
      std::exit(3);
    }
  }

  // Runs the whole export; returns the records handed out.
  long Export() {
    long records = 0;
    session->CacheStart();
    for (;;) {
      Text reply = session->CacheRecord();
      if (reply.compare(0, 20, u"{Result(S7)=Success}") != 0) break;
      ++records;
    }
    session->CacheEnd();
    return records;
  }
};

Text Record(std::initializer_list<std::pair<const char16_t*, Text>> entries) {
  pellory::PosixEnv env;
  Text rd;
  for (const auto& [name, value] : entries) pellory::AddVar(env, rd, name, pellory::Variant(value));
  return rd;
}

struct Setup {
  std::string label;  // 10k, 1M
  Text book, sqlite, pg, mariadb;
  Text phone, reversed, word;
  // A British number stored in national form ("01632 960123") and the
  // same line dialled in E.164 ("+441632960123"), whose digits no stored
  // number holds: found only by the second step of NumberMatch "Any".
  Text national, e164;
  long rows = 0;
};

Setup ReadSetup() {
  Setup s;
  s.label = Env("PELLORY_BENCH_LABEL");
  s.book = pellory::FromUtf8(Env("PELLORY_BENCH_BOOK"));
  s.sqlite = pellory::FromUtf8(Env("PELLORY_BENCH_SQLITE"));
  s.pg = pellory::FromUtf8(Env("PELLORY_BENCH_PG"));
  s.mariadb = pellory::FromUtf8(Env("PELLORY_BENCH_MARIADB"));
  if (s.sqlite.empty()) {
    std::fprintf(stderr, "PELLORY_BENCH_SQLITE is not set: run bench/run-lookup.sh\n");
    std::exit(3);
  }
  // A number and a surname from the middle of the book.
  RawOdbc probe(u"DRIVER={SQLite3 ODBC Driver};Database=" + s.sqlite);
  s.rows = std::stol(pellory::ToUtf8(probe.Scalar(u"select count(*) from Client")));
  Text offset = pellory::IntegerText(s.rows / 2);
  s.phone =
      probe.Scalar(u"select PHONE_1 from Client where PHONE_1 <> '' limit 1 offset " + offset);
  s.word = probe.Scalar(u"select Name from Client where Name_Type = 'I' limit 1 offset " + offset);
  Text digits;
  for (char16_t c : s.phone) {
    if ((c >= u'0' && c <= u'9') || c == u'*' || c == u'#') digits.insert(digits.begin(), c);
  }
  s.reversed = digits;
  s.national = probe.Scalar(
      u"select PHONE_1 from Client where COUNTRY = 'United Kingdom' and PHONE_1 like '0%' limit 1 "
      u"offset " +
      pellory::IntegerText(s.rows / 10));
  const auto number = pellory::lookup::Interpret(s.national, *pellory::lookup::FindRegion(u"GB"));
  if (!number) {
    std::fprintf(stderr, "no British number in national form in the book\n");
    std::exit(3);
  }
  s.e164 = pellory::lookup::E164(*number);
  return s;
}

Text FileSettings(const Setup& s) { return Record({{u"DBFile", s.book}}); }

Text FileAnySettings(const Setup& s) {
  return Record({{u"DBFile", s.book}, {u"NumberMatch", u"Any"}, {u"Region", u"GB"}});
}

// SQL mode; `filter` is SqlFilter (empty: absent, the full read).
Text SqlSettings(const Text& connect, const Text& driver, const Text& filter = Text()) {
  Text connection =
      Record({{u"ConnName", u"PelloryBench"}, {u"Connect", connect}, {u"Driver", driver}});
  return Record({{u"UseSQL", u"True"}, {u"Connection", connection}, {u"SqlFilter", filter}});
}

Text SqliteConnect(const Setup& s) { return u"DRIVER={SQLite3 ODBC Driver};Database=" + s.sqlite; }

Text FileRawConnect() { return u"DSN=Maximizer SP1;UID=MASTER;PWD=KESTREL"; }

const Text kColumns = pellory::lookup::kColumnList;

// The statement a file-mode number search sends with all four fields on.
Text NumberStatement(const Setup& s) {
  Text sql = u"select * from Client where ";
  for (int n = 1; n <= 4; ++n) {
    if (n > 1) sql += u" or ";
    sql += u"Reverse_Phone_" + pellory::IntegerText(n) + u" = '" + s.reversed + u"'";
  }
  return sql;
}

Text WordsStatement(const Setup& s) {
  Text t = pellory::WordsOnly(s.word);
  for (char16_t& c : t) {
    if (c == u',') c = u'%';
  }
  return u"select * from Client where (ucase(Name) like '%" + t + u"%') or (ucase(Firm) like '%" +
         t + u"%')";
}

void Name(benchmark::internal::Benchmark* b, int repetitions) {
  b->UseRealTime()
      ->Repetitions(repetitions)
      ->ReportAggregatesOnly(true)
      ->Unit(benchmark::kMillisecond);
}

void RegisterAll(const Setup& s) {
  const std::string n = "/" + s.label;
  const bool big = s.rows > 100000;
  const int scan_reps = big ? 3 : 10;
  // Both sides live for the whole run: the plug-in's session registers
  // Maximizer SP1, through which the raw side connects.
  static Plugin* file = new Plugin(FileSettings(s));
  static RawOdbc* file_raw = new RawOdbc(FileRawConnect());
  static RawOdbc* file_raw_async = new RawOdbc(FileRawConnect(), true);
  static Plugin* sqlite = new Plugin(SqlSettings(SqliteConnect(s), u"SQLite3 ODBC Driver"));
  static RawOdbc* sqlite_raw = new RawOdbc(SqliteConnect(s));
  static Plugin* pg = s.pg.empty() ? nullptr : new Plugin(SqlSettings(s.pg, u"PostgreSQL Unicode"));
  static RawOdbc* pg_raw = s.pg.empty() ? nullptr : new RawOdbc(s.pg);
  static Plugin* mariadb =
      s.mariadb.empty() ? nullptr : new Plugin(SqlSettings(s.mariadb, u"MariaDB Unicode"));
  static RawOdbc* mariadb_raw = s.mariadb.empty() ? nullptr : new RawOdbc(s.mariadb);

  // 1. File mode, number search over the indexed reversed phones.
  const Text tel_request = Record({{u"Tel", s.phone}});
  Name(benchmark::RegisterBenchmark(("file_number/plugin" + n).c_str(),
                                    [=](benchmark::State& st) {
                                      for (auto _ : st) {
                                        Text r = file->session->FindContact(tel_request);
                                        benchmark::DoNotOptimize(r);
                                      }
                                    }),
       15);
  const Text number_sql = NumberStatement(s);
  Name(benchmark::RegisterBenchmark(("file_number/raw" + n).c_str(),
                                    [=](benchmark::State& st) {
                                      for (auto _ : st)
                                        benchmark::DoNotOptimize(file_raw->Fetch(number_sql));
                                    }),
       15);

  Name(benchmark::RegisterBenchmark(("file_number/raw_async" + n).c_str(),
                                    [=](benchmark::State& st) {
                                      for (auto _ : st) {
                                        benchmark::DoNotOptimize(file_raw_async->Fetch(number_sql));
                                      }
                                    }),
       15);

  // 1b. File mode, NumberMatch "Any": the number dialled in E.164 where the
  // book holds it in national form, so the first step finds nothing and the
  // second fetches the candidates by the range of the reversed phones;
  // against the exact lookup of the same contact by its stored digits.
  static Plugin* file_any = new Plugin(FileAnySettings(s));
  const Text any_request = Record({{u"Tel", s.e164}});
  const Text exact_request = Record({{u"Tel", s.national}});
  {
    const Text any = file_any->session->FindContact(any_request);
    const Text exact = file->session->FindContact(exact_request);
    if (any.find(u"{Match(S4)=Same}") == Text::npos ||
        pellory::GetText(file_any->env, any, u"Id") != pellory::GetText(file->env, exact, u"Id")) {
      std::fprintf(stderr, "the any-format lookup of %s did not find %s: %s\n",
                   pellory::ToUtf8(s.e164).c_str(), pellory::ToUtf8(s.national).c_str(),
                   pellory::ToUtf8(any).c_str());
      std::exit(3);
    }
  }
  Name(benchmark::RegisterBenchmark(("file_any/plugin" + n).c_str(),
                                    [=](benchmark::State& st) {
                                      for (auto _ : st) {
                                        Text r = file_any->session->FindContact(any_request);
                                        benchmark::DoNotOptimize(r);
                                      }
                                    }),
       15);
  Name(benchmark::RegisterBenchmark(("file_any/exact" + n).c_str(),
                                    [=](benchmark::State& st) {
                                      for (auto _ : st) {
                                        Text r = file->session->FindContact(exact_request);
                                        benchmark::DoNotOptimize(r);
                                      }
                                    }),
       15);

  // 2. SQL mode, number search: a full read of the 25 columns.
  const Text miss_request = Record({{u"Tel", u"999999999999"}});
  const Text sql_all = u"select " + kColumns + u" from Client";
  auto sql_search = [&](const std::string& driver, Plugin* plugin, RawOdbc* raw) {
    if (!plugin) return;
    Name(benchmark::RegisterBenchmark(("sql_number_" + driver + "/plugin" + n).c_str(),
                                      [=](benchmark::State& st) {
                                        for (auto _ : st) {
                                          Text r = plugin->session->FindContact(miss_request);
                                          benchmark::DoNotOptimize(r);
                                        }
                                        st.counters["rows"] = static_cast<double>(s.rows);
                                      }),
         scan_reps);
    Name(benchmark::RegisterBenchmark(("sql_number_" + driver + "/raw" + n).c_str(),
                                      [=](benchmark::State& st) {
                                        long rows = 0;
                                        for (auto _ : st) rows = raw->Fetch(sql_all);
                                        st.counters["rows"] = static_cast<double>(rows);
                                      }),
         scan_reps);
  };
  sql_search("sqlite", sqlite, sqlite_raw);
  sql_search("pg", pg, pg_raw);
  sql_search("mariadb", mariadb, mariadb_raw);

  // 2b. SQL mode on PostgreSQL and MariaDB with SqlFilter "Server": the
  // same number search (a number no contact has) and one that finds its
  // contact, side by side with the full read above.
  auto server_search = [&](const std::string& driver, const Text& connect,
                           const Text& odbc_driver) {
    if (connect.empty()) return;
    Plugin* server = new Plugin(SqlSettings(connect, odbc_driver, u"Server"));
    const Text found = server->session->FindContact(tel_request);
    if (found.find(u"{Result(S7)=Success}") == Text::npos) {
      std::fprintf(stderr, "the server-filtered lookup of %s found nothing: %s\n",
                   pellory::ToUtf8(s.phone).c_str(), pellory::ToUtf8(found).c_str());
      std::exit(3);
    }
    for (const auto& [name, request] :
         {std::pair<std::string, Text>{"sql_number_" + driver + "/server", miss_request},
          std::pair<std::string, Text>{"sql_number_" + driver + "/server_found", tel_request}}) {
      Name(benchmark::RegisterBenchmark((name + n).c_str(),
                                        [=](benchmark::State& st) {
                                          for (auto _ : st) {
                                            Text r = server->session->FindContact(request);
                                            benchmark::DoNotOptimize(r);
                                          }
                                        }),
           big ? 5 : 15);
    }
  };
  server_search("pg", s.pg, u"PostgreSQL Unicode");
  server_search("mariadb", s.mariadb, u"MariaDB Unicode");

  // 3. Cache export, file mode and SQL mode.
  auto export_pair = [&](const std::string& what, Plugin* plugin, RawOdbc* raw, Text raw_sql) {
    if (!plugin) return;
    Name(benchmark::RegisterBenchmark(("export_" + what + "/plugin" + n).c_str(),
                                      [=](benchmark::State& st) {
                                        long records = 0;
                                        for (auto _ : st) records = plugin->Export();
                                        st.counters["rows"] = static_cast<double>(records);
                                      }),
         scan_reps);
    Name(benchmark::RegisterBenchmark(("export_" + what + "/raw" + n).c_str(),
                                      [=](benchmark::State& st) {
                                        long rows = 0;
                                        for (auto _ : st) rows = raw->Fetch(raw_sql);
                                        st.counters["rows"] = static_cast<double>(rows);
                                      }),
         scan_reps);
  };
  export_pair("file", file, file_raw, u"select * from Client");
  export_pair("pg", pg, pg_raw, u"Select " + kColumns + u" from client");

  // 4. File mode, list search by words, at most 50 entries.
  const Text words_request = Record({{u"Text", s.word}, {u"MaxFind", u"50"}});
  Name(benchmark::RegisterBenchmark(("file_words50/plugin" + n).c_str(),
                                    [=](benchmark::State& st) {
                                      for (auto _ : st) {
                                        Text r = file->session->FindList(words_request);
                                        benchmark::DoNotOptimize(r);
                                      }
                                    }),
       big ? 5 : 15);
  const Text words_sql = WordsStatement(s);
  Name(benchmark::RegisterBenchmark(("file_words50/raw" + n).c_str(),
                                    [=](benchmark::State& st) {
                                      for (auto _ : st)
                                        benchmark::DoNotOptimize(file_raw->Fetch(words_sql, 50));
                                    }),
       big ? 5 : 15);
}

// One export in a fresh process, for its peak memory.
int ExportRss(const std::string& which) {
  Setup s = ReadSetup();
  std::unique_ptr<Plugin> plugin;
  if (which == "file") plugin = std::make_unique<Plugin>(FileSettings(s));
  if (which == "sqlite")
    plugin = std::make_unique<Plugin>(SqlSettings(SqliteConnect(s), u"SQLite3 ODBC Driver"));
  if (which == "pg") plugin = std::make_unique<Plugin>(SqlSettings(s.pg, u"PostgreSQL Unicode"));
  if (!plugin) return 2;
  long records = plugin->Export();
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s %ld records, peak RSS %ld KiB\n", which.c_str(), records, usage.ru_maxrss);
  return 0;
}

// The process's peak resident size in KiB since it started or since the
// last ResetPeak (Linux: VmHWM).
long PeakKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Number searches with SqlFilter "Server" on PostgreSQL or MariaDB in a
// fresh process, for their peak memory (which must not grow with the
// table): the peak of the load (whose table test reads every identifier),
// then, counted anew, that of the searches.
int SearchRss(const std::string& which) {
  Setup s = ReadSetup();
  const bool pg = which == "pg";
  const Text& connect = pg ? s.pg : s.mariadb;
  if (connect.empty() || (!pg && which != "mariadb")) return 2;
  Plugin plugin(SqlSettings(connect, pg ? u"PostgreSQL Unicode" : u"MariaDB Unicode", u"Server"));
  const long load_peak = PeakKiB();
  ResetPeak();
  int found = 0;
  for (int i = 0; i < 20; ++i) {
    const Text r = plugin.session->FindContact(Record({{u"Tel", i % 2 ? s.phone : u"999999999"}}));
    if (r.find(u"{Result(S7)=Success}") != Text::npos) ++found;
  }
  std::printf(
      "%s server-filtered search: 20 searches, %d found; peak RSS of the load %ld KiB, "
      "of the searches %ld KiB\n",
      which.c_str(), found, load_peak, PeakKiB());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--export-rss") == 0) return ExportRss(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--search-rss") == 0) return SearchRss(argv[2]);
  benchmark::Initialize(&argc, argv);
  Setup s = ReadSetup();
  RegisterAll(s);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

#else

int main() {
  std::fputs("lookup_bench needs the ODBC engines and the registry file adapter\n", stderr);
  return 2;
}

#endif
