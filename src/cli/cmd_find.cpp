// pellory find: looks a contact up as the host does (FindContact or
// FindList) and prints a contact card, a list, the display name alone, JSON
// or the reply record. Exit status: 0 found, 1 not found, 2 failure, so that
// a PBX's caller-name lookup can call it.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "plugin/records.h"
#include "plugin/session.h"

#if __has_include("cli/command.h")
#include "cli/command.h"
#include "cli/json_text.h"
#define PELLORY_FIND_REGISTERED 1
#endif

namespace pellory::cli {
namespace {

struct FindOptions {
  std::string tel, text, begin, id;
  bool tel_given = false;
  bool list = false;
  long long max = 0;
  bool max_given = false;
  bool raw = false;
  std::string format = "table";
  int timeout = -1;  // seconds; -1: the stored setting
};

struct Field {
  const char16_t* key;
  const char* label;
};

// A contact record's keys in the order a card shows them.
constexpr Field kCardFields[] = {{u"Company", "Company"},
                                 {u"Dept", "Department"},
                                 {u"Position", "Position"},
                                 {u"MainTel", "Main"},
                                 {u"Business", "Work"},
                                 {u"Phone1", "Phone 1"},
                                 {u"Phone2", "Phone 2"},
                                 {u"Phone3", "Phone 3"},
                                 {u"Other", "Other"},
                                 {u"Fax", "Fax"},
                                 {u"Address", "Address"},
                                 {u"Address2", ""},
                                 {u"Town", "Town"},
                                 {u"County", "County"},
                                 {u"PostCode", "Post code"},
                                 {u"Country", "Country"},
                                 {u"Id", "Id"}};

// The keys of a contact record and of a list entry, for JSON.
constexpr const char16_t* kContactKeys[] = {
    u"Id",      u"Name",     u"Company", u"Dept",   u"Position", u"MainTel",
    u"Fax",     u"Business", u"Phone1",  u"Phone2", u"Phone3",   u"Other",
    u"Address", u"Address2", u"Town",    u"County", u"PostCode", u"Country"};
constexpr const char16_t* kEntryKeys[] = {u"Name",    u"Company", u"Id",   u"Phone 1",
                                          u"Phone 2", u"Phone 3", u"Other"};

std::string JsonString(TextView text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

// The entries of `rd` named in `keys` that it holds, as a JSON object.
template <size_t K>
std::string JsonObject(Env& env, TextView rd, const char16_t* const (&keys)[K]) {
  std::string out = "{";
  const Variant absent = Variant::Missing();
  for (const char16_t* key : keys) {
    Variant v = GetVar(env, rd, key, absent);
    if (v.is_missing()) continue;
    if (out.size() > 1) out += ",";
    out += JsonString(key) + ":" + JsonString(v.ToText(&env.regional()));
  }
  return out + "}";
}

// What a person reads as the contact's name: the person's name, else the
// company's.
Text DisplayName(Env& env, TextView rd) {
  Text name = GetText(env, rd, u"Name");
  return name.empty() ? GetText(env, rd, u"Company") : name;
}

size_t Width(const std::string& utf8) {
  return static_cast<size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Pad(const std::string& utf8, size_t width) {
  size_t w = Width(utf8);
  return w >= width ? utf8 : utf8 + std::string(width - w, ' ');
}

void PrintCard(Env& env, TextView rd, int matches) {
  std::cout << ToUtf8(DisplayName(env, rd)) << "\n";
  for (const Field& f : kCardFields) {
    Text value = GetText(env, rd, f.key);
    if (value.empty()) continue;
    std::cout << "  " << Pad(f.label, 11) << " " << ToUtf8(value) << "\n";
  }
  if (matches > 1) std::cout << "(more than one contact matches; this is the first)\n";
}

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += i + 1 < row.size() ? Pad(row[i], widths[i] + 2) : row[i];
    }
    std::cout << line << "\n";
  }
}

int Number(Env& env, TextView rd, const char16_t* key) {
  double d = GetVar(env, rd, key, Variant(0.0)).ToDouble();
  return static_cast<int>(d);
}

// Runs one search on an initialised session and prints the outcome.
// Whether a caller ID holds a number at all: withheld, "anonymous" and
// the like hold no digit.
bool HoldsDigits(const std::string& tel) {
  return std::any_of(tel.begin(), tel.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The answer to a search that found nobody, printed without asking the
// database.
int NotFound(const FindOptions& o) {
  if (o.format == "json") {
    std::cout << "{\"found\":false}\n";
  } else if (o.format != "name") {
    std::cerr << "No contact found.\n";
  }
  return 1;
}

[[maybe_unused]] int RunFind(CliContext& ctx, const FindOptions& o) {
  if (o.tel.empty() && o.text.empty() && o.begin.empty() && o.id.empty() && !o.tel_given) {
    std::cerr << "pellory find: give --tel, --text, --begin or --id\n";
    return 2;
  }
  // A caller ID that is no number (withheld, "anonymous", empty) finds
  // nobody; the database is not asked.
  if (o.tel_given && !HoldsDigits(o.tel) && o.text.empty() && o.begin.empty() && o.id.empty()) {
    return o.raw ? (std::cout << "{Result=Fail}{Reason=NoFind}\n", 1) : NotFound(o);
  }
  auto opened = ctx.OpenSession();
  Session& session = *opened;
  Env& env = session.env();
  Text vars;
  Text load = session.Load(vars);
  if (UpperCase(GetText(env, load, u"Result")) == u"FAIL") {
    std::cerr << "pellory find: " << ToUtf8(GetText(env, load, u"Reason")) << "\n";
    return 2;
  }

  Text request;
  if (!o.id.empty()) AddVar(env, request, u"Id", Variant(FromUtf8(o.id)));
  if (!o.begin.empty()) AddVar(env, request, u"Begin", Variant(FromUtf8(o.begin)));
  if (!o.text.empty()) AddVar(env, request, u"Text", Variant(FromUtf8(o.text)));
  if (!o.tel.empty()) AddVar(env, request, u"Tel", Variant(FromUtf8(o.tel)));
  if (o.max_given) AddVar(env, request, u"MaxFind", Variant(static_cast<double>(o.max)));
  Text reply = o.list ? session.FindList(request) : session.FindContact(request);
  const bool found = GetText(env, reply, u"Result") == u"Success";
  const bool timed_out = !found && GetText(env, reply, u"Reason") == u"Timeout";
  if (timed_out && !o.raw) {
    std::cerr << "pellory find: Timeout: the lookup did not finish in time\n";
  }
  // A database that failed during the search is no unknown caller.
  const Text& failure = session.lookup()->search_failure();
  if (!found && !timed_out && !failure.empty()) {
    std::cerr << "pellory find: the search failed: " << ToUtf8(failure) << "\n";
    return 2;
  }
  // An identifier search replies the contact record alone, even for a list.
  const bool is_list = o.list && o.id.empty();

  if (o.raw) {
    std::cout << ToUtf8(reply) << "\n";
    return found ? 0 : 1;
  }
  std::vector<Text> entries;
  if (found && is_list) {
    int count = Number(env, reply, u"ListCount");
    for (int i = 1; i <= count; ++i)
      entries.push_back(GetText(env, reply, u"List" + IntegerText(i)));
  }
  int matches = found ? std::max(1, Number(env, reply, u"Matches")) : 0;

  if (o.format == "json") {
    std::string out = std::string("{\"found\":") + (found ? "true" : "false");
    if (timed_out) out += ",\"reason\":\"Timeout\"";
    if (found) {
      out += ",\"matches\":" + std::to_string(matches);
      if (is_list) {
        out += ",\"contacts\":[";
        for (size_t i = 0; i < entries.size(); ++i) {
          out += (i ? "," : "") + JsonObject(env, entries[i], kEntryKeys);
        }
        out += "]";
      } else {
        out += ",\"contact\":" + JsonObject(env, reply, kContactKeys);
      }
    }
    std::cout << out << "}\n";
  } else if (!found) {
    if (timed_out) return 1;
    return NotFound(o);
  } else if (o.format == "name") {
    if (is_list) {
      for (const Text& e : entries) std::cout << ToUtf8(DisplayName(env, e)) << "\n";
    } else {
      std::cout << ToUtf8(DisplayName(env, reply)) << "\n";
    }
  } else if (is_list) {
    std::vector<std::vector<std::string>> rows = {{"NAME", "COMPANY", "PHONE", "ID"}};
    for (const Text& e : entries) {
      Text phone = GetText(env, e, u"Phone 1");
      for (const char16_t* key : {u"Phone 2", u"Phone 3", u"Other"}) {
        if (phone.empty()) phone = GetText(env, e, key);
      }
      rows.push_back({ToUtf8(GetText(env, e, u"Name")), ToUtf8(GetText(env, e, u"Company")),
                      ToUtf8(phone), ToUtf8(GetText(env, e, u"Id"))});
    }
    PrintTable(rows);
  } else {
    PrintCard(env, reply, matches);
  }
  return found ? 0 : 1;
}

#ifdef PELLORY_FIND_REGISTERED
const bool registered = RegisterCommand(
    "find", "Look a contact up by number, words, first letter or identifier",
    [](CLI::App& sub, CliContext& ctx) {
      auto o = std::make_shared<FindOptions>();
      sub.add_option("--tel", o->tel, "Telephone number, in any format")
          ->each([o](const std::string&) { o->tel_given = true; });
      sub.add_option("--text", o->text, "Words of the name or the company");
      sub.add_option("--begin", o->begin, "First letter of the name");
      sub.add_option("--id", o->id, "Client identifier");
      sub.add_flag("--list", o->list, "List every candidate (FindList) instead of one contact");
      sub.add_option("--max", o->max, "Most entries of a list (MaxFind; default 50)")
          ->each([o](const std::string&) { o->max_given = true; });
      sub.add_flag("--raw", o->raw, "Print the reply record as the host receives it");
      sub.add_option("--format", o->format, "Output: table (default), json or name")
          ->check(CLI::IsMember({"table", "json", "name"}));
      AddTimeoutOption(sub, o->timeout);
      sub.footer(
          "Exit status: 0 when a contact was found, 1 when none was (also when the lookup ran out "
          "of time), 2 on failure.\n"
          "Uses the host settings (PELLORY_HOST_SETTINGS); without them, the sample address "
          "book.");
      return [o, &ctx] {
        OverrideTimeout(ctx, o->timeout);
        return RunFind(ctx, *o);
      };
    });
#endif

}  // namespace
}  // namespace pellory::cli
