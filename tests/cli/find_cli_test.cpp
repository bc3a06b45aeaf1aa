// `pellory find` over the stand-in driver: numbers several contacts share,
// the number-matching options of one run and --explain.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "lookup/phone_number.h"
#include "plugin/records.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"
#include "support/shell.h"

namespace pellory::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Switchboards (one company written in several ways; companies of a
// serviced office; one contact without a company; four colleagues and their
// company's own entry) and single numbers. AV and AH store
// their numbers in the national form that a caller's E.164 number does not
// equal digit for digit.
constexpr char kBook[] =
    "Client_Id,Name_Type,First_Name,Name,Firm,PHONE_1,PHONE_1_Extension,PHONE_2,"
    "PHONE_2_Extension,COUNTRY\n"
    "HF1,I,Nia,Cole,harbour freight ltd,+44 20 7946 0100,MAIN,,,United Kingdom\n"
    "HF2,I,Ruth,Adler,Harbour Freight Ltd,+44 20 7946 0100,MAIN,07700 900100,Mobile,"
    "United Kingdom\n"
    "HF3,I,Sam,Okafor,HARBOUR FREIGHT LTD ,,,+44 20 7946 0100,WORK,GB\n"
    "SO1,I,Anna,Berg,Lindqvist AB,+44 20 7946 0200,MAIN,,,Sweden\n"
    "SO2,I,Tom,Ward,Ward & Co,+44 20 7946 0200,MAIN,,,United Kingdom\n"
    "NC1,I,Iris,Lamb,Lamb Studio,+44 20 7946 0300,MAIN,,,United Kingdom\n"
    "NC2,I,Ned,Pike,,+44 20 7946 0300,MAIN,,,United Kingdom\n"
    "KE1,I,Mia,Kern,Kern GmbH,+44 20 7946 0400,MAIN,,,Germany\n"
    "QP1,I,Ada,Quinn,Quay Partners,+44 20 7946 0500,MAIN,,,United Kingdom\n"
    "QP2,I,Ben,Quinn,Quay Partners,+44 20 7946 0500,MAIN,,,United Kingdom\n"
    "QP3,I,Cy,Quinn,Quay Partners,+44 20 7946 0500,MAIN,,,United Kingdom\n"
    "QP4,I,Di,Quinn,Quay Partners,+44 20 7946 0500,MAIN,,,United Kingdom\n"
    "QP5,C,,Quay Partners,,+44 20 7946 0500,MAIN,,,United Kingdom\n"
    "AV1,I,Lena,Voss,Voss Design,020 7946 0610,MAIN,,,United Kingdom\n"
    "AH1,I,Al,Hale,Hale & Co,020 7946 0700,MAIN,,,United Kingdom\n"
    "AH2,I,Bo,Hale,Hale & Co,020 7946 0700,MAIN,,,United Kingdom\n";

struct Outcome {
  int exit_code = -1;
  std::string out, err;
};

class FindCli : public ::testing::Test {
 protected:
  void SetUp() override {
    book = sandbox.MakeAddressBook("book", kBook);
    UseSettings();
  }

  // Host settings naming the book, with more DataRd entries when given.
  void UseSettings(const std::vector<std::pair<const char16_t*, const char16_t*>>& more = {}) {
    FakeEnv env;
    Text data, settings;
    AddVar(env, data, u"DBFile", Variant(FromUtf8(book.string())));
    for (const auto& [key, value] : more) AddVar(env, data, key, Variant(value));
    AddVar(env, settings, u"DataRd", Variant(data));
    std::ofstream(sandbox.Dir() / "host.rec") << ToUtf8(settings);
  }

  // `pellory find ARGS`; `env` holds assignments put before the program.
  Outcome Find(std::vector<std::string> args, const std::string& env = "LANG=en_GB.UTF-8") {
    const fs::path& d = sandbox.Dir();
    std::string cmd = "env LC_ALL= LC_MESSAGES= " + env +
                      " PELLORY_HOST_SETTINGS=" + Quote((d / "host.rec").string()) +
                      " PELLORY_REGISTRY=" + Quote((d / "registry.reg").string()) +
                      " PELLORY_TRACE_LOG=" + Quote((d / "trace.log").string()) + " " +
                      Quote(PELLORY_BIN) + " find";
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " >" + Quote((d / "out").string()) + " 2>" + Quote((d / "err").string());
    Outcome r;
    const int status = std::system(cmd.c_str());
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadAll(d / "out");
    r.err = ReadAll(d / "err");
    return r;
  }

  static json Json(const Outcome& r) { return json::parse(r.out, nullptr, false); }

  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  OdbcSandbox sandbox;
  fs::path book;
};

// The name and the identifiers of a caller whose number several contacts
// share, as a PBX script reads them.
TEST_F(FindCli, SharedNumberNamesTheCompanyAndListsEveryContact) {
  struct Case {
    const char* tel;
    std::vector<std::string> more;  // further options
    const char* name;               // --format name; empty: the first contact's own name
    std::set<std::string> ids;
    size_t id_count;  // how many ids (a subset of `ids` when --max cuts the list)
  } cases[] = {
      // Letter case and blanks around a company do not make another company.
      {"+44 20 7946 0100", {}, "Harbour Freight Ltd", {"HF1", "HF2", "HF3"}, 3},
      {"+44 (0)20 7946 0100", {}, "", {}, 0},  // the digits differ: nobody
      {"+44 20 7946 0200", {}, "", {"SO1", "SO2"}, 2},
      {"+44 20 7946 0300", {}, "", {"NC1", "NC2"}, 2},  // one without a company
      {"+44 20 7946 0400", {}, "Mia Kern", {"KE1"}, 1},
      {"+44 20 7946 0500", {}, "Quay Partners", {"QP1", "QP2", "QP3", "QP4", "QP5"}, 5},
      {"+44 20 7946 0500", {"--max", "2"}, "Quay Partners", {"QP1", "QP2", "QP3", "QP4", "QP5"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tel) + (c.more.empty() ? "" : " " + c.more[0] + " " + c.more[1]));
    std::vector<std::string> args = {"--tel", c.tel, "--format", "json"};
    args.insert(args.end(), c.more.begin(), c.more.end());
    Outcome r = Find(args);
    const json j = Json(r);
    ASSERT_TRUE(j.is_object()) << r.out << r.err;
    if (c.ids.empty()) {
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.out, "{\"found\":false}\n");
      continue;
    }
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // The keys that were there before keep their values.
    EXPECT_EQ(j["matches"], c.ids.size() > 1 ? 2 : 1);
    ASSERT_TRUE(j["ids"].is_array()) << r.out;
    EXPECT_EQ(j["ids"].size(), c.id_count) << r.out;
    EXPECT_EQ(j["ids"][0], j["contact"]["Id"]) << r.out;
    for (const json& id : j["ids"]) EXPECT_TRUE(c.ids.count(id.get<std::string>())) << id;
    EXPECT_EQ(std::set<json>(j["ids"].begin(), j["ids"].end()).size(), c.id_count);
    const json& contact = j["contact"];
    const std::string first =
        (contact.contains("Name") ? contact["Name"] : contact["Company"]).get<std::string>();

    args[3] = "name";
    r = Find(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string want = std::string(*c.name ? c.name : first.c_str()) + "\n";
    EXPECT_TRUE(EqualsNoCase(FromUtf8(r.out), FromUtf8(want))) << r.out << " wanted " << want;
  }
}

// --explain: its lines go to stderr, and stdout and the exit status stay
// what they are without it, whatever the form of the answer. Neither do
// --match exact and a region change them: exact matching is the default,
// and its replies carry no "Match".
TEST_F(FindCli, ExplainAndExactMatchingLeaveTheAnswerAsItWas) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;  // on stderr with --explain
  } cases[] = {
      {{"--tel", "+44 20 7946 0100", "--format", "name"},
       {"explain: request FindContact {Tel", "explain: request FindList {Tel"}},
      {{"--tel", "+44 20 7946 0500", "--format", "json", "--max", "3"},
       {"explain: request FindList {Tel(S16)=+44 20 7946 0500}{MaxFind"}},
      {{"--tel", "+44 20 7946 0400"}, {"explain: request FindContact"}},
      {{"--tel", "+44 20 7946 0200", "--raw"}, {"explain: request FindContact"}},
      {{"--tel", "+44 20 7946 0500", "--list", "--raw"}, {"explain: request FindList"}},
      {{"--tel", "+44 20 7946 0610", "--raw"}, {"explain: request FindContact"}},
      {{"--tel", "020 7946 0610", "--format", "json"}, {"explain: request FindContact"}},
      {{"--tel", "+44 20 7946 0700", "--format", "json"}, {"explain: request FindContact"}},
      {{"--text", "quinn", "--format", "name"}, {"explain: request FindContact {Text"}},
      {{"--id", "KE1", "--format", "json"}, {"explain: request FindContact {Id"}},
      {{"--tel", "anonymous", "--format", "json"}, {"explain: number holds no digit"}},
  };
  // Speed is the time the search took: it may differ from run to run.
  auto without_speed = [](std::string s) {
    const size_t at = s.find("{Speed(");
    return at == std::string::npos ? s : s.erase(at, s.find('}', at) + 1 - at);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const Outcome plain = Find(c.args);
    EXPECT_EQ(plain.err.find("explain:"), std::string::npos) << plain.err;
    for (const std::vector<std::string>& more :
         {std::vector<std::string>{"--explain"}, {"--match", "exact", "--region", "DE"}}) {
      std::vector<std::string> args = c.args;
      args.insert(args.end(), more.begin(), more.end());
      const Outcome r = Find(args);
      EXPECT_EQ(without_speed(r.out), without_speed(plain.out)) << more[0];
      EXPECT_EQ(r.exit_code, plain.exit_code) << more[0];
      EXPECT_FALSE(Has(r.out, "{Match(")) << r.out;
      if (more[0] != "--explain") continue;
      for (const std::string& line : c.lines) EXPECT_TRUE(Has(r.err, line)) << r.err;
      // Every line it adds is an explain line.
      std::string rest = r.err;
      for (size_t at; (at = rest.find("explain: ")) != std::string::npos;) {
        rest.erase(at, rest.find('\n', at) + 1 - at);
      }
      EXPECT_EQ(rest, plain.err);
    }
  }
  // The request is shown as data: a line break in it cannot start a line.
  const Outcome r = Find({"--text", "a\nexplain: forged", "--explain"});
  EXPECT_TRUE(Has(r.err, "=a\\u000aexplain: forged}")) << r.err;
}

// --match and --region reach the session's settings for one run, in place
// of the stored ones, and leave the stored settings as they are.
TEST_F(FindCli, MatchAndRegionOverrideTheStoredSettingsForOneRun) {
  struct Case {
    std::vector<std::pair<const char16_t*, const char16_t*>> stored;
    std::vector<std::string> options;
    std::string env;
    const char* match;   // the explain line
    const char* region;  // the explain line
  } cases[] = {
      {{}, {}, "LANG=en_NZ.UTF-8", "match Exact (default)", "region NZ (the locale's)"},
      {{}, {}, "LANG=C", "match Exact (default)", "region none (the locale names no country)"},
      {{}, {"--match", "ANY", "--region", "de"}, "LANG=C", "match Any", "region DE"},
      {{{u"NumberMatch", u"Any"}, {u"Region", u"FR"}}, {}, "", "match Any", "region FR"},
      {{{u"NumberMatch", u"any"}, {u"Region", u"fr"}},
       {"--match", "Exact", "--region", "IT"},
       "",
       "match Exact",
       "region IT"},
      {{{u"NumberMatch", u"Fuzzy"}, {u"Region", u"Atlantis"}},
       {},
       "LANG=es_ES.UTF-8",
       "match Exact (NumberMatch Fuzzy is unknown)",
       "region ES (the locale's; Region Atlantis is unknown)"},
      {{{u"NumberMatch", u"Fuzzy"}, {u"Region", u"Atlantis"}},
       {"--match", "any", "--region", "US"},
       "",
       "match Any",
       "region US"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.match) + " / " + c.region);
    UseSettings(c.stored);
    const std::string stored = ReadAll(sandbox.Dir() / "host.rec");
    std::vector<std::string> args = {"--tel", "+44 20 7946 0400", "--format", "name", "--explain"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome r = Find(args, c.env.empty() ? "LANG=en_GB.UTF-8" : c.env);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "Mia Kern\n");
    EXPECT_TRUE(Has(r.err, std::string("explain: ") + c.match + "\n")) << r.err;
    EXPECT_TRUE(Has(r.err, std::string("explain: ") + c.region + "\n")) << r.err;
    EXPECT_EQ(ReadAll(sandbox.Dir() / "host.rec"), stored);
  }
}

// Values the options do not take are usage errors, exit status and message
// like the command's other ones, and the database is not opened.
TEST_F(FindCli, BadMatchOrRegionIsAUsageError) {
  const Outcome other = Find({"--tel", "+44 20 7946 0400", "--format", "fancy"});
  ASSERT_NE(other.exit_code, 0);
  ASSERT_NE(other.exit_code, 1);
  struct Case {
    const char* option;
    const char* value;
    const char* says;
  } cases[] = {
      {"--match", "fuzzy", "'fuzzy' is neither exact nor any"},
      {"--match", "", "'' is neither exact nor any"},
      {"--match", "exactly", "neither exact nor any"},
      {"--region", "XX", "'XX' is no country's ISO 3166-1 two-letter code"},
      {"--region", "UK", "(United Kingdom is GB)"},
      {"--region", "GBR", "(United Kingdom is GB)"},
      {"--region", "Germany", "(Germany is DE)"},
      {"--region", "001", "no country's ISO 3166-1"},
      {"--region", "", "no country's ISO 3166-1"},
      {"--region", "G\xc3\x9c", "no country's ISO 3166-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.value);
    const Outcome r = Find({"--tel", "+44 20 7946 0400", c.option, c.value});
    EXPECT_EQ(r.exit_code, other.exit_code);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.err, std::string(c.option) + ": ")) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
  }
  EXPECT_FALSE(fs::exists(sandbox.Dir() / "trace.log"));
  const Outcome help = Find({"--help"});
  for (const char* option : {"--match", "--region", "--explain", "\"ids\""}) {
    EXPECT_TRUE(Has(help.out, option)) << option;
  }
}

// Numbers written in another form than the stored one, found by matching in
// any format.
TEST_F(FindCli, AnyFormatMatchingThroughTheCommand) {
  const Outcome probe = Find({"--tel", "+44 20 7946 0400", "--match", "any", "--raw"});
  ASSERT_TRUE(Has(probe.out, "{Match(")) << probe.out;
  EXPECT_TRUE(Has(probe.out, "{Match(S5)=Exact}{Speed(")) << probe.out;

  const lookup::RegionInfo& gb = *lookup::FindRegion(u"GB");
  const std::string e164 =
      ToUtf8(lookup::E164(*lookup::Interpret(u"+44 20 7946 0610", gb)));  // +442079460610

  // Exact matching misses the national form; any-format matching finds it.
  EXPECT_EQ(Find({"--tel", "+44 20 7946 0610", "--format", "name"}).exit_code, 1);
  Outcome r = Find({"--tel", "+44 20 7946 0610", "--match", "any", "--raw", "--explain"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "{Match(S4)=Same}{Speed(")) << r.out;
  for (const std::string& line :
       {"explain: number " + e164 + "\n", std::string("explain: statement "),
        std::string("explain: candidate AV1 \"020 7946 0610"), std::string("explain: exact step "),
        std::string("explain: any format step ")}) {
    EXPECT_TRUE(Has(r.err, line)) << line << "\n" << r.err;
  }
  const size_t candidate = r.err.find("explain: candidate AV1 ");
  const size_t end = r.err.find('\n', candidate);
  EXPECT_TRUE(candidate != std::string::npos && end != std::string::npos &&
              r.err.compare(end - 5, 5, " Same") == 0)
      << r.err;

  // The home country reads a number written without its country code.
  for (const char16_t* region : {u"GB", u"DE", u"US"}) {
    const auto read = lookup::Interpret(u"020 7946 0999", *lookup::FindRegion(region));
    r = Find({"--tel", "020 7946 0999", "--match", "any", "--region", ToUtf8(region), "--explain"});
    const std::string line =
        read ? "explain: number " + ToUtf8(lookup::E164(*read)) : "explain: number not";
    EXPECT_TRUE(Has(r.err, line)) << ToUtf8(region) << ": " << line << "\n" << r.err;
  }

  // A switchboard stored in the national form: its company, and every
  // contact of the tier.
  r = Find({"--tel", "+44 20 7946 0700", "--match", "any", "--format", "name"});
  EXPECT_EQ(r.out, "Hale & Co\n") << r.err;
  r = Find({"--tel", "+44 20 7946 0700", "--match", "any", "--format", "json"});
  const json j = Json(r);
  ASSERT_TRUE(j.is_object()) << r.out;
  EXPECT_EQ(std::set<json>(j["ids"].begin(), j["ids"].end()), std::set<json>({"AH1", "AH2"}));
}

}  // namespace
}  // namespace pellory::testing
