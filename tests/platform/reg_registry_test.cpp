#include "platform/posix/reg_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/odbc/odbc_engines.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"
#include "support/shell.h"

namespace pellory::testing {
namespace {

using Root = RegistryRoot;
constexpr Root kUser = RegistryRoot::kCurrentUser;
constexpr Root kMachine = RegistryRoot::kLocalMachine;

// What a registry editor export looks like, including the parts the
// adapter must skip or undo.
const char kExport[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; exported for the telephony desk\r\n"
    "[HKEY_CURRENT_USER\\Software\\Maximizer Technologies\\Maximizer\\StartUp]\r\n"
    "\"DefDirPath\"=\"D:\\\\Max\\\\Data\"\r\n"
    "\"Last User\"=\"Sam \\\"the\\\" Manager\"\r\n"
    "\"Count\"=dword:0000000a\r\n"
    "\"Negative\"=dword:ffffffff\r\n"
    "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    "\"Blob\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\"Gone\"=\"soon\"\r\n"
    "\"Gone\"=-\r\n"
    "@=\"default\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Ignored]\r\n"
    "\"X\"=\"1\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellory\\Removed]\r\n"
    "\"Y\"=\"2\"\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellory\\Removed]\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pellory\\Kept]\r\n"
    "\"Tab\"=\"a\tb\"\r\n";

class RegFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pellory-reg-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    path_ = dir_ + "/sub/registry.reg";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Write(const std::string& bytes) {
    std::filesystem::create_directories(dir_ + "/sub");
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  std::string Read() const { return ReadAll(path_); }
  std::string dir_, path_;
};

constexpr char16_t kStartup[] = u"Software\\Maximizer Technologies\\Maximizer\\StartUp";

void ExpectExportRead(Registry& reg) {
  EXPECT_EQ(reg.OpenKey(kUser, kStartup), Registry::OpenResult::kOk);
  EXPECT_EQ(reg.OpenKey(kUser, u"SOFTWARE\\maximizer technologies"), Registry::OpenResult::kOk);
  EXPECT_EQ(reg.OpenKey(kUser, u"Software\\Nothing"), Registry::OpenResult::kNotFound);
  EXPECT_EQ(reg.OpenKey(kMachine, kStartup), Registry::OpenResult::kNotFound);
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"defdirpath", 2000), Text(u"D:\\Max\\Data"));
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"Last User", 2000), Text(u"Sam \"the\" Manager"));
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"", 2000), Text(u"default"));
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"Expand", 2000), Text(u"%A%"));
  EXPECT_EQ(reg.QueryDword(kUser, kStartup, u"Count"), 10);
  EXPECT_EQ(reg.QueryDword(kUser, kStartup, u"Negative"), -1);
  // Values of another kind, removed values and too-long texts are absent.
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"Count", 2000), std::nullopt);
  EXPECT_EQ(reg.QueryDword(kUser, kStartup, u"DefDirPath"), std::nullopt);
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"Blob", 2000), std::nullopt);
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"Gone", 2000), std::nullopt);
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"DefDirPath", 11), std::nullopt);
  EXPECT_EQ(reg.QueryString(kUser, kStartup, u"DefDirPath", 12), Text(u"D:\\Max\\Data"));
  EXPECT_EQ(reg.OpenKey(kMachine, u"SOFTWARE\\Pellory\\Removed"), Registry::OpenResult::kNotFound);
  EXPECT_EQ(reg.QueryString(kMachine, u"SOFTWARE\\Pellory\\Kept", u"Tab", 2000), Text(u"a\tb"));
}

TEST_F(RegFileTest, ReadsRegistryEditorExportsInUtf8AndUtf16) {
  Write(kExport);
  RegFileRegistry utf8(path_, nullptr);
  ExpectExportRead(utf8);

  // The editor itself writes UTF-16 with a byte-order mark.
  std::string wide = "\xFF\xFE";
  for (char16_t c : T(kExport)) {
    wide += static_cast<char>(c & 0xFF);
    wide += static_cast<char>(c >> 8);
  }
  Write(wide);
  RegFileRegistry utf16(path_, nullptr);
  ExpectExportRead(utf16);
  // Written back in the form it was read.
  utf16.SetString(kUser, kStartup, u"Note", u"é");
  EXPECT_EQ(Read().substr(0, 2), "\xFF\xFE");
  RegFileRegistry again(path_, nullptr);
  ExpectExportRead(again);
  EXPECT_EQ(again.QueryString(kUser, kStartup, u"Note", 2000), Text(u"é"));
}

TEST_F(RegFileTest, WritesSurviveARereadAndDeleteOnlyLeafKeys) {
  RegFileRegistry reg(path_, nullptr);  // no file yet: an empty registry
  EXPECT_EQ(reg.OpenKey(kUser, kStartup), Registry::OpenResult::kNotFound);
  reg.SetString(kUser, kStartup, u"Last User", u"C:\\odd \"quoted\" name");
  reg.SetDword(kUser, kStartup, u"Count", -2);
  reg.SetString(kUser, u"Software\\A\\B", u"V", u"1");
  EXPECT_EQ(std::filesystem::status(path_).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);

  RegFileRegistry reread(path_, nullptr);
  EXPECT_EQ(reread.QueryString(kUser, kStartup, u"LAST USER", 2000),
            Text(u"C:\\odd \"quoted\" name"));
  EXPECT_EQ(reread.QueryDword(kUser, kStartup, u"Count"), -2);
  EXPECT_FALSE(reread.DeleteKey(kUser, u"Software\\A"));  // has a subkey
  EXPECT_TRUE(reread.DeleteKey(kUser, u"Software\\A\\B"));
  EXPECT_FALSE(reread.DeleteKey(kUser, u"Software\\A\\B"));
  // The first object sees the change made through the second.
  EXPECT_EQ(reg.OpenKey(kUser, u"Software\\A\\B"), Registry::OpenResult::kNotFound);
  EXPECT_EQ(reg.QueryDword(kUser, kStartup, u"Count"), -2);
}

TEST_F(RegFileTest, OdbcSubtreeMapsOntoTheDataSources) {
  Write(kExport);
  // The data sources of unixODBC's user and system files, private to the test.
  OdbcSandbox odbc;
  auto store = MakeOdbcDataSourceStore();
  DataSourceStore& mem = *store;
  mem.SetValue(false, u"Maximizer SP1", u"Driver", u"Maximizer ODBC Driver");
  mem.SetValue(false, u"Maximizer SP1", u"DataDirectory", u"/srv/max");
  mem.SetValue(true, u"Warehouse", u"Driver", u"PostgreSQL Unicode");
  RegFileRegistry reg(path_, std::move(store));
  const Text ini = u"Software\\ODBC\\ODBC.INI\\";

  EXPECT_EQ(reg.OpenKey(kUser, u"Software\\ODBC"), Registry::OpenResult::kOk);
  EXPECT_EQ(reg.OpenKey(kUser, ini + u"ODBC Data Sources"), Registry::OpenResult::kOk);
  EXPECT_EQ(reg.OpenKey(kUser, ini + u"Maximizer SP1"), Registry::OpenResult::kOk);
  EXPECT_EQ(reg.OpenKey(kMachine, ini + u"Maximizer SP1"), Registry::OpenResult::kNotFound);
  EXPECT_EQ(reg.QueryString(kUser, ini + u"Maximizer SP1", u"DataDirectory", 2000),
            Text(u"/srv/max"));
  EXPECT_EQ(reg.QueryString(kUser, ini + u"ODBC Data Sources", u"Maximizer SP1", 2000),
            Text(u"Maximizer ODBC Driver"));
  EXPECT_EQ(reg.QueryString(kMachine, ini + u"ODBC Data Sources", u"Warehouse", 2000),
            Text(u"PostgreSQL Unicode"));
  EXPECT_EQ(reg.QueryString(kUser, ini + u"ODBC Data Sources", u"Warehouse", 2000), std::nullopt);

  EXPECT_TRUE(reg.DeleteKey(kUser, ini + u"Maximizer SP1"));
  EXPECT_FALSE(mem.Exists(false, u"Maximizer SP1"));
  EXPECT_FALSE(reg.DeleteKey(kUser, ini + u"Maximizer SP1"));
  EXPECT_FALSE(reg.DeleteKey(kUser, ini + u"ODBC Data Sources"));
  reg.SetString(kUser, ini + u"ODBC Data Sources", u"New", u"SQLite3");
  EXPECT_EQ(mem.Driver(false, u"New"), Text(u"SQLite3"));
  // None of it reached the file.
  EXPECT_EQ(Read(), kExport);
}

}  // namespace
}  // namespace pellory::testing
