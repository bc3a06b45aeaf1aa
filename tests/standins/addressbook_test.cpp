// The address-book code: CSV import, reversed phone numbers, synthetic books, users, and the
// command-line tool.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "addressbook.h"

namespace {

namespace fs = std::filesystem;
using pellory::standins::ContactRow;
using pellory::standins::CreateOptions;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pellory-ab-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// All rows of a query on DIR/mxza.max, NULL read as "<null>".
std::vector<std::vector<std::string>> Query(const fs::path& dir, const std::string& sql) {
  sqlite3* db = nullptr;
  const auto file = pellory::standins::AddressBookPath(dir);
  EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr)) << sqlite3_errmsg(db);
  std::vector<std::vector<std::string>> rows;
  while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      row.emplace_back(text != nullptr ? text : "<null>");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

TEST(ReversePhoneTest, KeepsDiallableCharactersInReverseOrder) {
  using pellory::standins::ReversePhone;
  EXPECT_EQ("0987654321044", ReversePhone("+44 (0)1234 567890"));
  EXPECT_EQ("7654321555", ReversePhone("(555) 123-4567"));
  EXPECT_EQ("7654321039400", ReversePhone("0049 30 1234567"));
  EXPECT_EQ("#21*", ReversePhone("*12# ext."));
  EXPECT_EQ("", ReversePhone("n/a"));
}

TEST(CsvTest, QuotedFieldsHoldSeparatorsQuotesAndLineBreaks) {
  const auto records = pellory::standins::ParseCsv(
      "\xEF\xBB\xBF"
      "a,b,c\r\n"
      "\"x, y\",\"say \"\"hi\"\"\",\"two\nlines\"\r\n"
      "\r\n"
      ",,\n"
      "last,row,\"\"");
  ASSERT_EQ(4u, records.size());
  EXPECT_THAT(records[0], ElementsAre("a", "b", "c"));
  EXPECT_THAT(records[1], ElementsAre("x, y", "say \"hi\"", "two\nlines"));
  EXPECT_THAT(records[2], ElementsAre("", "", ""));
  EXPECT_THAT(records[3], ElementsAre("last", "row", ""));
}

TEST(CsvTest, MalformedQuotingIsReportedWithItsLine) {
  try {
    pellory::standins::ParseCsv("a,b\n1,\"open\n2,3\n");
    FAIL() << "an unclosed quote was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("line 2"));
  }
  EXPECT_THROW(pellory::standins::ParseCsv("a\n\"x\"y\n"), std::runtime_error);
}

TEST(CreateFromCsvTest, MapsHeaderColumnsAndComputesReversedPhones) {
  TempDir dir;
  // Columns in another order and case; Reverse_Phone_1 in the CSV is ignored and recomputed.
  const std::string csv =
      "phone_1,NAME,client_id,Reverse_Phone_1,PHONE_3,Firm\n"
      "+44 (0)1234 567890,Smith,1,bogus,(555) 123-4567,\"Acme, Ltd\"\n"
      ",Müller,2,,,\n";
  EXPECT_EQ(2u, pellory::standins::CreateFromCsv(dir.path(), csv, {}));
  const auto rows =
      Query(dir.path(),
            "select Client_Id, Name, Firm, PHONE_1, Reverse_Phone_1, Reverse_Phone_2, "
            "Reverse_Phone_3, First_Name, COUNTRY from Client order by rowid");
  ASSERT_EQ(2u, rows.size());
  EXPECT_THAT(rows[0], ElementsAre("1", "Smith", "Acme, Ltd", "+44 (0)1234 567890", "0987654321044",
                                   "", "7654321555", "", ""));
  EXPECT_THAT(rows[1], ElementsAre("2", "Müller", "", "", "", "", "", "", ""));

  // The table has exactly the contact columns, in order.
  const auto columns = Query(dir.path(), "select name from pragma_table_info('Client')");
  ASSERT_EQ(pellory::standins::kClientColumns.size(), columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    EXPECT_EQ(pellory::standins::kClientColumns[i], columns[i][0]);
  }
}

TEST(CreateFromCsvTest, RejectsUnknownColumnsAndOverlongRecords) {
  TempDir dir;
  EXPECT_THROW(pellory::standins::CreateFromCsv(dir.path(), "Name,Shoe_Size\nA,9\n", {}),
               std::runtime_error);
  EXPECT_THROW(pellory::standins::CreateFromCsv(dir.path(), "Name\nA,B\n", {}), std::runtime_error);
  // A failed import leaves no address book behind.
  EXPECT_FALSE(fs::exists(pellory::standins::AddressBookPath(dir.path())));
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(UsersTest, DefaultUserExtraUsersAndPasswordUpdate) {
  TempDir dir;
  CreateOptions options;
  options.users = {{"Anna", "se;cr}et"}};
  pellory::standins::CreateFromCsv(dir.path(), "Name\nA\n", options);
  EXPECT_THAT(pellory::standins::ListUsers(dir.path()), ElementsAre("MASTER", "Anna"));

  // The same user in another case gets a new password, not a second entry.
  pellory::standins::AddUser(dir.path(), {"ANNA", "new"});
  pellory::standins::AddUser(dir.path(), {"Bob", "pw"});
  EXPECT_THAT(Query(dir.path(), "select User, Password from Users order by rowid"),
              ElementsAre(ElementsAre("MASTER", "KESTREL"), ElementsAre("Anna", "new"),
                          ElementsAre("Bob", "pw")));

  TempDir bare;
  options.default_user = false;
  pellory::standins::CreateFromCsv(bare.path(), "Name\nA\n", options);
  EXPECT_THAT(pellory::standins::ListUsers(bare.path()), ElementsAre("Anna"));
  EXPECT_THROW(pellory::standins::ListUsers(bare.path() / "missing"), std::runtime_error);
}

TEST(SyntheticTest, SameSeedSameBookOtherSeedOtherBook) {
  TempDir a, b, c;
  pellory::standins::CreateSynthetic(a.path(), 500, 7, {});
  pellory::standins::CreateSynthetic(b.path(), 500, 7, {});
  pellory::standins::CreateSynthetic(c.path(), 500, 8, {});
  const std::string all = "select * from Client order by rowid";
  const auto rows = Query(a.path(), all);
  ASSERT_EQ(500u, rows.size());
  EXPECT_EQ(rows, Query(b.path(), all));
  EXPECT_NE(rows, Query(c.path(), all));

  // Each contact depends only on its index and the seed.
  const ContactRow row = pellory::standins::SyntheticContact(123, 7);
  EXPECT_EQ(std::vector<std::string>(row.begin(), row.end()), rows[123]);
}

TEST(SyntheticTest, ContactsAreVariedAndConsistent) {
  TempDir dir;
  pellory::standins::CreateSynthetic(dir.path(), 5000, 1, {});
  EXPECT_EQ("5000", Query(dir.path(), "select count(distinct Client_Id) from Client")[0][0]);
  const auto types = Query(dir.path(), "select distinct Name_Type from Client order by 1");
  EXPECT_THAT(types, ElementsAre(ElementsAre(""), ElementsAre("C"), ElementsAre("I")));
  EXPECT_NE("0", Query(dir.path(), "select count(*) from Client where PHONE_1 = ''")[0][0]);
  for (const char* label : {"MAIN", "FAX", "WORK", "Mobile", "Home"}) {
    EXPECT_NE("0", Query(dir.path(), std::string("select count(*) from Client where "
                                                 "PHONE_1_Extension = '") +
                                         label + "'")[0][0])
        << label;
  }
  // Several national and international formats.
  for (const char* pattern : {"+44 (0)%", "0049 %", "(%) %-%", "+1-%", "+33 %", "07%"}) {
    EXPECT_NE("0", Query(dir.path(), std::string("select count(*) from Client where PHONE_1 "
                                                 "like '") +
                                         pattern + "'")[0][0])
        << pattern;
  }
  // Company rows carry the company in Name; reversed columns match their numbers.
  EXPECT_EQ("0",
            Query(dir.path(),
                  "select count(*) from Client where Name_Type = 'C' and First_Name <> ''")[0][0]);
  for (const auto& row :
       Query(dir.path(), "select PHONE_2, Reverse_Phone_2 from Client limit 300")) {
    EXPECT_EQ(pellory::standins::ReversePhone(row[0]), row[1]);
  }
}

TEST(ToolTest, CreatesListsAndRejectsBadArguments) {
  TempDir dir;
  const std::string tool = PELLORY_ADDRESSBOOK_TOOL;
  const std::string book = (dir.path() / "book").string();
  const std::string out = (dir.path() / "out.txt").string();
  ASSERT_EQ(0, std::system((tool + " create '" + book + "' --synthetic 50 --seed 3 --user Anna" +
                            " --password x > /dev/null")
                               .c_str()));
  ASSERT_EQ(0, std::system((tool + " add-user '" + book + "' Bob pw").c_str()));
  ASSERT_EQ(0, std::system((tool + " list-users '" + book + "' > '" + out + "'").c_str()));
  std::ifstream in(out);
  std::vector<std::string> users;
  for (std::string line; std::getline(in, line);) users.push_back(line);
  EXPECT_THAT(users, ElementsAre("MASTER", "Anna", "Bob"));
  EXPECT_EQ("50", Query(book, "select count(*) from Client")[0][0]);

  // Usage errors exit with 2, failures with 1.
  const auto status = [&](const std::string& args) {
    const int rc = std::system((tool + " " + args + " 2> /dev/null").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  EXPECT_EQ(2, status("create '" + book + "'"));
  EXPECT_EQ(2, status("create '" + book + "' --synthetic 5 --user Anna"));
  EXPECT_EQ(2, status("create '" + book + "' --synthetic many"));
  EXPECT_EQ(1, status("create '" + book + "' --csv '" + book + "/none.csv'"));
  EXPECT_EQ(1, status("list-users '" + (dir.path() / "nothing").string() + "'"));
}

}  // namespace
