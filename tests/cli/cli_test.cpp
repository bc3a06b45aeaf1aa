// Drives the built `pellory` program through its standard input and output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/context.h"
#include "plugin/records.h"
#include "support/fake_env.h"
#include "support/shell.h"

namespace pellory::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Outcome {
  int exit_code = -1;
  std::string out, err;
  std::vector<json> lines;  // stdout parsed as JSON Lines
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pellory-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs the program; its standard output goes to `out` when that is given.
  Outcome Pellory(const std::vector<std::string>& args, const std::string& input = "",
                  std::string out = "") {
    { std::ofstream(dir / "in", std::ios::binary) << input; }
    if (out.empty()) out = (dir / "out").string();
    std::string cmd =
        "PELLORY_HOST_SETTINGS=" + Quote((dir / "host.rec").string()) + " " + Quote(PELLORY_BIN);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " <" + Quote((dir / "in").string()) + " >" + Quote(out) + " 2>" +
           Quote((dir / "err").string());
    Outcome r;
    int status = std::system(cmd.c_str());
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadAll(dir / "out");
    r.err = ReadAll(dir / "err");
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      r.lines.push_back(json::parse(line, nullptr, false));
    }
    return r;
  }

  Outcome Host(const std::vector<std::string>& lines) {
    std::string input;
    for (const auto& l : lines) input += l + "\n";
    return Pellory({"host"}, input);
  }

  fs::path dir;
};

// Each of the 28 methods by its name in any letter case, on a session whose
// data directory does not exist: the reply names the method as declared and
// carries its result and the arguments as they stand after the call.
TEST_F(Cli, HostAnswersAllTwentyEightMethodsByName) {
  const std::string caps = "{Client=1}{Server=1}{NeedContact=Show Contact,Show Contact Item}";
  const std::string no_load = "{Result=Fail}{Reason=Could not load Database}";
  const std::string no_find = "{Result(S4)=Fail}{Reason(S6)=NoFind}";
  const struct {
    const char* call;
    const char* args;
    json result;
  } calls[] = {
      {"Install", "[]", ""},
      {"Uninstall", "[]", ""},
      {"Configure", R"(["{A=1}", "Action"])", "{A=1}{Page(S6)=ACTION}"},
      {"Initialize", R"(["{DBFile=/nowhere}", "", {"host": "test"}])", ""},
      {"Uninitialize", "[]", ""},
      {"Load", R"(["ignored"])", no_load},
      {"Unload", "[]", ""},
      {"FindContact", R"(["{Tel=0123}"])", "{Tel(S4)=0123}{Speed=*}" + no_find},
      {"FindList", R"(["{Number=0123}"])",
       "{HasName(N1)=1}{HasCompany(N1)=1}{Tel(S4)=0123}{Speed=*}" + no_find},
      {"DoAction", R"(["{Action=Show Contact}"])", ""},
      {"CacheStart", "[]", "{Result(S4)=Fail}{Reason(S20)=No recordset: Client}"},
      {"CacheEnd", "[]", ""},
      {"CacheRecord", "[]", ""},
      {"Capabilities", "[]",
       "{Version=2.0}{Name=Maximizer}{Description=Maximizer Contacts}{Comments=}" + caps},
      {"Blocked", "[]", false},
      {"InstallReal", "[]", ""},
      {"UninitializeReal", "[]", ""},
      {"InitializeReal", "[]", nullptr},
      {"LoadReal", R"([""])", no_load},
      {"UnloadReal", "[]", ""},
      {"FindReal", R"(["{Tel=1}"])", "{Tel(S1)=1}{Speed=*}" + no_find},
      {"CheckRunning", "[false]", false},
      {"DoActionReal", R"(["{Action=x}"])", ""},
      {"CacheRecordReal", "[]", ""},
      {"GetContact", "[null]", ""},
      {"CapabilitiesReal", "[]", caps},
      {"SetProperty", R"(["Prop", 12])", ""},
      {"GetProperty", R"(["Prop"])", ""},
  };
  std::vector<std::string> input;
  for (size_t i = 0; i < std::size(calls); ++i) {
    std::string name = calls[i].call;
    if (i % 3 == 0) name = U8(UpperCase(T(name.c_str())));
    if (i % 3 == 1) std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    input.push_back(R"({"session": 3, "call": ")" + name + R"(", "args": )" + calls[i].args + "}");
  }
  Outcome r = Host(input);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(r.lines.size(), std::size(calls)) << r.out;
  for (size_t i = 0; i < std::size(calls); ++i) {
    const json& line = r.lines[i];
    SCOPED_TRACE(line.dump());
    EXPECT_EQ(line["session"], 3);
    EXPECT_EQ(line["call"], calls[i].call);
    json result = line["result"];
    if (result.is_string()) {  // the search time varies
      result = std::regex_replace(result.get<std::string>(),
                                  std::regex(R"(\{Speed\(N\d+\)=[^}]*\})"), "{Speed=*}");
    }
    EXPECT_EQ(result, calls[i].result);
    EXPECT_EQ(line["args"], json::parse(calls[i].args));
  }
}

TEST_F(Cli, HostKeepsGoingAfterBadLines) {
  const std::vector<std::string> bad = {
      "not json",
      "{\"call\": \"Capabilities\"",
      "[1, 2]",
      "42",
      "{}",
      R"({"call": "NoSuchMethod"})",
      R"({"call": 7})",
      R"({"call": "Load"})",
      R"({"call": "Load", "args": ["a", "b"]})",
      R"({"call": "Load", "args": "a"})",
      R"({"call": "Load", "args": [1]})",
      R"({"call": "CheckRunning", "args": ["yes"]})",
      R"({"call": "Initialize", "args": ["", "", 5]})",
      R"({"call": "SetProperty", "args": ["p", [1]]})",
      R"({"call": "Capabilities", "session": "one"})",
      R"({"call": "Capabilities", "session": 1.5})",
      R"({"call": "Capabilities", "session": 18446744073709551615})",
      R"({"release": 99})",
      R"({"create": "x"})",
      "{\"call\": \"Load\", \"args\": [\"\xff\xfe\"]}",
      "\xc3\x28",
      std::string(5000, '[') + std::string(5000, ']'),
      R"({"call": "Initialize", "args": ["", "", )" + std::string(100, '[') +
          std::string(100, ']') + "]}",
      // Numbers out of range, wherever they stand.
      "1e400",
      R"({"call": "SetProperty", "args": ["p", -1e400]})",
      R"({"call": "Capabilities", "session": 1e400})",
      // Texts over 1 MB, and a line too long to be kept at all.
      R"({"call": "FindContact", "args": ["{Tel=)" + std::string(1 << 20, '1') + "}\"]}",
      R"({"call": "Capabilities", ")" + std::string((1 << 20) + 1, 'k') + "\": 1}",
      R"({"call": "FindContact", "args": [")" + std::string(17 << 20, ' ') + "\"]}",
  };
  std::vector<std::string> input = bad;
  input.push_back(R"({"call": "Capabilities"})");
  Outcome r = Host(input);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(r.lines.size(), bad.size() + 1) << r.out;
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_TRUE(r.lines[i].is_object() && r.lines[i].contains("error"))
        << i << ": " << r.lines[i].dump();
  }
  EXPECT_EQ(r.lines.back()["call"], "Capabilities");
  // A text of just under 1 MB is answered.
  r = Host(
      {R"({"call": "FindContact", "args": ["{Tel=)" + std::string((1 << 20) - 6, '1') + "}\"]}"});
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0]["call"], "FindContact");
}

// Output that cannot be written is a failure of whichever command wrote it.
TEST_F(Cli, LostOutputExitsWithTwoAndSaysWhy) {
  const std::vector<std::string> commands[] = {
      {"--help"},
      {"host"},
      {"record", "get", "{A=1}", "A"},
      {"record", "add", "", "A", "1"},
      {"find", "--tel", "+44 (0)1234 567890"},
      {"export"},
      {"action", "Show Contact", "--id", "ID6"},
  };
  for (const auto& args : commands) {
    Outcome r = Pellory(args,
                        R"({"call": "Blocked"})"
                        "\n",
                        "/dev/full");
    EXPECT_EQ(r.exit_code, 2) << args[0] << ": " << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << args[0] << ": " << r.err;
  }
}

TEST_F(Cli, HostSessionsAreCreatedReleasedAndCounted) {
  Outcome r = Host({
      R"({"call": "Blocked"})",
      R"({"create": 2})",
      R"({"create": 2})",
      R"({"release": 1})",
      R"({"create": 5})",
      R"({"session": 5, "call": "Configure", "args": ["{Page=x}{B=2}", ""]})",
      R"({"session": 7, "call": "Blocked"})",
      R"({"release": 2})",
      R"({"session": 2, "call": "Blocked"})",
  });
  ASSERT_EQ(r.lines.size(), 9u) << r.out;
  EXPECT_EQ(r.lines[1], json::parse(R"({"session": 2, "created": true, "instance": 2})"));
  EXPECT_TRUE(r.lines[2].contains("error"));
  EXPECT_EQ(r.lines[3], json::parse(R"({"session": 1, "released": true})"));
  EXPECT_EQ(r.lines[4]["instance"], 1);  // the number session 1 gave back; 2 is held
  EXPECT_EQ(r.lines[5]["result"], "{B=2}");
  EXPECT_EQ(r.lines[6]["session"], 7);
  EXPECT_EQ(r.lines[8]["session"], 2);
}

TEST_F(Cli, RecordGetAndAdd) {
  Outcome r =
      Pellory({"record", "get", "{Result=Fail}{Reason=Could not load Workspace}", "reason"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "Could not load Workspace\n");
  r = Pellory({"record", "get", "{Tel2=1}", "Tel"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  r = Pellory({"record", "get", "{Tel2=1}", "Tel", "--default", "none"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "none\n");
  r = Pellory({"record", "get", "{Tel=}", "Tel"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "\n");
  r = Pellory({"record", "add", "{A(S1)=x}{B(S1)=y}", "A", "z"});
  EXPECT_EQ(r.out, "{B(S1)=y}{A(S1)=z}\n");
  r = Pellory({"record", "add", "", "Records", "120", "--number"});
  EXPECT_EQ(r.out, "{Records(N3)=120}\n");
  r = Pellory({"record", "add", "", "F", "\xf0\x9f\x98\x80"});
  EXPECT_EQ(r.out, "{F(S2)=\xf0\x9f\x98\x80}\n");
  r = Pellory({"record", "add", "{N=1}", "N", ""});
  EXPECT_EQ(r.out, "\n");
  r = Pellory({"record", "add", "", "N", "", "--keep-empty"});
  EXPECT_EQ(r.out, "{N(S0)=}\n");
  r = Pellory({"record", "add", "", "B", "-1", "--bool"});
  EXPECT_EQ(r.out, "{B(S4)=True}\n");
  r = Pellory({"record", "add", "", "N", "abc", "--number"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("not a number"), std::string::npos);
  r = Pellory({"record", "add", "", "N", "1", "--number", "--date"});
  EXPECT_NE(r.exit_code, 0);
}

// Every command and subcommand of `pellory` explains itself on standard
// output: its purpose and each of its options.
TEST_F(Cli, EveryCommandHasHelp) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> shows;
  } cases[] = {
      {{"--help"},
       {"Usage: pellory", "Pellory: the Maximizer contact-lookup plug-in", "action", "configure",
        "export", "find", "host", "record"}},
      {{"action", "--help"},
       {"Usage: pellory action", "Carry out an action in the stand-in CRM application", "ACTION",
        "--id", "--item", "--window", "--macro", "--new-window", "--tel", "--nice-tel", "--no-crm",
        "--crm-busy", "--crm-modal-view", "--crm-database"}},
      {{"configure", "--help"},
       {"Usage: pellory configure", "Set Pellory up in its configuration dialogs", "--page",
        "user (database user and password)"}},
      {{"export", "--help"},
       {"Usage: pellory export", "Stream every contact through the cache export", "--format",
        "--output", "--timeout", "Exit status: 0 when every contact was written"}},
      {{"find", "--help"},
       {"Usage: pellory find", "Look a contact up by number", "--tel", "--text", "--begin", "--id",
        "--list", "--max", "--raw", "--format", "--timeout",
        "Exit status: 0 when a contact was found, 1 when none was"}},
      {{"host", "--help"},
       {"Usage: pellory host", "Host simulator", "the 28 Session methods",
        "Blank lines are skipped."}},
      {{"record", "--help"},
       {"Usage: pellory record", "Read or write a variable record", "get", "add"}},
      {{"record", "get", "--help"},
       {"Usage: pellory record get", "Print the value of the entry NAME", "RECORD", "NAME",
        "--default"}},
      {{"record", "add", "--help"},
       {"Usage: pellory record add", "Set the entry NAME of RECORD to VALUE", "VALUE", "--number",
        "--date", "--bool", "--keep-empty"}},
  };
  for (const auto& c : cases) {
    std::string command;
    for (const auto& a : c.args) command += " " + a;
    SCOPED_TRACE(command);
    Outcome r = Pellory(c.args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    for (const std::string& text : c.shows) {
      EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
  }
  EXPECT_NE(Pellory({}).exit_code, 0);
  EXPECT_NE(Pellory({"record", "get", "only-one"}).exit_code, 0);
  EXPECT_NE(Pellory({"nonsense"}).exit_code, 0);
}

TEST_F(Cli, HostSettingsRoundTripAndDefaults) {
  FakeEnv env;
  const std::string path = (dir / "conf" / "pellory" / "host.rec").string();
  cli::HostSettings s;
  std::string error;
  ASSERT_TRUE(cli::LoadHostSettings(env, path, &s, &error));
  EXPECT_EQ(GetText(env, s.data_rd, u"DBFile"), FromUtf8(PELLORY_SAMPLE_DIR));
  EXPECT_EQ(s.user_rd, u"");
  s.user_rd = u"{DBUser(S6)=MASTER}{Start=1}";
  s.action_rd = u"{Action(S12)=Show Contact}{Window=}}";
  ASSERT_TRUE(cli::SaveHostSettings(env, path, s, &error)) << error;
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  cli::HostSettings back;
  ASSERT_TRUE(cli::LoadHostSettings(env, path, &back, &error));
  EXPECT_EQ(back.data_rd, s.data_rd);
  EXPECT_EQ(back.user_rd, s.user_rd);
  EXPECT_EQ(back.action_rd, s.action_rd);
  EXPECT_FALSE(cli::LoadHostSettings(env, dir.string(), &back, &error));  // a folder
  EXPECT_FALSE(error.empty());
}

// `pellory action` without an ACTION runs the action stored by the action
// dialog; with none stored it says so instead of running nothing.
TEST_F(Cli, ActionRunsTheStoredActionRecord) {
  Outcome none = Pellory({"action"});
  EXPECT_EQ(none.exit_code, 2);
  EXPECT_NE(none.err.find("no action stored"), std::string::npos) << none.err;

  FakeEnv env;
  cli::HostSettings s;
  AddVar(env, s.data_rd, u"DBFile", Variant(FromUtf8(PELLORY_SAMPLE_DIR)));
  AddVar(env, s.action_rd, u"Action", Variant(u"Show contact item"));
  AddVar(env, s.action_rd, u"Item", Variant(u"View phone log"));
  AddVar(env, s.action_rd, u"NewWindow", Variant(int32_t{1}));
  std::string error;
  ASSERT_TRUE(cli::SaveHostSettings(env, (dir / "host.rec").string(), s, &error)) << error;

  Outcome r = Pellory({"action", "--id", "42"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("SearchByClientID(\"42\", <omitted>, 2)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sent WM_COMMAND 10211"), std::string::npos) << r.out;

  // The stored password is sent to the application, never printed.
  AddVar(env, s.user_rd, u"DBUser", Variant(u"X"));
  AddVar(env, s.user_rd, u"DBPwd", Variant(u"S3cr3tPw"));
  ASSERT_TRUE(cli::SaveHostSettings(env, (dir / "host.rec").string(), s, &error)) << error;
  r = Pellory({"action", "Show Contact", "--id", "ID6", "--crm-database", "/x"});
  EXPECT_NE(r.out.find("\"X\", \"****\")"), std::string::npos) << r.out;
  EXPECT_EQ((r.out + r.err).find("S3cr3tPw"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace pellory::testing
