// pellory serve: an HTTP caller-name service for phone systems. Each worker
// thread keeps its own Sessions, loaded from the host settings as a host
// does, and answers number lookups, name searches, a health check and the
// service's counters. SIGTERM and SIGINT end it after the requests in
// flight.
#include <pthread.h>
#include <signal.h>

#include <httplib.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "cli/command.h"
#include "cli/contact_fields.h"
#include "cli/serve/answer_cache.h"
#include "cli/serve/lookup_worker.h"
#include "cli/serve/metrics.h"
#include "cli/serve/request_check.h"
#include "cli/serve/worker_pool.h"
#include "crmdb/crmdb.h"

namespace pellory::cli {
namespace {

using json = nlohmann::ordered_json;
using namespace serve;

struct ServeOptions {
  std::string listen = "127.0.0.1:8410";
  int threads = 4;
  int cache_ttl = 30;
  int timeout = 2;
  std::string token_file;
  bool insecure_listen = false;
  bool check = false;
};

// The most entries the answer cache holds.
constexpr size_t kCacheEntries = 10000;
// Connections waiting for a worker, for each worker; those beyond are
// turned away with 503 at once.
constexpr size_t kQueuePerWorker = 32;

constexpr const char* kJsonType = "application/json";

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

void Error(httplib::Response& res, int status, const std::string& error,
           const std::string& reason) {
  res.status = status;
  json j = {{"error", error}};
  if (!reason.empty()) j["reason"] = reason;
  res.set_content(Dump(j), kJsonType);
}

// A worker's Sessions answer lookups; a connection the pool could not give
// one to is turned away.
LookupWorker* WorkerOrBusy(httplib::Response& res) {
  LookupWorker* worker = WorkerPool::Current();
  if (!worker) {
    res.set_header("Retry-After", "1");
    res.set_header("Connection", "close");
    Error(res, 503, "busy", "every worker is taken; try again");
  }
  return worker;
}

// The cache key of a lookup: how numbers are matched, and the number as
// that mode reads it (the dialled characters for exact matching, the whole
// number without blanks for matching in any format).
std::string CacheKey(const std::string& number, bool any) {
  std::string key = any ? "A:" : "E:";
  for (char c : number) {
    if (any ? !std::isspace(static_cast<unsigned char>(c))
            : (c >= '0' && c <= '9') || c == '*' || c == '#') {
      key += c;
    }
  }
  return key;
}

class Service {
 public:
  Service(const ServeOptions& o, const std::string& token, bool stored_any, Metrics& metrics)
      : token_(token),
        stored_any_(stored_any),
        metrics_(metrics),
        cache_(o.cache_ttl, kCacheEntries) {}

  void Install(httplib::Server& server) {
    server.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { return Screen(req, res); });
    // A kept-alive connection holds its worker between its requests: while
    // other connections wait for one, the answer ends the connection, and
    // the client's next request waits its turn behind them.
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
      if (WorkerPool::ConnectionsWaiting() && !res.has_header("Connection")) {
        res.headers.erase("Keep-Alive");
        res.set_header("Connection", "close");
      }
    });
    server.Get("/v1/lookup",
               [this](const httplib::Request& req, httplib::Response& res) { Lookup(req, res); });
    server.Get("/v1/search",
               [this](const httplib::Request& req, httplib::Response& res) { Search(req, res); });
    server.Get("/healthz", [this](const httplib::Request& req, httplib::Response& res) {
      if (std::string why = CheckNoParams(req.params); !why.empty()) {
        return Error(res, 400, "bad request", why);
      }
      LookupWorker* worker = WorkerOrBusy(res);
      if (!worker) return;
      if (std::string why = worker->Health(); !why.empty()) {
        return Error(res, 503, "database unavailable", why);
      }
      res.set_content(Dump(json{{"status", "ok"}}), kJsonType);
    });
    server.Get("/metrics", [this](const httplib::Request& req, httplib::Response& res) {
      if (std::string why = CheckNoParams(req.params); !why.empty()) {
        return Error(res, 400, "bad request", why);
      }
      res.set_content(metrics_.Exposition(), "text/plain; version=0.0.4; charset=utf-8");
    });
    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request& req, httplib::Response& res) {
          // The answers of the endpoints are complete as they are (a name that
          // was not found is an empty 404).
          if (!res.body.empty() || IsEndpoint(req.path))
            return httplib::Server::HandlerResponse::Unhandled;
          Error(res, res.status, res.status == 404 ? "not found" : "bad request", "");
          return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
          std::string what = "the request could not be answered";
          try {
            if (ep) std::rethrow_exception(ep);
          } catch (const std::exception& e) {
            what = e.what();
          } catch (...) {
          }
          Error(res, 500, "internal error", what);
        });
  }

 private:
  static bool IsEndpoint(const std::string& path) {
    return path == "/v1/lookup" || path == "/v1/search" || path == "/healthz" || path == "/metrics";
  }

  // What every request passes before it is routed: the token, the method
  // and no body.
  httplib::Server::HandlerResponse Screen(const httplib::Request& req, httplib::Response& res) {
    using R = httplib::Server::HandlerResponse;
    if (!token_.empty() && !SameToken(BearerToken(req.get_header_value("Authorization")), token_)) {
      res.set_header("WWW-Authenticate", "Bearer");
      res.set_header("Connection", "close");
      Error(res, 401, "unauthorized", "a valid Authorization: Bearer token is needed");
      return R::Handled;
    }
    const bool read_only = req.method == "GET" || req.method == "HEAD";
    if (!read_only && IsEndpoint(req.path)) {
      // Whatever body follows is left unread: the connection ends here.
      res.set_header("Allow", "GET, HEAD");
      res.set_header("Connection", "close");
      Error(res, 405, "method not allowed", req.method + " is not allowed; use GET");
      return R::Handled;
    }
    const std::string length = req.get_header_value("Content-Length");
    if (read_only && ((!length.empty() && length != "0") || req.has_header("Transfer-Encoding"))) {
      res.set_header("Connection", "close");
      Error(res, 400, "bad request", "a GET request carries no body");
      return R::Handled;
    }
    return R::Unhandled;
  }

  void Lookup(const httplib::Request& req, httplib::Response& res) {
    const auto start = std::chrono::steady_clock::now();
    LookupQuery q;
    if (std::string why = CheckLookup(req.params, &q); !why.empty()) {
      return Error(res, 400, "bad request", why);
    }
    LookupAnswer a;
    bool cached = false;
    // A caller ID without digits (withheld, "anonymous") finds nobody; the
    // database is not asked.
    if (HoldsDigits(q.number)) {
      LookupWorker* worker = WorkerOrBusy(res);
      if (!worker) return;
      const bool any = q.match == MatchMode::kAny || (q.match == MatchMode::kStored && stored_any_);
      const std::string key = CacheKey(q.number, any);
      if (auto hit = cache_.Get(key, Now())) {
        metrics_.CacheHit();
        a = std::move(*hit);
        cached = true;
      } else {
        if (cache_.enabled()) metrics_.CacheMiss();
        a = worker->Lookup(q.number, any ? MatchMode::kAny : MatchMode::kExact);
        if (a.outcome == Outcome::kFound || a.outcome == Outcome::kNotFound) {
          cache_.Put(key, a, Now());
        }
      }
    }
    const double seconds = SecondsSince(start);
    metrics_.Lookup(a.outcome, seconds);
    if (a.outcome == Outcome::kError) return Error(res, 503, "database unavailable", a.reason);
    if (q.name_only) {
      if (a.outcome == Outcome::kFound) {
        res.set_content(a.name, "text/plain; charset=utf-8");
      } else {
        res.status = 404;
        if (a.outcome == Outcome::kTimeout) res.set_header("X-Pellory-Reason", "timeout");
      }
      return;
    }
    const bool found = a.outcome == Outcome::kFound;
    auto text_or_null = [&](const std::string& s) { return found ? json(s) : json(nullptr); };
    json j = {{"found", found},
              {"name", text_or_null(a.name)},
              {"company", text_or_null(a.company)},
              {"id", text_or_null(a.id)},
              {"match", text_or_null(a.match)},
              {"matches", a.matches},
              {"elapsed_ms", std::round(seconds * 1e6) / 1e3},
              {"contact", found ? a.contact : json(nullptr)}};
    if (found) j["ids"] = a.ids;
    if (a.outcome == Outcome::kTimeout) j["reason"] = "timeout";
    j["cached"] = cached;
    res.set_content(Dump(j), kJsonType);
  }

  void Search(const httplib::Request& req, httplib::Response& res) {
    const auto start = std::chrono::steady_clock::now();
    SearchQuery q;
    if (std::string why = CheckSearch(req.params, &q); !why.empty()) {
      return Error(res, 400, "bad request", why);
    }
    LookupWorker* worker = WorkerOrBusy(res);
    if (!worker) return;
    const SearchAnswer a = worker->Search(q);
    if (a.outcome == Outcome::kError) return Error(res, 503, "database unavailable", a.reason);
    json j = {{"found", a.outcome == Outcome::kFound},
              {"matches", a.matches},
              {"elapsed_ms", std::round(SecondsSince(start) * 1e6) / 1e3},
              {"contacts", a.contacts}};
    if (a.outcome == Outcome::kTimeout) j["reason"] = "timeout";
    res.set_content(Dump(j), kJsonType);
  }

  const std::string token_;
  const bool stored_any_;
  Metrics& metrics_;
  AnswerCache<LookupAnswer> cache_;
};

// The signals that end the service, and the one that ends the thread that
// waits for them once the service has ended otherwise.
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR2);
  return set;
}

int RunCheck(const ServeSettings& settings) {
  Metrics metrics;
  LookupWorker worker(settings, metrics);
  const CheckReport r = worker.Check();
  const std::time_t now = std::time(nullptr);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  std::cout << "mode: " << r.mode << "\n"
            << "table: " << r.table << "\n";
  if (!r.failure.empty()) {
    std::cout << "failed: " << r.failure << "\n"
              << "time: " << when << "\n";
    return 2;
  }
  char ms[32];
  std::snprintf(ms, sizeof ms, "%.1f", r.lookup_ms);
  std::cout << "contacts reachable: " << r.contacts << "\n"
            << "lookup: " << ms << " ms\n"
            << "time: " << when << "\n";
  return 0;
}

int RunServe(CliContext& ctx, const ServeOptions& o) {
  ListenAddress address;
  if (std::string why = ParseListen(o.listen, &address); !why.empty()) {
    std::cerr << "pellory serve: --listen: " << why << "\n";
    return 2;
  }
  std::string token;
  if (!o.token_file.empty()) {
    if (std::string why = ReadTokenFile(o.token_file, &token); !why.empty()) {
      std::cerr << "pellory serve: --token-file: " << why << "\n";
      return 2;
    }
  } else if (!IsLoopback(address.host) && !o.insecure_listen && !o.check) {
    std::cerr << "pellory serve: refusing to listen on " << address.host
              << " without a token: give --token-file FILE (or --insecure-listen)\n";
    return 2;
  }
  OverrideTimeout(ctx, o.timeout);
  ctx.NoteDefaultSettings();
  const ServeSettings settings{ctx.settings().data_rd, ctx.settings().user_rd};
  if (o.check) return RunCheck(settings);

  // Every thread made from here on leaves the stop signals to the one that
  // waits for them.
  const sigset_t stop = StopSignals();
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // unixODBC fills the paths of its configuration files on first use,
  // without a lock: the process's first ODBC environment is made here,
  // before the workers make theirs at once.
  ThreadDaoEngine(ctx.env());
  ReleaseThreadEngines();

  Metrics metrics;
  Service service(o, token, StoredMatchesAny(ctx.env(), settings.data_rd), metrics);
  httplib::Server server;
  server.set_read_timeout(5, 0);
  server.set_write_timeout(5, 0);
  server.set_keep_alive_timeout(5);
  server.set_keep_alive_max_count(1000);
  server.set_payload_max_length(64 * 1024);
  server.set_tcp_nodelay(true);
  const size_t threads = static_cast<size_t>(o.threads);
  server.new_task_queue = [threads, &settings, &metrics] {
    return new WorkerPool(threads, threads * kQueuePerWorker, [&settings, &metrics] {
      return std::make_unique<LookupWorker>(settings, metrics);
    });
  };
  service.Install(server);

  int port = address.port;
  if (port == 0) {
    port = server.bind_to_any_port(address.host);
  } else if (!server.bind_to_port(address.host, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::cerr << "pellory serve: cannot listen on " << o.listen << "\n";
    return 2;
  }
  const bool v6 = address.host.find(':') != std::string::npos;
  std::cout << "listening on " << (v6 ? "[" + address.host + "]" : address.host) << ":" << port
            << std::endl;

  std::atomic<bool> stop_requested{false}, listening_over{false};
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stop, &sig);
    if (sig == SIGUSR2) return;
    stop_requested = true;
    // The server may not be listening yet: stop it once it is.
    while (!listening_over) {
      if (server.is_running()) {
        server.stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const bool ok = stop_requested || server.listen_after_bind();
  listening_over = true;
  pthread_kill(waiter.native_handle(), SIGUSR2);
  waiter.join();
  if (!ok && !stop_requested) {
    std::cerr << "pellory serve: the server stopped listening\n";
    return 2;
  }
  return 0;
}

const bool registered = RegisterCommand(
    "serve", "HTTP caller-name service for phone systems", [](CLI::App& sub, CliContext& ctx) {
      auto o = std::make_shared<ServeOptions>();
      sub.add_option("--listen", o->listen,
                     "ADDRESS:PORT to listen on (default 127.0.0.1:8410; port 0 picks a free one; "
                     "[::1]:PORT for IPv6)");
      sub.add_option("--threads", o->threads,
                     "Worker threads, each with its own database connection (default 4)")
          ->check(CLI::Range(1, 64));
      sub.add_option("--cache-ttl", o->cache_ttl,
                     "Keep answers this many seconds (default 30; 0: no cache)")
          ->check(CLI::Range(0, 86400));
      sub.add_option("--timeout", o->timeout,
                     "Give each lookup this many seconds (default 2; 0: no limit)")
          ->check(CLI::Range(0, kMaxTimeout));
      sub.add_option(
          "--token-file", o->token_file,
          "Require Authorization: Bearer <token>, the token being the file's first line");
      sub.add_flag("--insecure-listen", o->insecure_listen,
                   "Listen on an address other than loopback without a token");
      sub.add_flag("--check", o->check,
                   "Load the settings, reach the database, say what was found and exit (0 when "
                   "the database answered, 2 otherwise)");
      sub.footer(
          "Endpoints: GET /v1/lookup?number=N[&match=any|exact][&format=json|name], "
          "GET /v1/search?text=WORDS|begin=LETTER[&max=N], GET /healthz, GET /metrics.\n"
          "Prints 'listening on ADDRESS:PORT' once it accepts connections; SIGTERM or SIGINT "
          "ends it after the requests in flight.\n"
          "Uses the host settings (PELLORY_HOST_SETTINGS); without them, the sample address "
          "book.");
      return [o, &ctx] { return RunServe(ctx, *o); };
    });

}  // namespace
}  // namespace pellory::cli
