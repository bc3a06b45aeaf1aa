// `pellory serve` as a phone system talks to it: the real program over the
// stand-in driver (and PostgreSQL), reached with an HTTP client; and the
// cache, the counters and the checks it is made of.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addressbook.h"
#include "cli/serve/answer_cache.h"
#include "cli/serve/metrics.h"
#include "cli/serve/request_check.h"
#include "plugin/records.h"
#include "support/crmdb_odbc.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"
#include "support/pg_server.h"
#include "support/shell.h"

namespace pellory::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace pellory::cli::serve;

constexpr char kBook[] =
    "Client_Id,Name_Type,First_Name,Name,Firm,PHONE_1,PHONE_1_Extension,COUNTRY\n"
    "P1,I,Anne,Smith,Acme Ltd,+44 20 7946 0018,MAIN,United Kingdom\n"
    "HF1,I,Nia,Cole,harbour freight ltd,+44 20 7946 0100,MAIN,United Kingdom\n"
    "HF2,I,Ruth,Adler,Harbour Freight Ltd,+44 20 7946 0100,WORK,United Kingdom\n"
    "J1,I,John,Jones,Jones & Co,01632 960001,WORK,United Kingdom\n";

// A running `pellory serve`, stopped (SIGKILL) when the test is done with it.
class Service {
 public:
  Service(const fs::path& dir, std::vector<std::string> args,
          const std::map<std::string, std::string>& env = {})
      : dir_(dir) {
    // Started through env(1), which adds the variables and becomes the
    // service (same process).
    args.insert(args.begin(),
                {"/usr/bin/env", "PELLORY_HOST_SETTINGS=" + (dir / "host.rec").string(),
                 "PELLORY_REGISTRY=" + (dir / "registry.reg").string(),
                 "PELLORY_TRACE_LOG=" + (dir / "trace.log").string()});
    for (const auto& [k, v] : env) args.insert(args.begin() + 1, k + "=" + v);
    args.insert(args.begin() + 4 + env.size(), {PELLORY_BIN, "serve"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    const std::string err = (dir / "serve.err").string();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 2);
      close(out[0]);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    // The first line says where it listens; it comes once it accepts.
    std::string line;
    for (char c; line.find('\n') == std::string::npos;) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 120000) <= 0 || read(out_, &c, 1) != 1) break;
      line += c;
    }
    first_line_ = line;
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) port_ = std::stoi(line.substr(prefix.size()));
  }
  ~Service() {
    if (pid_ > 0) Stop(SIGKILL);
    if (out_ >= 0) close(out_);
  }

  int port() const { return port_; }
  const std::string& first_line() const { return first_line_; }
  std::string err() const { return ReadAll(dir_ / "serve.err"); }

  httplib::Client Client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(120, 0);
    c.set_write_timeout(120, 0);
    c.set_url_encode(false);
    return c;
  }
  // GET `target` (already percent-encoded).
  httplib::Result Get(const std::string& target, const httplib::Headers& headers = {}) const {
    httplib::Client c = Client();
    return c.Get(target, headers);
  }
  json GetJson(const std::string& target) const {
    auto r = Get(target);
    return r ? json::parse(r->body, nullptr, false) : json();
  }

  // Sends `signal` and waits for the end; the exit status (128 + signal
  // when it was killed).
  int Stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
  std::string first_line_;
};

// One counter of the exposition; -1 when it is not there.
double Counter(const std::string& exposition, const std::string& name) {
  std::istringstream in(exposition);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(name + " ", 0) == 0) return std::stod(line.substr(name.size() + 1));
  }
  return -1;
}

class Serve : public ::testing::Test {
 protected:
  void SetUp() override {
    book = sandbox.MakeAddressBook("book", kBook);
    UseSettings(Record({{u"DBFile", FromUtf8(book.string())}, {u"Region", u"GB"}}));
  }
  void UseSettings(const Text& data) {
    FakeEnv env;
    Text settings;
    AddVar(env, settings, u"DataRd", Variant(data));
    std::ofstream(sandbox.Dir() / "host.rec") << ToUtf8(settings);
  }
  static Text Record(std::vector<std::pair<const char16_t*, Text>> entries) {
    FakeEnv env;
    Text rd;
    for (const auto& [key, value] : entries) AddVar(env, rd, key, Variant(value));
    return rd;
  }
  // `pellory ARGS` run to its end: exit status, stdout and stderr.
  std::tuple<int, std::string, std::string> Run(const std::vector<std::string>& args) {
    const fs::path& d = sandbox.Dir();
    std::string cmd = "PELLORY_HOST_SETTINGS=" + Quote((d / "host.rec").string()) +
                      " PELLORY_REGISTRY=" + Quote((d / "registry.reg").string()) +
                      " PELLORY_TRACE_LOG=" + Quote((d / "trace.log").string()) + " " +
                      Quote(PELLORY_BIN);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " >" + Quote((d / "run.out").string()) + " 2>" + Quote((d / "run.err").string());
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(d / "run.out"),
            ReadAll(d / "run.err")};
  }

  OdbcSandbox sandbox;
  fs::path book;
};

// Every endpoint, and the lookups as `pellory find --format json` gives
// them; the counters then add up.
TEST_F(Serve, EndpointsAnswerAsFindDoes) {
  Service s(sandbox.Dir(), {"--listen", "127.0.0.1:0", "--threads", "2"});
  ASSERT_GT(s.port(), 0) << s.first_line() << s.err();
  struct Case {
    std::string target;
    int status;
    std::string type;  // the content type's start
    std::string body;  // the body (name answers), or what the JSON holds
    std::string find;  // the number to compare with `pellory find`
  } cases[] = {
      {"/v1/lookup?number=%2B44%2020%207946%200018", 200, "application/json",
       R"({"found":true,"name":"Anne Smith","company":"Acme Ltd","id":"P1","match":"Exact","matches":1})",
       "+44 20 7946 0018"},
      {"/v1/lookup?number=%2B44%2020%207946%200018&format=name", 200, "text/plain; charset=utf-8",
       "Anne Smith", ""},
      // A "+" left unencoded (it reads as a space) is taken for what it was.
      {"/v1/lookup?number=+442079460018&format=name", 200, "text/plain", "Anne Smith", ""},
      // A number colleagues share: their company, and every one of them.
      {"/v1/lookup?number=%2B44%2020%207946%200100&format=name", 200, "text/plain",
       "harbour freight ltd", ""},
      {"/v1/lookup?number=442079460100", 200, "application/json",
       R"({"found":true,"name":"harbour freight ltd","matches":2})", "442079460100"},
      {"/v1/lookup?number=%2B44%2020%207946%209999", 200, "application/json",
       R"({"found":false,"name":null,"contact":null,"matches":0})", ""},
      {"/v1/lookup?number=%2B44%2020%207946%209999&format=name", 404, "", "", ""},
      {"/v1/lookup?number=anonymous", 200, "application/json", R"({"found":false})", ""},
      // The national form is found only when numbers match in any format.
      {"/v1/lookup?number=020%207946%200018", 200, "application/json", R"({"found":false})", ""},
      {"/v1/lookup?number=020%207946%200018&match=any", 200, "application/json",
       R"({"found":true,"id":"P1","match":"Same"})", ""},
      {"/v1/search?text=smith", 200, "application/json",
       R"({"found":true,"matches":1,"contacts":[{"Name":"Anne Smith","Company":"Acme Ltd","Id":"P1","Phone 1":"+44 20 7946 0018"}]})",
       ""},
      {"/v1/search?begin=j&max=5", 200, "application/json", R"({"found":true,"matches":1})", ""},
      {"/v1/search?text=nobody", 200, "application/json", R"({"found":false,"matches":0})", ""},
      {"/healthz", 200, "application/json", R"({"status":"ok"})", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    auto r = s.Get(c.target);
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(r->status, c.status) << r->body;
    EXPECT_EQ(r->get_header_value("Content-Type").rfind(c.type, 0), 0u)
        << r->get_header_value("Content-Type");
    if (c.type.rfind("application/json", 0) != 0) {
      EXPECT_EQ(r->body, c.body);
      continue;
    }
    const json j = json::parse(r->body, nullptr, false);
    const json want = json::parse(c.body);
    for (const auto& [key, value] : want.items()) EXPECT_EQ(j[key], value) << key;
    if (c.find.empty()) continue;
    // The contact and the identifiers are those `pellory find` prints.
    auto [code, out, err] = Run({"find", "--tel", c.find, "--format", "json"});
    const json find = json::parse(out, nullptr, false);
    EXPECT_EQ(j["contact"], find["contact"]) << out << err;
    EXPECT_EQ(j["ids"], find["ids"]) << out;
  }
  // The same number again comes from the cache.
  EXPECT_EQ(s.GetJson("/v1/lookup?number=%2B44%2020%207946%200018")["cached"], true);
  auto m = s.Get("/metrics");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->get_header_value("Content-Type").rfind("text/plain; version=0.0.4", 0), 0u);
  const std::string& e = m->body;
  EXPECT_EQ(Counter(e, R"(pellory_lookups_total{outcome="found"})"), 7) << e;
  EXPECT_EQ(Counter(e, R"(pellory_lookups_total{outcome="not_found"})"), 4) << e;
  EXPECT_EQ(Counter(e, R"(pellory_lookups_total{outcome="timeout"})"), 0) << e;
  EXPECT_EQ(Counter(e, "pellory_lookup_seconds_count"), 11) << e;
  EXPECT_EQ(Counter(e, R"(pellory_lookup_seconds_bucket{le="+Inf"})"), 11) << e;
  EXPECT_GE(Counter(e, "pellory_cache_hits_total"), 2) << e;
  EXPECT_EQ(Counter(e, "pellory_database_errors_total"), 0) << e;
  EXPECT_EQ(s.Stop(SIGINT), 0) << s.err();
}

// Requests the service turns away, in one table; it goes on answering.
TEST_F(Serve, MalformedRequestsAreRefused) {
  Service s(sandbox.Dir(), {"--listen", "127.0.0.1:0", "--threads", "2"});
  ASSERT_GT(s.port(), 0) << s.first_line() << s.err();
  const std::string n256(256, '1'), n257(257, '1');
  struct Case {
    std::string method, target;
    int status;
    std::string body = "";
  } cases[] = {
      {"GET", "/", 404},
      {"GET", "/v1/nothing", 404},
      {"GET", "/v1/lookup/", 404},
      {"GET", "/v1/lookup", 400},
      {"GET", "/v1/lookup?match=any", 400},
      {"GET", "/v1/lookup?number=" + n257, 400},
      {"GET", "/v1/lookup?number=" + n256, 200},
      {"GET", "/v1/lookup?number=%FF", 400},
      {"GET", "/v1/lookup?number=%C0%AF", 400},     // overlong
      {"GET", "/v1/lookup?number=%ED%A0%80", 400},  // a surrogate
      {"GET", "/v1/lookup?number=12%E2%82", 400},   // cut short
      {"GET", "/v1/lookup?number=1&number=2", 400},
      {"GET", "/v1/lookup?number=1&limit=2", 400},
      {"GET", "/v1/lookup?number=1&match=fuzzy", 400},
      {"GET", "/v1/lookup?number=1&match=ANY", 200},
      {"GET", "/v1/lookup?number=1&format=xml", 400},
      {"GET", "/v1/lookup?number=anonymous&format=name", 404},
      {"GET", "/v1/lookup?number=", 200},
      {"GET", "/v1/search", 400},
      {"GET", "/v1/search?text=a&begin=b", 400},
      {"GET", "/v1/search?text=", 400},
      {"GET", "/v1/search?begin=ab", 400},
      {"GET", "/v1/search?begin=%C3%A9", 200},
      {"GET", "/v1/search?begin=A&max=0", 400},
      {"GET", "/v1/search?begin=A&max=201", 400},
      {"GET", "/v1/search?begin=A&max=200", 200},
      {"GET", "/v1/search?begin=A&max=abc", 400},
      {"GET", "/v1/search?begin=A&max=-1", 400},
      {"GET", "/v1/search?begin=A&max=99999999999999999999", 400},
      {"GET", "/healthz?verbose=1", 400},
      {"GET", "/metrics?x=1", 400},
      {"POST", "/v1/lookup?number=1", 405, "number=1"},
      {"PUT", "/healthz", 405, "x"},
      {"DELETE", "/metrics", 405},
      {"PATCH", "/v1/search?text=a", 405, "{}"},
      {"OPTIONS", "/v1/lookup", 405},
      {"GET", "/v1/lookup?number=1", 400, "a body"},
      {"GET", "/healthz", 400, "x"},
      {"GET", "/v1/lookup?number=" + std::string(9000, '1'), 414},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target.substr(0, 80));
    httplib::Client client = s.Client();
    httplib::Request req;
    req.method = c.method;
    req.path = c.target;
    if (!c.body.empty()) {
      req.body = c.body;
      req.set_header("Content-Type", "text/plain");
    }
    auto r = client.send(req);
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(r->status, c.status) << r->body;
    if (c.status == 405) {
      EXPECT_EQ(r->get_header_value("Allow"), "GET, HEAD");
    }
    if (c.status >= 400 && r->get_header_value("Content-Type") == "application/json") {
      EXPECT_TRUE(json::parse(r->body, nullptr, false).contains("error")) << r->body;
    }
  }
  // Both workers held by clients that keep their connections open without
  // asking again (a connection that asks while others wait is ended with
  // its answer; so they ask one after the other): of the new connections,
  // as many as the queue holds (32 a worker) wait and are answered once the
  // workers are free; the others are turned away at once.
  std::vector<httplib::Client> holders;
  for (int i = 0; i < 2; ++i) {
    holders.push_back(s.Client());
    holders.back().set_keep_alive(true);
    auto held = holders.back().Get("/metrics");
    ASSERT_TRUE(held);
    ASSERT_FALSE(held->has_header("Connection"));
  }
  std::atomic<int> answered{0}, busy{0}, other{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 80; ++i) {
    clients.emplace_back([&] {
      auto r = s.Get("/v1/lookup?number=442079460018&format=name");
      if (r && r->status == 200 && r->body == "Anne Smith") {
        ++answered;
      } else if (r && r->status == 503 && r->get_header_value("Retry-After") == "1") {
        ++busy;
      } else {
        ++other;
      }
    });
  }
  for (int i = 0; i < 1200 && busy + other < 16; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  holders.clear();
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(busy, 16);
  EXPECT_EQ(answered, 64);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(s.Get("/healthz")->status, 200);
}

// The start-up checks, and the token a request must bring.
TEST_F(Serve, TokenAndListenAddressAreChecked) {
  const fs::path& d = sandbox.Dir();
  std::ofstream(d / "empty.token") << "  \n";
  std::ofstream(d / "good.token") << "  s3cret-Token \nsecond line\n";
  struct Start {
    std::vector<std::string> args;
    std::string err;  // what stderr says; empty: it starts
  } starts[] = {
      {{"--listen", "0.0.0.0:0"}, "refusing to listen on 0.0.0.0 without a token"},
      {{"--listen", "[::]:0"}, "refusing to listen on ::"},
      {{"--listen", "127.0.0.1"}, "is not ADDRESS:PORT"},
      {{"--listen", "127.0.0.1:70000"}, "is no port number"},
      {{"--listen", "example.org:80"}, "is no IPv4 address"},
      {{"--token-file", (d / "empty.token").string()}, "holds no token"},
      {{"--token-file", (d / "missing.token").string()}, "cannot be read"},
  };
  for (const Start& c : starts) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    std::vector<std::string> args = {"serve"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto [code, out, err] = Run(args);
    EXPECT_EQ(code, 2);
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
    EXPECT_EQ(out, "");
  }
  {
    Service open(d, {"--listen", "0.0.0.0:0", "--insecure-listen"});
    EXPECT_EQ(open.first_line().rfind("listening on 0.0.0.0:", 0), 0u) << open.err();
  }

  Service s(d, {"--listen", "127.0.0.1:0", "--token-file", (d / "good.token").string()});
  ASSERT_GT(s.port(), 0) << s.first_line() << s.err();
  struct Auth {
    std::string header;  // Authorization; empty: none
    int status;
  } auths[] = {
      {"", 401},
      {"Bearer s3cret-Token", 200},
      {"bearer s3cret-Token", 200},
      {"Bearer s3cret-token", 401},
      {"Bearer s3cret-Toke", 401},
      {"Bearer s3cret-Token2", 401},
      {"Bearer ", 401},
      {"Basic s3cret-Token", 401},
      {"s3cret-Token", 401},
  };
  for (const Auth& a : auths) {
    SCOPED_TRACE(a.header);
    for (const char* target : {"/healthz", "/metrics", "/v1/lookup?number=1", "/nothing"}) {
      httplib::Headers h;
      if (!a.header.empty()) h.emplace("Authorization", a.header);
      auto r = s.Get(target, h);
      ASSERT_TRUE(r);
      EXPECT_EQ(r->status, a.status == 200 && std::string(target) == "/nothing" ? 404 : a.status)
          << target;
      if (r->status == 401) {
        EXPECT_EQ(r->get_header_value("WWW-Authenticate"), "Bearer");
      }
    }
  }
}

// An answer is kept for the time to live, then the book's change shows.
TEST_F(Serve, CachedAnswersExpire) {
  const int ttl = 2;
  Service s(sandbox.Dir(),
            {"--listen", "127.0.0.1:0", "--threads", "1", "--cache-ttl", std::to_string(ttl)});
  ASSERT_GT(s.port(), 0) << s.first_line() << s.err();
  const std::string target = "/v1/lookup?number=442079460018&format=name";
  ASSERT_EQ(s.Get(target)->body, "Anne Smith");
  const auto stored = std::chrono::steady_clock::now();
  ASSERT_EQ(std::system(("sqlite3 -cmd '.timeout 60000' " + Quote((book / "mxza.max").string()) +
                         " \"update Client set First_Name = 'Anna' where Client_Id = 'P1'\"")
                            .c_str()),
            0);
  const std::string again = s.Get(target)->body;
  if (std::chrono::steady_clock::now() - stored < std::chrono::seconds(ttl)) {
    EXPECT_EQ(again, "Anne Smith");  // still the kept answer
  }
  std::string now;
  for (int i = 0; i < 600 && now != "Anna Smith"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    now = s.Get(target)->body;
  }
  EXPECT_EQ(now, "Anna Smith");
}

// A lookup the driver does not answer in time is not found for the reason
// timeout, never cached; what the delay does not touch still answers.
TEST_F(Serve, LookupsBeyondTheTimeoutAreNotFound) {
  Service s(
      sandbox.Dir(), {"--listen", "127.0.0.1:0", "--threads", "1", "--timeout", "1"},
      {{"PELLORY_MAXODBC_DELAY_MS", "60000"}, {"PELLORY_MAXODBC_DELAY_MATCH", "Reverse_Phone"}});
  ASSERT_GT(s.port(), 0) << s.first_line() << s.err();
  struct Case {
    std::string target;
    int status;
    std::string body;  // what the body starts with
  } cases[] = {
      {"/v1/lookup?number=442079460018", 200,
       R"({"found":false,"name":null,"company":null,"id":null,"match":null,"matches":0,"elapsed_ms":)"},
      {"/v1/lookup?number=442079460018&format=name", 404, ""},
      {"/v1/search?text=smith", 200, R"({"found":true,"matches":1)"},
      {"/healthz", 200, R"({"status":"ok"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    auto r = s.Get(c.target);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status);
    EXPECT_EQ(r->body.substr(0, c.body.size()), c.body);
    if (c.status == 200 && c.target.find("lookup") != std::string::npos) {
      EXPECT_EQ(json::parse(r->body)["reason"], "timeout");
    }
    if (c.status == 404) {
      EXPECT_EQ(r->get_header_value("X-Pellory-Reason"), "timeout");
    }
  }
  const std::string e = s.Get("/metrics")->body;
  EXPECT_EQ(Counter(e, R"(pellory_lookups_total{outcome="timeout"})"), 2) << e;
  EXPECT_EQ(Counter(e, "pellory_cache_hits_total"), 0) << e;
}

// A kept-alive connection holds its worker only until another connection
// waits for one: its next answer then ends it, and the waiting one is
// answered.
TEST_F(Serve, AKeptAliveConnectionHandsItsWorkerOn) {
  Service s(sandbox.Dir(), {"--listen", "127.0.0.1:0", "--threads", "1", "--cache-ttl", "0"});
  ASSERT_GT(s.port(), 0) << s.first_line() << s.err();
  const std::string target = "/v1/lookup?number=442079460018&format=name";
  httplib::Client first = s.Client();
  first.set_keep_alive(true);
  auto alone = first.Get(target);
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->body, "Anne Smith");
  EXPECT_FALSE(alone->has_header("Connection"));

  std::atomic<bool> answered{false};
  std::string second_body = "no answer";
  std::thread second([&] {
    if (auto r = s.Get(target)) second_body = r->body;
    answered = true;
  });
  // The first connection goes on asking until an answer ends it (once the
  // second connection has been accepted and waits).
  bool closed = false;
  for (int i = 0; i < 500 && !closed && !answered; ++i) {
    auto r = first.Get(target);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "Anne Smith");
    closed = r->get_header_value("Connection") == "close";
    if (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  first.stop();
  second.join();
  EXPECT_TRUE(closed);
  EXPECT_EQ(second_body, "Anne Smith");
}

// SIGTERM while a request is in flight: it is answered, then the service
// ends with status 0.
TEST_F(Serve, SigtermLetsTheRequestInFlightFinish) {
  StatementLog log;
  Service s(
      sandbox.Dir(), {"--listen", "127.0.0.1:0", "--threads", "1", "--timeout", "0"},
      {{"PELLORY_MAXODBC_DELAY_MS", "1500"}, {"PELLORY_MAXODBC_DELAY_MATCH", "Reverse_Phone"}});
  ASSERT_GT(s.port(), 0) << s.first_line() << s.err();
  int answer_status = 0;
  std::string answer_body = "no answer";
  std::thread request([&] {
    if (auto r = s.Get("/v1/lookup?number=442079460018&format=name")) {
      answer_status = r->status;
      answer_body = r->body;
    }
  });
  auto in_flight = [&] {
    for (const std::string& line : log.Lines()) {
      if (line.find("Reverse_Phone") != std::string::npos) return true;
    }
    return false;
  };
  for (int i = 0; i < 1200 && !in_flight(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(in_flight());
  const int status = s.Stop(SIGTERM);
  request.join();
  EXPECT_EQ(answer_status, 200);
  EXPECT_EQ(answer_body, "Anne Smith");
  EXPECT_EQ(status, 0) << s.err();
}

// --check reaches the database and says what it found, or why not.
TEST_F(Serve, CheckSaysWhatItReached) {
  auto [code, out, err] = Run({"serve", "--check"});
  EXPECT_EQ(code, 0) << err;
  for (const std::string& part : std::vector<std::string>{
           "mode: file, address book " + book.string(), "data source Maximizer SP1",
           "table: Client", "contacts reachable: 4", "lookup: ", "time: 20"}) {
    EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
  }
  UseSettings(Record({{u"DBFile", FromUtf8((sandbox.Dir() / "nowhere").string())}}));
  std::tie(code, out, err) = Run({"serve", "--check"});
  EXPECT_EQ(code, 2);
  EXPECT_NE(out.find("failed: Could not load Database"), std::string::npos) << out << err;
}

// PostgreSQL restarted under a stream of lookups: the requests in between
// fail with 503 (never "not found"), the service lives on, and the first
// request once the server is back is answered.
TEST_F(Serve, PostgresqlRestartCostsOnlyTheRequestsInBetween) {
  const fs::path& d = sandbox.Dir();
  const std::string script = PELLORY_SOURCE_DIR "/scripts/pg-test-server.sh";
  const std::string state = (d / "pg.env").string();
  ASSERT_EQ(
      std::system(("bash " + Quote(script) + " start " + Quote(state) + " >/dev/null").c_str()), 0);
  struct Stop {
    std::string command;
    ~Stop() { std::system(command.c_str()); }
  } stop{"bash " + Quote(script) + " stop " + Quote(state)};
  PgServer pg = PgServer::FromStateFile(state);
  PELLORY_REQUIRE_PG(pg);
  std::string table = "create table Client (", rows = "insert into Client select ";
  for (std::string_view column : standins::kClientColumns) {
    const bool first = table.back() == '(';
    table += std::string(first ? "" : ", ") + std::string(column) + " text";
    rows += std::string(first ? "" : ", ") + (column == "Client_Id"   ? "'C' || n"
                                              : column == "Name"      ? "'Name' || n"
                                              : column == "Name_Type" ? "'I'"
                                              : column == "Reverse_Phone_1"
                                                  ? "reverse('01632 96' || lpad(n::text, 4, '0'))"
                                                  : "''");
  }
  ASSERT_EQ(ExecSql(pg.ConnectString("postgres"),
                    {table + ")", rows + " from generate_series(1, 200) as n"}),
            "");
  UseSettings(
      Record({{u"UseSQL", u"True"},
              {u"Connection", Record({{u"ConnName", u"Outage"},
                                      {u"Connect", FromUtf8(pg.ConnectString("postgres"))}})}}));
  Service s(d, {"--listen", "127.0.0.1:0", "--threads", "2", "--cache-ttl", "0"});
  ASSERT_GT(s.port(), 0) << s.first_line() << s.err();
  const std::string target = "/v1/lookup?number=01632960042&format=name";
  ASSERT_EQ(s.Get(target)->body, "Name42");

  std::atomic<bool> streaming{true};
  std::atomic<int> answered{0}, unavailable{0}, other{0};
  std::thread stream([&] {
    while (streaming) {
      auto r = s.Get(target);
      if (r && r->status == 200 && r->body == "Name42") {
        ++answered;
      } else if (r && r->status == 503) {
        ++unavailable;
      } else {
        ++other;
      }
    }
  });
  std::string pg_dir;
  for (std::istringstream in(ReadAll(state)); std::getline(in, pg_dir);) {
    if (pg_dir.rfind("PG_DIR=", 0) == 0) break;
  }
  const std::string pg_ctl = "runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D " +
                             Quote(pg_dir.substr(7) + "/data");
  for (int i = 0; i < 1200 && answered < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(std::system((pg_ctl + " -m immediate stop >/dev/null").c_str()), 0);
  for (int i = 0; i < 1200 && unavailable < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  streaming = false;
  stream.join();
  EXPECT_GE(unavailable, 3);
  EXPECT_EQ(other, 0);
  auto down = s.Get("/healthz");
  ASSERT_TRUE(down);
  EXPECT_EQ(down->status, 503);
  EXPECT_TRUE(json::parse(down->body).contains("reason")) << down->body;
  auto failed = s.Get("/v1/lookup?number=01632960042");
  EXPECT_EQ(failed->status, 503);
  EXPECT_EQ(json::parse(failed->body)["error"], "database unavailable") << failed->body;

  ASSERT_EQ(std::system((pg_ctl + " -l " + Quote(pg_dir.substr(7) + "/server.log") + " -w -o " +
                         Quote("-p " + pg.port + " -k " + pg_dir.substr(7) +
                               " -c listen_addresses=127.0.0.1 -c fsync=off") +
                         " start >/dev/null")
                            .c_str()),
            0);
  // Both workers: each one's first request after the restart is answered.
  for (int i = 0; i < 4; ++i) {
    auto r = s.Get(target);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(r->body, "Name42");
  }
  const std::string e = s.Get("/metrics")->body;
  EXPECT_GE(Counter(e, "pellory_reconnects_total"), 1) << e;
  EXPECT_GE(Counter(e, "pellory_database_errors_total"), 3) << e;
  EXPECT_GE(Counter(e, R"(pellory_lookups_total{outcome="error"})"), 3) << e;
  EXPECT_EQ(s.Stop(SIGTERM), 0) << s.err();
}

// The parts: the cache's expiry and eviction, the counters' exposition, and
// the listen address.
TEST(ServeParts, CacheExpiresAndEvictsTheLeastRecentlyUsed) {
  AnswerCache<int> cache(10, 2);
  cache.Put("a", 1, 100);
  cache.Put("b", 2, 101);
  EXPECT_EQ(cache.Get("a", 105), 1);  // a is now the more recent
  cache.Put("c", 3, 106);             // b makes room
  EXPECT_EQ(cache.Get("b", 106), std::nullopt);
  EXPECT_EQ(cache.Get("c", 115.9), 3);
  EXPECT_EQ(cache.Get("a", 110), std::nullopt);  // stored at 100: expired
  EXPECT_EQ(cache.size(), 1u);
  cache.Put("c", 4, 120);  // stored again: lives from now
  EXPECT_EQ(cache.Get("c", 129), 4);
  AnswerCache<int> off(0, 10);
  off.Put("a", 1, 0);
  EXPECT_EQ(off.Get("a", 0), std::nullopt);
}

TEST(ServeParts, MetricsHistogramIsCumulative) {
  Metrics m;
  for (double s : {0.0002, 0.003, 0.003, 0.7, 30.0}) m.Lookup(Outcome::kFound, s);
  m.Lookup(Outcome::kTimeout, 1.0);
  m.CacheHit();
  m.Reconnect();
  const std::string e = m.Exposition();
  struct Line {
    std::string name;
    double value;
  } lines[] = {
      {R"(pellory_lookups_total{outcome="found"})", 5},
      {R"(pellory_lookups_total{outcome="timeout"})", 1},
      {R"(pellory_lookups_total{outcome="error"})", 0},
      {R"(pellory_lookup_seconds_bucket{le="0.0005"})", 1},
      {R"(pellory_lookup_seconds_bucket{le="0.0025"})", 1},
      {R"(pellory_lookup_seconds_bucket{le="0.005"})", 3},
      {R"(pellory_lookup_seconds_bucket{le="1"})", 5},
      {R"(pellory_lookup_seconds_bucket{le="10"})", 5},
      {R"(pellory_lookup_seconds_bucket{le="+Inf"})", 6},
      {"pellory_lookup_seconds_count", 6},
      {"pellory_lookup_seconds_sum", 31.7062},
      {"pellory_cache_hits_total", 1},
      {"pellory_reconnects_total", 1},
  };
  for (const Line& l : lines) EXPECT_DOUBLE_EQ(Counter(e, l.name), l.value) << l.name << "\n" << e;
}

TEST(ServeParts, ListenAddressesAndLoopback) {
  struct Case {
    std::string text, host;  // host empty: refused
    int port;
    bool loopback;
  } cases[] = {
      {"127.0.0.1:8410", "127.0.0.1", 8410, true},
      {"127.9.8.7:0", "127.9.8.7", 0, true},
      {"localhost:1", "127.0.0.1", 1, true},
      {"[::1]:80", "::1", 80, true},
      {"[::ffff:127.0.0.2]:80", "::ffff:127.0.0.2", 80, true},
      {"0.0.0.0:80", "0.0.0.0", 80, false},
      {"[::]:80", "::", 80, false},
      {"192.168.1.2:80", "192.168.1.2", 80, false},
      {"128.0.0.1:80", "128.0.0.1", 80, false},
      {"::1:80", "", 0, false},
      {"127.0.0.1:", "", 0, false},
      {"127.0.0.1:65536", "", 0, false},
      {"127.0.0.1:-1", "", 0, false},
      {"host:80", "", 0, false},
      {"8410", "", 0, false},
  };
  for (const Case& c : cases) {
    ListenAddress a;
    const std::string why = ParseListen(c.text, &a);
    EXPECT_EQ(why.empty(), !c.host.empty()) << c.text << ": " << why;
    if (!why.empty()) continue;
    EXPECT_EQ(a.host, c.host) << c.text;
    EXPECT_EQ(a.port, c.port) << c.text;
    EXPECT_EQ(IsLoopback(a.host), c.loopback) << c.text;
  }
}

}  // namespace
}  // namespace pellory::testing
