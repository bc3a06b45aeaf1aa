// The stand-in Maximizer ODBC driver, used through the unixODBC driver manager and its W API as
// the plug-in uses it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
// odbcinst.h needs the ODBC types above.
#include <odbcinst.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "support/odbc_sandbox.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;
using Row = std::vector<std::optional<std::string>>;

// The test's own texts, in the UTF-16 of the W API.
std::u16string Wide(std::string_view utf8) { return pellory::FromUtf8(utf8); }
std::string Narrow(std::u16string_view wide) { return pellory::ToUtf8(wide); }

SQLWCHAR* W(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

struct Diagnostic {
  std::string state;
  std::string message;
};

std::vector<Diagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<Diagnostic> out;
  for (SQLSMALLINT i = 1;; ++i) {
    char16_t state[6] = {};
    char16_t message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc =
        SQLGetDiagRecW(type, handle, i, reinterpret_cast<SQLWCHAR*>(state), &native,
                       reinterpret_cast<SQLWCHAR*>(message), 1024, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    out.push_back({Narrow(state), Narrow(message)});
  }
  return out;
}

std::string FirstState(SQLSMALLINT type, SQLHANDLE handle) {
  const auto diags = Diagnostics(type, handle);
  return diags.empty() ? "" : diags.front().state;
}

std::string AllMessages(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  for (const auto& d : Diagnostics(type, handle)) out += d.state + " " + d.message + "\n";
  return out;
}

constexpr const char* kDriver = "Maximizer ODBC Driver";

// A long address whose UTF-16 form has a surrogate pair right at the first chunk boundary of a
// 3-character buffer.
const std::string kLongAddress = [] {
  std::string text = "ab\xF0\x9F\x98\x80";  // "ab😀"
  for (int i = 0; i < 30; ++i) text += "Straße-";
  return text;
}();

const std::string kContacts =
    "Client_Id,Name_Type,First_Name,Name,Firm,PHONE_1,PHONE_1_Extension,PHONE_3,ADDRESS_Line_1\n"
    "C1,I,John,Smith,Acme Ltd,+44 (0)1234 567890,MAIN,,\n"
    "C2,I,Jane,Smithson,Acme Ltd,01234 567891,WORK,+44 (0)1234 567890,\n"
    "C3,C,,Müller GmbH,Müller GmbH,0049 30 1234567,MAIN,,\n"
    "C4,I,Zoë,Brontë,,(555) 123-4567,,,\"" +
    kLongAddress +
    "\"\n"
    "C5,,Pierre,Lefèvre,Lumière SA,+33 1 23 45 67 89,,,\n"
    "C6,C,,Johnsmith Partners,Johnsmith Partners,,,,\n";

class MaxOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    book_ = sandbox_.MakeAddressBook("book", kContacts, {{"Anna", "se;cr}et"}});
    // The data source as the plug-in registers it for its first session.
    sandbox_.AddDataSource("Maximizer SP1", kDriver,
                           {{"Autolock", "True"},
                            {"DataDirectory", book_.string()},
                            {"mr_mr", "false"},
                            {"seperator", ","},
                            {"TrueDate", "True"},
                            {"Visible", "True"}});
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_));
    ASSERT_EQ(SQL_SUCCESS, SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                                         reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0));
  }

  void TearDown() override {
    Disconnect();
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  void Disconnect() {
    if (dbc_ == SQL_NULL_HDBC) return;
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
  }

  SQLHDBC NewConnectionHandle() {
    Disconnect();
    EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_));
    return dbc_;
  }

  SQLRETURN DriverConnect(const std::string& connect, std::string* completed = nullptr) {
    NewConnectionHandle();
    std::u16string in = Wide(connect);
    std::u16string out(1024, u'\0');
    SQLSMALLINT length = 0;
    const SQLRETURN rc =
        SQLDriverConnectW(dbc_, nullptr, W(in), static_cast<SQLSMALLINT>(in.size()), W(out),
                          static_cast<SQLSMALLINT>(out.size()), &length, SQL_DRIVER_NOPROMPT);
    if (completed != nullptr && SQL_SUCCEEDED(rc)) {
      *completed = Narrow(std::u16string_view(out.data(), static_cast<std::size_t>(length)));
    }
    return rc;
  }

  void ConnectOrFail(const std::string& connect = "DSN=Maximizer SP1;uid=MASTER;pwd=KESTREL") {
    const SQLRETURN rc = DriverConnect(connect);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << AllMessages(SQL_HANDLE_DBC, dbc_);
  }

  SQLHSTMT NewStatement() {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt));
    return stmt;
  }

  static SQLRETURN Exec(SQLHSTMT stmt, const std::string& sql) {
    std::u16string text = Wide(sql);
    return SQLExecDirectW(stmt, W(text), SQL_NTS);
  }

  // Reads every remaining row with SQLGetData as SQL_C_WCHAR, NULL as nullopt.
  static std::vector<Row> ReadRows(SQLHSTMT stmt) {
    SQLSMALLINT columns = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &columns));
    std::vector<Row> rows;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
      Row row;
      for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        char16_t buffer[512];
        SQLLEN indicator = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, c, SQL_C_WCHAR, buffer, sizeof buffer, &indicator))
            << AllMessages(SQL_HANDLE_STMT, stmt);
        if (indicator == SQL_NULL_DATA) {
          row.push_back(std::nullopt);
        } else {
          row.push_back(
              Narrow(std::u16string_view(buffer, static_cast<std::size_t>(indicator) / 2)));
        }
      }
      rows.push_back(std::move(row));
    }
    EXPECT_EQ(SQL_NO_DATA, rc) << AllMessages(SQL_HANDLE_STMT, stmt);
    return rows;
  }

  std::vector<Row> Query(const std::string& sql) {
    SQLHSTMT stmt = NewStatement();
    const SQLRETURN rc = Exec(stmt, sql);
    EXPECT_EQ(SQL_SUCCESS, rc) << sql << "\n" << AllMessages(SQL_HANDLE_STMT, stmt);
    // The row count is known before the first fetch and stays after the last.
    SQLLEN before = -1, after = -1;
    EXPECT_EQ(SQL_SUCCESS, SQLRowCount(stmt, &before));
    auto rows = ReadRows(stmt);
    EXPECT_EQ(SQL_SUCCESS, SQLRowCount(stmt, &after));
    EXPECT_EQ(static_cast<SQLLEN>(rows.size()), before) << sql;
    EXPECT_EQ(before, after) << sql;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return rows;
  }

  // The first column of each row.
  std::vector<std::string> Ids(const std::string& sql) {
    std::vector<std::string> ids;
    for (const auto& row : Query(sql)) ids.push_back(row.at(0).value_or("<null>"));
    return ids;
  }

  pellory::testing::OdbcSandbox sandbox_;
  std::filesystem::path book_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

// ---- connecting ----

// Keys and user names compare without regard to case; a braced password may hold ";" and "}";
// a refused login never shows the password it was given.
TEST_F(MaxOdbcTest, ConnectStringsLoginsAndMissingAddressBooks) {
  const auto empty = sandbox_.Dir() / "no-book-here";
  std::filesystem::create_directories(empty);
  sandbox_.AddDataSource("Maximizer SP2", kDriver, {{"DataDirectory", empty.string()}});
  sandbox_.AddDataSource("Maximizer SP3", kDriver, {{"Autolock", "True"}});
  const std::string bad_login =
      "[Pellory][Maximizer ODBC Driver]Invalid authorization: wrong user or password";
  struct Case {
    std::string connect;
    std::string state;      // "": connects
    std::string completed;  // success: the completed connect string, when checked
    std::string message;    // failure: part of the first diagnostic
  } cases[] = {
      {"DSN=Maximizer SP1;uid=MASTER;pwd=KESTREL", "", "DSN=Maximizer SP1;UID=MASTER;PWD=KESTREL",
       ""},
      {"dsn=Maximizer SP1;UID=master;PWD=KESTREL", "", "", ""},
      {"DRIVER={Maximizer ODBC Driver};DataDirectory=" + book_.string() + ";UID=MASTER;PWD=KESTREL",
       "", "", ""},
      {"DSN=Maximizer SP1;UID=anna;PWD={se;cr}}et}", "",
       "DSN=Maximizer SP1;UID=anna;PWD={se;cr}}et}", ""},
      {"DSN=Maximizer SP1;UID=anna;PWD=se;cr}et", "28000", "", ""},  // unbraced: ends at the ";"
      {"DSN=Maximizer SP1;UID=MASTER;PWD=Kestrel-wrong", "28000", "", bad_login},
      {"DSN=Maximizer SP1;UID=NOBODY;PWD=KESTREL", "28000", "", bad_login},
      {"DSN=Maximizer SP1;UID=MASTER", "28000", "", bad_login},
      {"DSN=Maximizer SP2;UID=MASTER;PWD=KESTREL", "08001", "", empty.string()},
      {"DSN=Maximizer SP3;UID=MASTER;PWD=KESTREL", "08001", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.connect);
    std::string completed;
    const SQLRETURN rc = DriverConnect(c.connect, &completed);
    if (c.state.empty()) {
      EXPECT_EQ(SQL_SUCCESS, rc) << AllMessages(SQL_HANDLE_DBC, dbc_);
      if (!c.completed.empty()) {
        EXPECT_EQ(c.completed, completed);
      }
      continue;
    }
    EXPECT_EQ(SQL_ERROR, rc);
    const auto diags = Diagnostics(SQL_HANDLE_DBC, dbc_);
    ASSERT_FALSE(diags.empty());
    EXPECT_EQ(c.state, diags[0].state);
    EXPECT_THAT(diags[0].message, HasSubstr(c.message));
    EXPECT_THAT(diags[0].message, Not(HasSubstr("Kestrel-wrong")));
  }
  // SQLConnectW with the data source.
  for (const auto& [user, password] : {std::pair{"Master", "KESTREL"}, {"ANNA", "se;cr}et"}}) {
    NewConnectionHandle();
    std::u16string dsn = Wide("Maximizer SP1"), uid = Wide(user), pwd = Wide(password);
    EXPECT_EQ(SQL_SUCCESS, SQLConnectW(dbc_, W(dsn), SQL_NTS, W(uid), SQL_NTS, W(pwd), SQL_NTS))
        << user << "\n"
        << AllMessages(SQL_HANDLE_DBC, dbc_);
  }
}

TEST_F(MaxOdbcTest, DataSourceRegisteredThroughTheInstallerIsUsableAtOnce) {
  // Attributes as SQLConfigDataSource takes them: "key=value" pairs each ended by a NUL.
  std::string attributes = "DSN=Maximizer SP7";
  attributes += '\0';
  attributes += "DataDirectory=" + book_.string();
  attributes += '\0';
  attributes += "Visible=True";
  attributes += '\0';
  ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriver, attributes.c_str()));
  ConnectOrFail("DSN=Maximizer SP7;UID=MASTER;PWD=KESTREL");
  EXPECT_EQ(6u, Query("select * from Client").size());
  sandbox_.RemoveDataSource("Maximizer SP7");
}

TEST_F(MaxOdbcTest, DisconnectReleasesStatementsLeftOpen) {
  ConnectOrFail();
  SQLHSTMT open_cursor = NewStatement();
  ASSERT_EQ(SQL_SUCCESS, Exec(open_cursor, "select * from Client"));
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(open_cursor));
  SQLHSTMT idle = NewStatement();
  (void)idle;
  EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc_)) << AllMessages(SQL_HANDLE_DBC, dbc_);
  // The connection handle can connect again.
  std::u16string in = Wide("DSN=Maximizer SP1;UID=MASTER;PWD=KESTREL");
  EXPECT_EQ(SQL_SUCCESS, SQLDriverConnectW(dbc_, nullptr, W(in), SQL_NTS, nullptr, 0, nullptr,
                                           SQL_DRIVER_NOPROMPT));
  EXPECT_EQ(6u, Query("select * from Client").size());
}

// ---- the statements the plug-in sends ----

TEST_F(MaxOdbcTest, StatementShapesOfTheContactSearch) {
  ConnectOrFail();
  // Number search over the reversed phone columns.
  EXPECT_THAT(Ids("select * from Client where Reverse_Phone_1 = '0987654321044' or "
                  "Reverse_Phone_3 = '0987654321044'"),
              UnorderedElementsAre("C1", "C2"));
  EXPECT_THAT(Ids("select * from Client where Reverse_Phone_1 = '0987654321044'"),
              ElementsAre("C1"));

  // Text search: "like" is case-sensitive, so only ucase finds the upper-cased words, and ucase
  // upper-cases accented letters too.
  const auto text_search = [](const std::string& words) {
    return "select * from Client where (ucase(Name) like '%" + words +
           "%') or (ucase(Firm) like '%" + words + "%')";
  };
  EXPECT_THAT(Ids(text_search("SMITH")), UnorderedElementsAre("C1", "C2", "C6"));
  EXPECT_THAT(Ids(text_search("JOHN%SMITH")), ElementsAre("C6"));
  EXPECT_THAT(Ids(text_search("MÜLLER")), ElementsAre("C3"));
  EXPECT_THAT(Ids(text_search("LUMIÈRE")), ElementsAre("C5"));
  EXPECT_THAT(Ids("select * from Client where Name like '%SMITH%'"), ElementsAre());

  // First-letter search (two blanks before >=), and identifier search.
  EXPECT_THAT(Ids("select * from Client where Name  >= 'S'"), UnorderedElementsAre("C1", "C2"));
  const auto by_id = Query("select * from Client where Client_Id = 'C3'");
  ASSERT_EQ(1u, by_id.size());
  ASSERT_EQ(25u, by_id[0].size());
  EXPECT_EQ("Müller GmbH", by_id[0][3]);
  EXPECT_EQ("7654321039400", by_id[0][15]);
  EXPECT_THAT(Ids("select * from Client where Client_Id = 'nobody'"), ElementsAre());
}

TEST_F(MaxOdbcTest, ColumnsAreDescribedAndReadAsText) {
  ConnectOrFail();
  SQLHSTMT stmt = NewStatement();
  const std::string columns =
      "Client_ID, Name_Type, First_Name, Firm, Name, DEPARTMENT, TITLE, PHONE_1_Extension, "
      "PHONE_1, PHONE_2_Extension, PHONE_2, PHONE_3, PHONE_3_Extension, PHONE_4, "
      "PHONE_4_Extension, Reverse_Phone_1, Reverse_Phone_2, Reverse_Phone_3, Reverse_Phone_4, "
      "ADDRESS_Line_1, ADDRESS_Line_2, CITY, STATE_PROVINCE, ZIP_CODE, COUNTRY";
  ASSERT_EQ(SQL_SUCCESS, Exec(stmt, "select " + columns + " from Client"));
  SQLSMALLINT count = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &count));
  ASSERT_EQ(25, count);
  char16_t name[64];
  SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLDescribeColW(stmt, 5, reinterpret_cast<SQLWCHAR*>(name), 64,
                                         &name_length, &type, &size, &digits, &nullable));
  EXPECT_EQ("Name", Narrow(std::u16string_view(name, static_cast<std::size_t>(name_length))));
  EXPECT_EQ(SQL_WVARCHAR, type);
  SQLLEN concise = 0;
  EXPECT_EQ(SQL_SUCCESS,
            SQLColAttributeW(stmt, 1, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &concise));
  EXPECT_EQ(SQL_WVARCHAR, concise);
  EXPECT_EQ(6u, ReadRows(stmt).size());
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(MaxOdbcTest, NullsAreNullDataAndBoundColumnsTruncateWithTheFullLength) {
  ConnectOrFail();
  EXPECT_THAT(Query("select Client_Id, NULL as Missing from Client where Client_Id = 'C1'"),
              ElementsAre(ElementsAre("C1", std::nullopt)));

  SQLHSTMT stmt = NewStatement();
  char16_t id[16];
  char nothing[16];
  SQLLEN id_length = 0, nothing_length = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 1, SQL_C_WCHAR, id, sizeof id, &id_length));
  ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 2, SQL_C_CHAR, nothing, sizeof nothing, &nothing_length));
  ASSERT_EQ(SQL_SUCCESS, Exec(stmt, "select Client_Id, NULL from Client where Client_Id = 'C1'"));
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
  EXPECT_EQ(4, id_length);
  EXPECT_EQ(u"C1", std::u16string(id));
  EXPECT_EQ(SQL_NULL_DATA, nothing_length);

  // A NULL read without an indicator is an error, not an empty text.
  ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_CLOSE));
  ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_UNBIND));
  ASSERT_EQ(SQL_SUCCESS, Exec(stmt, "select NULL from Client"));
  ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
  EXPECT_EQ(SQL_ERROR, SQLGetData(stmt, 1, SQL_C_WCHAR, id, sizeof id, nullptr));
  EXPECT_EQ("22002", FirstState(SQL_HANDLE_STMT, stmt));

  // Bound columns too short for their values: truncated, with the full length.
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  stmt = NewStatement();
  char16_t name[4];
  char firm[5];
  SQLLEN name_length = 0, firm_length = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 1, SQL_C_WCHAR, name, sizeof name, &name_length));
  ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 2, SQL_C_CHAR, firm, sizeof firm, &firm_length));
  ASSERT_EQ(SQL_SUCCESS, Exec(stmt, "select Name, Firm from Client where Client_Id = 'C3'"));
  EXPECT_EQ(SQL_SUCCESS_WITH_INFO, SQLFetch(stmt));
  EXPECT_EQ("01004", FirstState(SQL_HANDLE_STMT, stmt));
  EXPECT_EQ(u"Mül", std::u16string(name));
  EXPECT_EQ(static_cast<SQLLEN>(Wide("Müller GmbH").size() * 2), name_length);
  EXPECT_EQ("M\xC3\xBCl", std::string(firm));
  EXPECT_EQ(static_cast<SQLLEN>(std::string("Müller GmbH").size()), firm_length);
  EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(MaxOdbcTest, GetDataReadsLongValuesInChunksWithRemainingLengths) {
  ConnectOrFail();
  SQLHSTMT stmt = NewStatement();
  const std::u16string expected = Wide(kLongAddress);
  for (const SQLSMALLINT type : {SQL_C_WCHAR, SQL_C_CHAR}) {
    SCOPED_TRACE(type == SQL_C_WCHAR ? "SQL_C_WCHAR" : "SQL_C_CHAR");
    ASSERT_EQ(SQL_SUCCESS, Exec(stmt, "select ADDRESS_Line_1 from Client where Client_Id = 'C4'"));
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    const std::size_t unit = type == SQL_C_WCHAR ? 2 : 1;
    const std::size_t total = type == SQL_C_WCHAR ? expected.size() * 2 : kLongAddress.size();
    std::string collected;  // bytes as returned
    std::size_t remaining = total;
    SQLRETURN rc;
    int calls = 0;
    do {
      char buffer[8];  // three UTF-16 units or seven bytes per call, plus the terminator
      SQLLEN indicator = 0;
      rc = SQLGetData(stmt, 1, type, buffer, sizeof buffer, &indicator);
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << AllMessages(SQL_HANDLE_STMT, stmt);
      ASSERT_EQ(static_cast<SQLLEN>(remaining), indicator) << "call " << calls;
      const std::size_t got = rc == SQL_SUCCESS ? remaining : (sizeof buffer / unit - 1) * unit;
      if (rc == SQL_SUCCESS_WITH_INFO) {
        EXPECT_EQ("01004", FirstState(SQL_HANDLE_STMT, stmt));
      }
      collected.append(buffer, got);
      remaining -= got;
      ++calls;
    } while (rc == SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(0u, remaining);
    char buffer[8];
    SQLLEN indicator = 0;
    EXPECT_EQ(SQL_NO_DATA, SQLGetData(stmt, 1, type, buffer, sizeof buffer, &indicator));
    if (type == SQL_C_WCHAR) {
      EXPECT_EQ(expected, std::u16string(reinterpret_cast<const char16_t*>(collected.data()),
                                         collected.size() / 2));
    } else {
      EXPECT_EQ(kLongAddress, collected);
    }
    ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_CLOSE));
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(MaxOdbcTest, OnlyReadOnlySelectsAreRun) {
  ConnectOrFail();
  SQLHSTMT stmt = NewStatement();
  struct Case {
    std::string sql;
    std::string state;
    std::string message;
  };
  const Case cases[] = {
      {"delete from Client", "42000", "Only SELECT statements"},
      {"update Client set Name = 'x'", "42000", "Only SELECT statements"},
      {"select 1; delete from Client", "42000", "Only one statement"},
      {"select Shoe_Size from Client", "42S22", "no such column: Shoe_Size"},
      {"select * from Clients", "42S02", "no such table: Clients"},
      {"select * from Client where", "42000", "incomplete input"},
      {"select * from Client where Name = ", "42000", "incomplete input"},
      {"select * frm Client", "42000", "syntax error"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SQL_ERROR, Exec(stmt, c.sql)) << c.sql;
    const auto diags = Diagnostics(SQL_HANDLE_STMT, stmt);
    ASSERT_FALSE(diags.empty()) << c.sql;
    EXPECT_EQ(c.state, diags[0].state) << c.sql;
    EXPECT_THAT(diags[0].message, HasSubstr("[Pellory][Maximizer ODBC Driver]")) << c.sql;
    EXPECT_THAT(diags[0].message, HasSubstr(c.message)) << c.sql;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  EXPECT_EQ(6u, Query("select * from Client").size());
}

TEST_F(MaxOdbcTest, TablesAreListedInSchemaOrder) {
  ConnectOrFail();
  SQLHSTMT stmt = NewStatement();
  ASSERT_EQ(SQL_SUCCESS, SQLTablesW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))
      << AllMessages(SQL_HANDLE_STMT, stmt);
  const auto rows = ReadRows(stmt);
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("Client", rows[0][2]);
  EXPECT_EQ("TABLE", rows[0][3]);
  EXPECT_EQ("Users", rows[1][2]);

  std::u16string pattern = Wide("cli%");
  ASSERT_EQ(SQL_SUCCESS, SQLTablesW(stmt, nullptr, 0, nullptr, 0, W(pattern), SQL_NTS, nullptr, 0));
  const auto matching = ReadRows(stmt);
  ASSERT_EQ(1u, matching.size());
  EXPECT_EQ("Client", matching[0][2]);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(MaxOdbcTest, StatementLogHoldsEveryStatementTextOnce) {
  pellory::testing::StatementLog log;
  ConnectOrFail();
  const std::string number =
      "select * from Client where Reverse_Phone_1 = '0987654321044' or Reverse_Phone_3 = "
      "'0987654321044'";
  const std::string text =
      "select * from Client where (ucase(Name) like '%MÜLLER%') or "
      "(ucase(Firm) like '%MÜLLER%')";
  EXPECT_EQ(2u, Query(number).size());
  EXPECT_EQ(1u, Query(text).size());
  SQLHSTMT stmt = NewStatement();
  EXPECT_EQ(SQL_ERROR, Exec(stmt, "select nothing from Client"));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  EXPECT_THAT(log.Lines(), ElementsAre(number, text, "select nothing from Client"));
}

// ---- asynchronous execution ----

// A polled execution is logged once, however often it is polled.
TEST_F(MaxOdbcTest, AsynchronousExecutionIsPolledUntilItFinishes) {
  pellory::testing::StatementLog log;
  sandbox_.AddDataSource("Maximizer SP5", kDriver,
                         {{"DataDirectory", book_.string()}, {"ExecDelayMs", "300"}});
  ConnectOrFail("DSN=Maximizer SP5;UID=MASTER;PWD=KESTREL");
  SQLUINTEGER mode = 0;
  ASSERT_EQ(SQL_SUCCESS, SQLGetInfoW(dbc_, SQL_ASYNC_MODE, &mode, sizeof mode, nullptr));
  EXPECT_EQ(static_cast<SQLUINTEGER>(SQL_AM_STATEMENT), mode);

  for (const bool connection_level : {false, true}) {
    SCOPED_TRACE(connection_level ? "connection attribute" : "statement attribute");
    const auto on = reinterpret_cast<SQLPOINTER>(SQL_ASYNC_ENABLE_ON);
    if (connection_level) {
      ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttrW(dbc_, SQL_ATTR_ASYNC_ENABLE, on, 0))
          << AllMessages(SQL_HANDLE_DBC, dbc_);
    }
    SQLHSTMT stmt = NewStatement();
    if (!connection_level) {
      ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttrW(stmt, SQL_ATTR_ASYNC_ENABLE, on, 0));
    }
    const std::string sql = "select Client_Id from Client where Name  >= 'S'";
    const auto start = std::chrono::steady_clock::now();
    SQLRETURN rc = Exec(stmt, sql);
    EXPECT_EQ(SQL_STILL_EXECUTING, rc);
    int polls = 0;
    while (rc == SQL_STILL_EXECUTING) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      rc = Exec(stmt, sql);
      ++polls;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(SQL_SUCCESS, rc) << AllMessages(SQL_HANDLE_STMT, stmt);
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_GE(polls, 5);
    std::vector<std::string> ids;
    for (const auto& row : ReadRows(stmt)) ids.push_back(*row[0]);
    EXPECT_THAT(ids, UnorderedElementsAre("C1", "C2"));
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  const std::string sql = "select Client_Id from Client where Name  >= 'S'";
  EXPECT_THAT(log.Lines(), ElementsAre(sql, sql));
}

// SQLCancel ends the delay at once: polled asynchronously, from another thread while the
// execution runs synchronously, and so when the driver offers no asynchronous execution and takes
// the attribute without turning it on.
TEST_F(MaxOdbcTest, CancelledExecutionEndsWithHY008) {
  sandbox_.AddDataSource("Maximizer SP6", kDriver,
                         {{"DataDirectory", book_.string()}, {"ExecDelayMs", "60000"}});
  ConnectOrFail("DSN=Maximizer SP6;UID=MASTER;PWD=KESTREL");
  struct Case {
    const char* name;
    bool ask_async;
    bool no_async;  // PELLORY_MAXODBC_NO_ASYNC
  };
  for (const Case& c : {Case{"asynchronous", true, false}, Case{"synchronous", false, false},
                        Case{"asynchronous refused", true, true}}) {
    SCOPED_TRACE(c.name);
    if (c.no_async) setenv("PELLORY_MAXODBC_NO_ASYNC", "1", 1);
    SQLUINTEGER mode = 0;
    SQLGetInfoW(dbc_, SQL_ASYNC_MODE, &mode, sizeof mode, nullptr);
    EXPECT_EQ(mode, c.no_async ? SQLUINTEGER{SQL_AM_NONE} : SQLUINTEGER{SQL_AM_STATEMENT});
    SQLHSTMT stmt = NewStatement();
    if (c.ask_async) {
      ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttrW(stmt, SQL_ATTR_ASYNC_ENABLE,
                                             reinterpret_cast<SQLPOINTER>(SQL_ASYNC_ENABLE_ON), 0));
    }
    SQLULEN async = 99;
    SQLGetStmtAttrW(stmt, SQL_ATTR_ASYNC_ENABLE, &async, 0, nullptr);
    const bool polled = c.ask_async && !c.no_async;
    EXPECT_EQ(async, polled ? SQLULEN{SQL_ASYNC_ENABLE_ON} : SQLULEN{SQL_ASYNC_ENABLE_OFF});
    const std::string sql = "select * from Client";
    const auto start = std::chrono::steady_clock::now();
    SQLRETURN rc;
    if (polled) {
      ASSERT_EQ(SQL_STILL_EXECUTING, Exec(stmt, sql));
      EXPECT_EQ(SQL_SUCCESS, SQLCancel(stmt)) << AllMessages(SQL_HANDLE_STMT, stmt);
      while ((rc = Exec(stmt, sql)) == SQL_STILL_EXECUTING) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    } else {
      // Cancelled again until the execution has ended: a cancel that comes before the driver has
      // started is lost.
      std::atomic<bool> ended{false};
      std::thread canceller([&] {
        while (!ended) {
          SQLCancel(stmt);
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      });
      rc = Exec(stmt, sql);
      ended = true;
      canceller.join();
    }
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ("HY008", FirstState(SQL_HANDLE_STMT, stmt));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    unsetenv("PELLORY_MAXODBC_NO_ASYNC");
  }
}

std::size_t ThreadsOfThisProcess() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ++n;
  }
  return n;
}

// Polls an asynchronous execution to its end.
SQLRETURN ExecPolled(SQLHSTMT stmt, const std::string& sql) {
  std::u16string text = Wide(sql);
  SQLRETURN rc;
  while ((rc = SQLExecDirectW(stmt, W(text), SQL_NTS)) == SQL_STILL_EXECUTING) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return rc;
}

// The asynchronous executions of a connection run on one worker thread that lives as long as the
// connection handle: many executions, on one statement or several, start no thread of their own,
// each still gets its own rows, and freeing the connection ends the worker.
TEST_F(MaxOdbcTest, AsynchronousExecutionsOfAConnectionShareOneWorker) {
  ConnectOrFail();
  const auto on = reinterpret_cast<SQLPOINTER>(SQL_ASYNC_ENABLE_ON);
  ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttrW(dbc_, SQL_ATTR_ASYNC_ENABLE, on, 0));
  SQLHSTMT kept = NewStatement();
  // Counted once the worker runs: a sanitizer's runtime may start a thread of its own with the
  // process's first new thread.
  std::size_t with_worker = 0;
  for (int i = 0; i < 20; ++i) {
    const char* id = i % 2 == 0 ? "C1" : "C2";
    SCOPED_TRACE(i);
    SQLHSTMT stmt = i % 4 < 2 ? kept : NewStatement();
    ASSERT_EQ(SQL_SUCCESS, ExecPolled(stmt, std::string("select Client_Id from Client where "
                                                        "Client_Id = '") +
                                                id + "'"))
        << AllMessages(SQL_HANDLE_STMT, stmt);
    EXPECT_THAT(ReadRows(stmt), ElementsAre(ElementsAre(id)));
    SQLFreeStmt(stmt, SQL_CLOSE);
    if (stmt != kept) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (i == 0) with_worker = ThreadsOfThisProcess();
  }
  EXPECT_EQ(with_worker, ThreadsOfThisProcess());
  SQLFreeHandle(SQL_HANDLE_STMT, kept);
  Disconnect();
  EXPECT_EQ(with_worker - 1, ThreadsOfThisProcess());
}

// A statement queued behind another one's execution on the connection's worker is cancelled without
// waiting for the one ahead of it, which goes on until it is cancelled too.
TEST_F(MaxOdbcTest, QueuedExecutionIsCancelledWithoutWaitingForTheOneAhead) {
  sandbox_.AddDataSource("Maximizer SP7", kDriver,
                         {{"DataDirectory", book_.string()}, {"ExecDelayMs", "60000"}});
  ConnectOrFail("DSN=Maximizer SP7;UID=MASTER;PWD=KESTREL");
  const auto on = reinterpret_cast<SQLPOINTER>(SQL_ASYNC_ENABLE_ON);
  ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttrW(dbc_, SQL_ATTR_ASYNC_ENABLE, on, 0));
  const auto start = std::chrono::steady_clock::now();
  SQLHSTMT ahead = NewStatement();
  SQLHSTMT queued = NewStatement();
  const std::string sql = "select * from Client";
  ASSERT_EQ(SQL_STILL_EXECUTING, Exec(ahead, sql));
  ASSERT_EQ(SQL_STILL_EXECUTING, Exec(queued, sql));
  EXPECT_EQ(SQL_SUCCESS, SQLCancel(queued));
  EXPECT_EQ(SQL_ERROR, ExecPolled(queued, sql));
  EXPECT_EQ("HY008", FirstState(SQL_HANDLE_STMT, queued));
  EXPECT_EQ(SQL_STILL_EXECUTING, Exec(ahead, sql));
  EXPECT_EQ(SQL_SUCCESS, SQLCancel(ahead));
  EXPECT_EQ(SQL_ERROR, ExecPolled(ahead, sql));
  EXPECT_EQ("HY008", FirstState(SQL_HANDLE_STMT, ahead));
  SQLFreeHandle(SQL_HANDLE_STMT, queued);
  SQLFreeHandle(SQL_HANDLE_STMT, ahead);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(MaxOdbcTest, DelayFromTheEnvironmentAppliesToSynchronousExecution) {
  setenv("PELLORY_MAXODBC_DELAY_MS", "150", 1);
  ConnectOrFail();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1u, Query("select * from Client where Client_Id = 'C2'").size());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));

  // Only statements that hold the text given wait.
  setenv("PELLORY_MAXODBC_DELAY_MS", "60000", 1);
  setenv("PELLORY_MAXODBC_DELAY_MATCH", "Client_Id = 'C9'", 1);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(1u, Query("select * from Client where Client_Id = 'C2'").size());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  unsetenv("PELLORY_MAXODBC_DELAY_MATCH");
  unsetenv("PELLORY_MAXODBC_DELAY_MS");
}

TEST_F(MaxOdbcTest, SampleAddressBookOfTheBuildIsUsable) {
  sandbox_.AddDataSource(
      "Sample", kDriver,
      {{"DataDirectory", pellory::testing::OdbcSandbox::SampleAddressBookDir().string()}});
  ConnectOrFail("DSN=Sample;UID=MASTER;PWD=KESTREL");
  const auto rows = Query(
      "select First_Name, Name from Client where Reverse_Phone_1 = "
      "'0987654321044'");
  EXPECT_THAT(rows, ElementsAre(ElementsAre("John", "Smith")));
  EXPECT_GE(Query("select * from Client").size(), 35u);
}

}  // namespace

namespace {

// Connects once to `dsn` in a fresh environment; returns the SQLSTATE, or "" on success.
std::string TryConnect(const std::string& dsn) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::u16string in = Wide("DSN=" + dsn + ";UID=MASTER;PWD=KESTREL");
  const SQLRETURN rc =
      SQLDriverConnectW(dbc, nullptr, W(in), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  const std::string state = SQL_SUCCEEDED(rc) ? "" : FirstState(SQL_HANDLE_DBC, dbc);
  if (SQL_SUCCEEDED(rc)) SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return state;
}

TEST(OdbcSandboxTest, DataSourcesArePrivateToOneSandboxAndUserOnesComeFirst) {
  setenv("ODBCINI", "/nonexistent/odbc.ini", 1);
  {
    pellory::testing::OdbcSandbox sandbox;
    const auto book = sandbox.MakeAddressBook("book", kContacts);
    sandbox.AddDataSource("Shared", kDriver, {{"DataDirectory", "/nonexistent"}}, false);
    EXPECT_EQ("08001", TryConnect("Shared"));
    // A user data source of the same name is found before the system one.
    sandbox.AddDataSource("Shared", kDriver, {{"DataDirectory", book.string()}}, true);
    EXPECT_EQ("", TryConnect("Shared"));
    EXPECT_THROW(pellory::testing::OdbcSandbox second, std::logic_error);
  }
  EXPECT_STREQ("/nonexistent/odbc.ini", std::getenv("ODBCINI"));
  {
    pellory::testing::OdbcSandbox sandbox;
    EXPECT_THAT(sandbox.DataSources(true), ElementsAre());
    EXPECT_THAT(sandbox.DataSources(false), ElementsAre());
    EXPECT_EQ("IM002", TryConnect("Never defined"));
    sandbox.AddDataSource("Maximizer SP1", kDriver, {{"Autolock", "True"}, {"Visible", "True"}});
    EXPECT_THAT(sandbox.DataSources(true), ElementsAre("Maximizer SP1"));
    EXPECT_EQ("True", sandbox.DataSourceAttribute("Maximizer SP1", "Visible"));
    EXPECT_EQ("", sandbox.DataSourceAttribute("Maximizer SP1", "Visible", false));
  }
  unsetenv("ODBCINI");
}

TEST(OdbcSandboxDeathTest, RefusesWhenUnixOdbcWasUsedWithAnotherConfigurationFirst) {
  // In a child process, so that the configuration unixODBC fixes there stays there.
  EXPECT_EXIT(
      {
        setenv("ODBCSYSINI", "/nonexistent", 1);
        TryConnect("Anything");
        try {
          pellory::testing::OdbcSandbox sandbox;
        } catch (const std::runtime_error& e) {
          std::exit(std::string(e.what()).find("before the first OdbcSandbox") != std::string::npos
                        ? 3
                        : 4);
        }
        std::exit(5);
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
