// pellory find: looks a contact up as the host does (FindContact or
// FindList) and prints a contact card, a list, the display name alone, JSON
// or the reply record. Exit status: 0 found, 1 not found, 2 failure, so that
// a PBX's caller-name lookup can call it.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "lookup/phone_number.h"
#include "plugin/records.h"
#include "plugin/search_observer.h"
#include "plugin/session.h"

#if __has_include("cli/command.h")
#include "cli/command.h"
#include "cli/contact_fields.h"
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
  int timeout = -1;    // seconds; -1: the stored setting
  std::string match;   // "exact" or "any" in any case; empty: the stored NumberMatch
  std::string region;  // ISO 3166-1 alpha-2 code; empty: the stored Region
  bool explain = false;
};

// Why `value` is no number-match mode; empty when it is one.
std::string MatchError(const std::string& value) {
  const Text v = FromUtf8(value);
  if (EqualsNoCase(v, u"exact") || EqualsNoCase(v, u"any")) return "";
  return "'" + value + "' is neither exact nor any";
}

// Why `value` is no country's ISO 3166-1 two-letter code; empty when it is
// one. Names and three-letter codes, which the numbering plans also know,
// are refused: the setting holds the two-letter code.
std::string RegionError(const std::string& value) {
  const Text v = FromUtf8(value);
  const bool letters = v.size() == 2 && std::all_of(v.begin(), v.end(), [](char16_t c) {
                         return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
                       });
  const lookup::RegionInfo* region = lookup::FindRegion(v);
  if (letters && region && UpperCase(v) == FromUtf8(region->code)) return "";
  std::string why = "'" + value + "' is no country's ISO 3166-1 two-letter code";
  if (region && region->name[0] != u'\0') {
    why += " (" + ToUtf8(region->name) + " is " + region->code + ")";
  }
  return why;
}

// Puts --match and --region into the DataRd of this run's sessions (the
// stored settings stay as they are); an option not given leaves the stored
// value.
void OverrideNumberMatch(CliContext& ctx, const std::string& match, const std::string& region) {
  Env& env = ctx.env();
  if (!match.empty()) {
    const bool any = EqualsNoCase(FromUtf8(match), u"any");
    AddVar(env, ctx.settings().data_rd, u"NumberMatch", Variant(any ? u"Any" : u"Exact"));
  }
  if (!region.empty()) {
    AddVar(env, ctx.settings().data_rd, u"Region", Variant(UpperCase(FromUtf8(region))));
  }
}

// `text` for one line of a terminal: control characters (a line break in a
// stored value, an escape sequence) are shown escaped as JSON escapes them.
std::string Printable(TextView text) {
  Text shown;
  for (char16_t c : text) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      static constexpr char16_t kHex[] = u"0123456789abcdef";
      shown += u"\\u00";
      shown += kHex[c >> 4];
      shown += kHex[c & 0xF];
    } else {
      shown += c;
    }
  }
  return ToUtf8(shown);
}

// What the search does, on standard error, one "explain: " line a step;
// standard output is left to the answer.
class ExplainLines final : public SearchObserver {
 public:
  static void Line(const std::string& text) { std::cerr << "explain: " << text << "\n"; }

  void Interpreted(TextView e164) override { Line("number " + Printable(e164)); }
  void NotInterpreted(TextView why) override { Line("number not interpreted: " + Printable(why)); }
  void Statement(TextView text) override { Line("statement " + Printable(text)); }
  void Candidate(TextView id, TextView number, TextView tier) override {
    // Quoted, as a stored number may hold blanks; what JSON leaves as it
    // is (DEL and the C1 controls) is escaped too.
    std::string quoted;
    AppendJsonString(quoted, number);
    Line("candidate " + (id.empty() ? std::string("(no id)") : Printable(id)) + " " +
         Printable(FromUtf8(quoted)) + " " + Printable(tier));
  }
  void StepDone(TextView step, double seconds) override {
    // Fixed notation with a point whatever the locale, so lines stay alike.
    char ms[32];
    auto end = std::to_chars(ms, ms + sizeof ms, seconds * 1000, std::chars_format::fixed, 1).ptr;
    Line(Printable(step) + " step " + std::string(ms, end) + " ms");
  }
};

// The number-matching settings the session was initialised with, as the
// search takes them: a value it does not know counts as absent.
void ExplainSettings(Session& session) {
  Env& env = session.env();
  const Text match = Trim(GetText(env, session.data_rd(), u"NumberMatch"));
  const Text region = Trim(GetText(env, session.data_rd(), u"Region"));
  if (match.empty()) {
    ExplainLines::Line("match Exact (default)");
  } else if (!MatchError(ToUtf8(match)).empty()) {
    ExplainLines::Line("match Exact (NumberMatch " + Printable(match) + " is unknown)");
  } else {
    ExplainLines::Line(EqualsNoCase(match, u"any") ? "match Any" : "match Exact");
  }
  if (!region.empty() && RegionError(ToUtf8(region)).empty()) {
    ExplainLines::Line("region " + ToUtf8(UpperCase(region)));
    return;
  }
  const Text territory = env.regional().Territory();
  std::string line = "region " + (territory.empty() ? std::string("none") : ToUtf8(territory)) +
                     " (" + (territory.empty() ? "the locale names no country" : "the locale's");
  if (!region.empty()) line += "; Region " + Printable(region) + " is unknown";
  ExplainLines::Line(line + ")");
}

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

// Every contact behind the number of a contact search that saw more than
// one (colleagues behind one switchboard), as the host would get them: a
// list search of the same request. Empty when the list cannot be had; the
// first contact then stands alone.
std::vector<Text> ContactsSharingTheNumber(Session& session, const Text& request, bool explain) {
  Env& env = session.env();
  if (explain) ExplainLines::Line("request FindList " + Printable(request));
  const Text reply = session.FindList(request);
  if (GetText(env, reply, u"Result") == u"Success") return ListEntries(env, reply);
  const Text& failure = session.lookup()->search_failure();
  const Text reason = GetText(env, reply, u"Reason");
  if (!failure.empty() || reason == u"Timeout") {
    std::cerr << "pellory find: the other contacts behind the number could not be listed: "
              << ToUtf8(failure.empty() ? reason : failure) << "\n";
  }
  return {};
}

// What a search gave, as the output formats read it.
struct FindOutcome {
  Text reply;
  bool found = false;
  bool timed_out = false;
  bool is_list = false;
  bool by_number = false;
  int matches = 0;
  std::vector<Text> entries;  // a list search's entries
  std::vector<Text> sharing;  // the contacts behind a number several share
};

std::string FindJson(Env& env, const FindOutcome& out) {
  std::string json = std::string("{\"found\":") + (out.found ? "true" : "false");
  if (out.timed_out) json += ",\"reason\":\"Timeout\"";
  if (!out.found) return json + "}";
  json += ",\"matches\":" + std::to_string(out.matches);
  if (out.is_list) {
    json += ",\"contacts\":[";
    for (size_t i = 0; i < out.entries.size(); ++i) {
      json += (i ? "," : "") + JsonObject(env, out.entries[i], kEntryKeys);
    }
    return json + "]}";
  }
  json += ",\"contact\":" + JsonObject(env, out.reply, kContactKeys);
  if (out.by_number) {
    // The identifiers of every contact behind the number, the one above
    // first; a contact without one is left out.
    std::vector<Text> ids;
    for (const Text& entry : out.sharing) ids.push_back(GetText(env, entry, u"Id"));
    if (out.sharing.empty()) ids.push_back(GetText(env, out.reply, u"Id"));
    std::string list;
    for (const Text& id : ids) {
      if (id.empty()) continue;
      list += (list.empty() ? "" : ",") + JsonString(id);
    }
    json += ",\"ids\":[" + list + "]";
  }
  return json + "}";
}

void PrintListTable(Env& env, const std::vector<Text>& entries) {
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
}

// Prints the answer in the format asked for; the exit status.
int PrintOutcome(Env& env, const FindOptions& o, const FindOutcome& out) {
  if (o.format == "json") {
    std::cout << FindJson(env, out) << "\n";
  } else if (!out.found) {
    return out.timed_out ? 1 : NotFound(o);
  } else if (o.format == "name") {
    if (out.is_list) {
      for (const Text& e : out.entries) std::cout << ToUtf8(DisplayName(env, e)) << "\n";
    } else if (Text company = SharedCompany(env, out.sharing);
               out.sharing.size() >= 2 && !company.empty()) {
      std::cout << ToUtf8(company) << "\n";
    } else {
      std::cout << ToUtf8(DisplayName(env, out.reply)) << "\n";
    }
  } else if (out.is_list) {
    PrintListTable(env, out.entries);
  } else {
    PrintCard(env, out.reply, out.matches);
  }
  return out.found ? 0 : 1;
}

int RunFind(CliContext& ctx, const FindOptions& o) {
  if (o.tel.empty() && o.text.empty() && o.begin.empty() && o.id.empty() && !o.tel_given) {
    std::cerr << "pellory find: give --tel, --text, --begin or --id\n";
    return 2;
  }
  // A caller ID that is no number (withheld, "anonymous", empty) finds
  // nobody; the database is not asked.
  if (o.tel_given && !HoldsDigits(o.tel) && o.text.empty() && o.begin.empty() && o.id.empty()) {
    if (o.explain) ExplainLines::Line("number holds no digit: the database is not asked");
    return o.raw ? (std::cout << "{Result=Fail}{Reason=NoFind}\n", 1) : NotFound(o);
  }
  // Declared before the session, which reports to it until it is gone.
  ExplainLines explain;
  auto opened = ctx.OpenSession();
  Session& session = *opened;
  Env& env = session.env();
  Text vars;
  Text load = session.Load(vars);
  if (UpperCase(GetText(env, load, u"Result")) == u"FAIL") {
    std::cerr << "pellory find: " << ToUtf8(GetText(env, load, u"Reason")) << "\n";
    return 2;
  }
  if (o.explain) {
    ExplainSettings(session);
    session.lookup()->SetObserver(&explain);
  }

  Text request;
  if (!o.id.empty()) AddVar(env, request, u"Id", Variant(FromUtf8(o.id)));
  if (!o.begin.empty()) AddVar(env, request, u"Begin", Variant(FromUtf8(o.begin)));
  if (!o.text.empty()) AddVar(env, request, u"Text", Variant(FromUtf8(o.text)));
  if (!o.tel.empty()) AddVar(env, request, u"Tel", Variant(FromUtf8(o.tel)));
  if (o.max_given) AddVar(env, request, u"MaxFind", Variant(static_cast<double>(o.max)));
  if (o.explain) {
    ExplainLines::Line(std::string("request ") + (o.list ? "FindList " : "FindContact ") +
                       Printable(request));
  }
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
  FindOutcome out;
  out.reply = reply;
  out.found = found;
  out.timed_out = timed_out;
  out.is_list = o.list && o.id.empty();
  if (o.raw) {
    std::cout << ToUtf8(reply) << "\n";
    return found ? 0 : 1;
  }
  if (found && out.is_list) out.entries = ListEntries(env, reply);
  out.matches = found ? std::max(1, ReplyNumber(env, reply, u"Matches")) : 0;

  // A number search that found one contact of several behind the number:
  // the name and JSON answers speak for all of them.
  out.by_number = !o.tel.empty() && o.id.empty() && o.begin.empty() && o.text.empty();
  if (found && out.by_number && !out.is_list && out.matches >= 2 && o.format != "table") {
    out.sharing = ContactsSharingTheNumber(session, request, o.explain);
  }
  return PrintOutcome(env, o, out);
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
      sub.add_option("--match", o->match,
                     "How a number is matched: exact (as stored) or any (written in any format, "
                     "read in the home country), in place of the stored NumberMatch setting")
          ->check(CLI::Validator(MatchError, "exact|any", "match"));
      sub.add_option("--region", o->region,
                     "Home country as an ISO 3166-1 two-letter code (GB, US, DE) for reading "
                     "numbers written without their country code, in place of the stored Region "
                     "setting")
          ->check(CLI::Validator(RegionError, "CC", "region"));
      sub.add_flag("--explain", o->explain,
                   "Show on standard error how the search went: the settings, each request, the "
                   "number as read, each statement, the candidates with their tier and the time "
                   "of each step");
      sub.footer(
          "Exit status: 0 when a contact was found, 1 when none was (also when the lookup ran out "
          "of time), 2 on failure.\n"
          "When several contacts share the number (a switchboard), --format name prints their "
          "company if they all have the same one, and --format json lists all of them under "
          "\"ids\".\n"
          "Uses the host settings (PELLORY_HOST_SETTINGS); without them, the sample address "
          "book. --timeout, --match and --region hold for this run; the stored settings stay as "
          "they are.");
      return [o, &ctx] {
        OverrideTimeout(ctx, o->timeout);
        OverrideNumberMatch(ctx, o->match, o->region);
        return RunFind(ctx, *o);
      };
    });
#endif

}  // namespace
}  // namespace pellory::cli
