// `pellory host`: a host simulator speaking JSON Lines. Each input line is
// one call on a Session; each gives exactly one output line.
//
//   {"session": 1, "call": "Configure", "args": ["{A=1}", "user"]}
//   -> {"session": 1, "call": "Configure", "result": "...", "args": [...]}
//   {"create": 2}  -> {"session": 2, "created": true, "instance": 2}
//   {"release": 2} -> {"session": 2, "released": true}
//   anything wrong -> {"error": "..."}
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "assembly.h"
#include "cli/command.h"

namespace pellory::cli {
namespace {

using json = nlohmann::ordered_json;

// The longest text a request may carry (1 MB, in UTF-8 bytes).
constexpr size_t kMaxValueBytes = size_t{1} << 20;

// The host's callback object: held by the Session, never called.
class JsonCallback : public Object {
 public:
  explicit JsonCallback(json value) : value_(std::move(value)) {}
  const json& value() const { return value_; }

 private:
  json value_;
};

using Arg = std::variant<Text, bool, ObjectRef, Variant>;
using Args = std::vector<Arg>;

json J(const Text& t) { return ToUtf8(t); }

json VariantToJson(const Variant& v, Env& env) {
  if (v.is_empty() || v.is_null() || v.is_missing()) return nullptr;
  if (v.kind() == Variant::Kind::kBool) return v.boolean();
  if (v.is_whole_number() || v.kind() == Variant::Kind::kByte) return v.ToInt32();
  if (v.is_number()) return v.ToDouble();
  if (v.is_object()) {
    auto cb = v.object_as<JsonCallback>();
    return cb ? cb->value() : json::object();
  }
  return J(v.ToText(&env.regional()));
}

Variant JsonToVariant(const json& j) {
  if (j.is_null()) return Variant();
  if (j.is_boolean()) return Variant(j.get<bool>());
  if (j.is_string()) return Variant(FromUtf8(j.get<std::string>()));
  if (j.is_number_integer()) {
    const int64_t i =
        j.is_number_unsigned() && j.get<uint64_t>() > INT64_MAX ? INT64_MAX : j.get<int64_t>();
    if (i >= INT32_MIN && i <= INT32_MAX) return Variant(static_cast<int32_t>(i));
    return Variant(static_cast<double>(i));
  }
  if (j.is_number()) return Variant(j.get<double>());
  throw std::invalid_argument("a variant argument must be a JSON scalar");
}

json ReplyToJson(const Text& reply, Env&) { return J(reply); }
json ReplyToJson(bool reply, Env&) { return reply; }
json ReplyToJson(const Variant& reply, Env& env) { return VariantToJson(reply, env); }

// The value `pellory host` keeps for an argument of kind K.
template <SessionArg K>
using HostValue = std::remove_cvref_t<CoreArg<K>>;

// Calls the Session's `Method` with `args`, parsed for its kinds K.
template <auto Method, SessionArg... K, size_t... I>
json CallWith(Session& s, Args& args, std::index_sequence<I...>) {
  return ReplyToJson((s.*Method)(std::get<HostValue<K>>(args[I])...), s.env());
}
template <auto Method, SessionReply, SessionArg... K>
json CallMethod(Session& s, Args& args) {
  return CallWith<Method, K...>(s, args, std::make_index_sequence<sizeof...(K)>{});
}

// The caller of each method of kSessionMethods, in slot order.
using MethodCall = json (*)(Session&, Args&);
#define PELLORY_HOST_CALL(slot, name, reply, ...) \
  &CallMethod<&Session::name, PELLORY_SESSION_KINDS(reply, __VA_ARGS__)>,
constexpr MethodCall kMethodCalls[] = {PELLORY_SESSION_METHODS(PELLORY_HOST_CALL)};
#undef PELLORY_HOST_CALL

const SessionMethod* FindMethod(const std::string& name) {
  for (const SessionMethod& m : kSessionMethods) {
    if (EqualsNoCase(FromUtf8(m.name), FromUtf8(name))) return &m;
  }
  return nullptr;
}

Arg ParseArg(const json& j, SessionArg kind, size_t index) {
  const std::string where = "argument " + std::to_string(index + 1);
  switch (kind) {
    case SessionArg::kText:
    case SessionArg::kTextRef:
      if (!j.is_string()) throw std::invalid_argument(where + " must be a string");
      return FromUtf8(j.get<std::string>());
    case SessionArg::kBoolRef:
      if (!j.is_boolean()) throw std::invalid_argument(where + " must be a boolean");
      return j.get<bool>();
    case SessionArg::kCallbackRef:
      if (j.is_null()) return ObjectRef();
      if (!j.is_object()) throw std::invalid_argument(where + " must be null or an object");
      return ObjectRef(std::make_shared<JsonCallback>(j));
    case SessionArg::kVariantRef:
      if (j.is_structured()) throw std::invalid_argument(where + " must be a JSON scalar");
      return JsonToVariant(j);
  }
  throw std::logic_error("unknown kind");
}

json ArgToJson(const Arg& arg, Env& env) {
  if (auto t = std::get_if<Text>(&arg)) return J(*t);
  if (auto b = std::get_if<bool>(&arg)) return *b;
  if (auto o = std::get_if<ObjectRef>(&arg)) {
    if (!*o) return nullptr;
    auto cb = std::dynamic_pointer_cast<JsonCallback>(*o);
    return cb ? cb->value() : json::object();
  }
  return VariantToJson(std::get<Variant>(arg), env);
}

class HostSimulator {
 public:
  explicit HostSimulator(Env& env) : env_(env) {}
  ~HostSimulator() {
    // Released in creation order, as a host would on shutdown.
    while (!order_.empty()) {
      sessions_.erase(order_.front());
      order_.erase(order_.begin());
    }
  }

  // Never throws: whatever goes wrong with one line is that line's error.
  json Handle(const std::string& line) {
    try {
      if (NestingDepth(line) > kMaxDepth) return Error("the line is nested too deeply");
      json in;
      try {
        in = json::parse(line);
      } catch (const json::exception& e) {
        return Error(std::string("bad JSON: ") + e.what());
      }
      if (LongestString(in) > kMaxValueBytes) {
        return Error("a value is longer than " + std::to_string(kMaxValueBytes) + " bytes");
      }
      return Dispatch(in);
    } catch (const std::exception& e) {
      return Error(e.what());
    } catch (...) {
      return Error("the line could not be answered");
    }
  }

 private:
  static json Error(const std::string& message) { return json{{"error", message}}; }

  // Copying and writing a JSON value recurses once per level: a line nested
  // deeper than any call needs is refused before it is parsed.
  static constexpr int kMaxDepth = 64;

  // The longest text (in UTF-8 bytes) among the keys and strings of `j`.
  // A Session makes many copies of the texts it is given, so texts longer
  // than any record needs are refused before they reach it.
  static size_t LongestString(const json& j) {
    if (j.is_string()) return j.get_ref<const std::string&>().size();
    size_t longest = 0;
    if (j.is_object()) {
      for (const auto& [key, value] : j.items()) {
        longest = std::max({longest, key.size(), LongestString(value)});
      }
    } else if (j.is_array()) {
      for (const json& value : j) longest = std::max(longest, LongestString(value));
    }
    return longest;
  }
  static int NestingDepth(const std::string& line) {
    int depth = 0, deepest = 0;
    bool in_string = false, escaped = false;
    for (char c : line) {
      if (in_string) {
        if (escaped) {
          escaped = false;
        } else if (c == '\\') {
          escaped = true;
        } else if (c == '"') {
          in_string = false;
        }
      } else if (c == '"') {
        in_string = true;
      } else if (c == '[' || c == '{') {
        deepest = std::max(deepest, ++depth);
      } else if (c == ']' || c == '}') {
        --depth;
      }
    }
    return deepest;
  }

  static int64_t SessionId(const json& j, const char* key) {
    if (!j.is_number_integer())
      throw std::invalid_argument(std::string(key) + " must be an integer");
    if (j.is_number_unsigned() && j.get<uint64_t>() > INT64_MAX) {
      throw std::invalid_argument(std::string(key) + " is out of range");
    }
    return j.get<int64_t>();
  }

  Session& Create(int64_t id) {
    auto session = std::make_unique<Session>(env_, WireSubsystems);
    Session& s = *session;
    sessions_[id] = std::move(session);
    order_.push_back(id);
    return s;
  }

  json Dispatch(const json& in) {
    if (!in.is_object()) return Error("each line must be a JSON object");
    if (in.contains("create")) {
      const int64_t id = SessionId(in["create"], "create");
      if (sessions_.count(id)) return Error("session " + std::to_string(id) + " exists");
      Session& s = Create(id);
      return json{{"session", id}, {"created", true}, {"instance", s.instance_no()}};
    }
    if (in.contains("release")) {
      const int64_t id = SessionId(in["release"], "release");
      if (!sessions_.erase(id)) return Error("no session " + std::to_string(id));
      std::erase(order_, id);
      return json{{"session", id}, {"released", true}};
    }
    if (!in.contains("call") || !in["call"].is_string()) {
      return Error("a line needs \"call\" (a method name), \"create\" or \"release\"");
    }
    const std::string call = in["call"].get<std::string>();
    const SessionMethod* method = FindMethod(call);
    if (!method) return Error("unknown method " + call);
    const std::string name(method->name);
    const json args_in = in.contains("args") ? in["args"] : json::array();
    if (!args_in.is_array()) return Error("\"args\" must be an array");
    if (args_in.size() != method->arg_count) {
      return Error(name + " takes " + std::to_string(method->arg_count) + " argument(s), got " +
                   std::to_string(args_in.size()));
    }
    Args args;
    for (size_t i = 0; i < args_in.size(); ++i) {
      args.push_back(ParseArg(args_in[i], method->args[i], i));
    }
    const int64_t id = in.contains("session") ? SessionId(in["session"], "session") : 1;
    auto it = sessions_.find(id);
    Session& session = it != sessions_.end() ? *it->second : Create(id);
    json result = kMethodCalls[method->slot - 1](session, args);
    json args_out = json::array();
    for (const Arg& a : args) args_out.push_back(ArgToJson(a, env_));
    return json{{"session", id}, {"call", name}, {"result", result}, {"args", args_out}};
  }

  Env& env_;
  std::map<int64_t, std::unique_ptr<Session>> sessions_;
  std::vector<int64_t> order_;
};

// Standard input split into lines, read as it arrives so that a driving
// script can wait for each reply. A line longer than the limit (or than
// memory allows) is read off to its end without being kept.
class LineReader {
 public:
  // kUnkept: the line was longer than the limit, or than memory allowed.
  enum class Got { kLine, kUnkept, kEnd };

  explicit LineReader(size_t limit) : limit_(limit), buffer_(1 << 16) {}

  Got Next(std::string& line) {
    line.clear();
    bool any = false, unkept = false;
    for (;;) {
      if (pos_ == end_ && !Fill()) {
        if (!any) return Got::kEnd;
        return unkept ? Got::kUnkept : Got::kLine;
      }
      const char* start = buffer_.data() + pos_;
      const char* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - pos_));
      const size_t n = newline ? static_cast<size_t>(newline - start) : end_ - pos_;
      any = true;
      if (!unkept) {
        try {
          if (line.size() + n > limit_) throw std::length_error("over the limit");
          line.append(start, n);
        } catch (const std::exception&) {
          unkept = true;
          std::string().swap(line);
        }
      }
      pos_ += n;
      if (newline) {
        ++pos_;
        return unkept ? Got::kUnkept : Got::kLine;
      }
    }
  }

  // The errno of a failed read; 0 when the input simply ended.
  int error() const { return error_; }

 private:
  bool Fill() {
    for (;;) {
#ifdef _WIN32
      const int n = _read(0, buffer_.data(), static_cast<unsigned>(buffer_.size()));
#else
      const ssize_t n = ::read(STDIN_FILENO, buffer_.data(), buffer_.size());
#endif
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error_ = errno;
      if (n <= 0) return false;
      pos_ = 0;
      end_ = static_cast<size_t>(n);
      return true;
    }
  }

  size_t limit_;
  std::vector<char> buffer_;
  size_t pos_ = 0, end_ = 0;
  int error_ = 0;
};

// A line long enough for two arguments of the longest value, each written
// with escapes.
constexpr size_t kMaxLineBytes = 16 * kMaxValueBytes;

int RunHost(CliContext& context) {
  HostSimulator host(context.env());
  LineReader input(kMaxLineBytes);
  std::string line;
  for (;;) {
    json reply;
    const LineReader::Got got = input.Next(line);
    if (got == LineReader::Got::kEnd) break;
    if (got == LineReader::Got::kUnkept) {
      reply = json{{"error", "the line could not be kept: it is longer than " +
                                 std::to_string(kMaxLineBytes) + " bytes or than memory allows"}};
    } else {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      reply = host.Handle(line);
    }
    std::string text;
    try {
      text = reply.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception& e) {
      text = json{{"error", std::string("the reply could not be written: ") + e.what()}}.dump();
    }
    std::cout << text << '\n' << std::flush;
    if (!std::cout) break;  // the output is gone: main says why
  }
  if (input.error() != 0) {
    std::cerr << "pellory host: cannot read the input: " << std::strerror(input.error()) << "\n";
    return 2;
  }
  return 0;
}

const bool registered = RegisterCommand(
    "host",
    "Host simulator: reads one JSON call per line on standard input and writes one JSON reply "
    "per line. Input: {\"session\": 1, \"call\": \"Configure\", \"args\": [\"{A=1}\", \"user\"]} "
    "(session optional, default 1, created on first use), {\"create\": 2}, {\"release\": 2}. "
    "Methods: the 28 Session methods by name, any letter case.",
    [](CLI::App& sub, CliContext& context) -> std::function<int()> {
      sub.footer(
          "Text arguments are JSON strings, Boolean ones JSON booleans, Initialize's callback "
          "null or any object, variant arguments any JSON scalar. Replies carry \"result\" and "
          "\"args\" as they stand after the call; a bad line, or a text longer than 1 MB, gives "
          "{\"error\": \"...\"} and the simulator goes on. Blank lines are skipped.");
      return [&context] { return RunHost(context); };
    });

}  // namespace
}  // namespace pellory::cli
