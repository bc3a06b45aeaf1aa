#include "crmdb/crmdb.h"
#include "crmdb/session_connection.h"
#include "platform/odbc/connect_string.h"
#include "plugin/deadline.h"
#include "plugin/records.h"
#include "plugin/trace_log.h"
#include "plugin/trap.h"

namespace pellory::crmdb {
namespace {

constexpr char16_t kSuccess[] = u"{Result=Success}";
constexpr char16_t kNoWorkspace[] = u"{Result=Fail}{Reason=Could not load Workspace}";
constexpr char16_t kNoDatabase[] = u"{Result=Fail}{Reason=Could not load Database}";
constexpr char16_t kNoTable[] = u"{Result=Fail}{Reason=Could not load 'Client'}";

// Runs a step whose failure text may carry a connect string or the
// password itself (drivers echo them): both are masked before the trap
// writes the text to the trace log.
template <typename Step>
auto Masked(TextView secret, Step&& step) {
  return [secret, &step] {
    try {
      step();
    } catch (const Failure& f) {
      throw Failure(MaskPasswords(f.description(), secret), f.number());
    }
  };
}

// The password a connect string holds, for masking.
Text PasswordOf(TextView connect) {
  Text secret;
  FindConnectAttribute(connect, u"PWD", &secret) ||
      FindConnectAttribute(connect, u"PASSWORD", &secret);
  return secret;
}

}  // namespace

Text SessionConnection::Load() {
  Text reply;
  Trap(env_, tags::kLoad, [&] { table_name_ = u"Client"; });
  Trap(env_, tags::kLoad, [&] { reply = settings_.use_sql ? LoadSql() : LoadFile(); });
  return reply;
}

Text SessionConnection::LoadFile() {
  const TextView tag = tags::kLoad;
  if (!workspace_) {
    Trap(env_, tag, [&] {
      std::shared_ptr<DaoEngine> engine = ThreadDaoEngine(env_);
      workspace_ = engine->CreateWorkspace(kWorkspaceName, u"admin", u"", kDbUseOdbc);
    });
  }
  if (!workspace_) return kNoWorkspace;

  Text connect;
  const Text password = settings_.db_password;
  Trap(env_, tag,
       [&] { connect = FileConnectString(session_.instance_no(), settings_.db_user, password); });
  Trap(env_, tag, Masked(password, [&] {
         if (!data_source_failure_.empty()) throw Failure(data_source_failure_);
         DatabaseRef db = workspace_->OpenDatabase(u"", true, connect, TimeLimit(session_));
         if (db) database_ = std::move(db);
       }));
  if (!database_) return kNoDatabase;

  Trap(env_, tag, Masked(password, [&] {
         ResultSetRef rs =
             database_->OpenResultSet(u"select * from " + table_name_, false, TimeLimit(session_));
         if (rs) contacts_ = std::move(rs);
       }));
  Trap(env_, tag, [&] {
    bool start = GetVar(env_, session_.user_rd(), u"Start", Variant(int16_t{0})).ToBool();
    session_.CheckRunning(start);
  });
  return contacts_ ? kSuccess : kNoTable;
}

Text SessionConnection::LoadSql() {
  const TextView tag = tags::kLoad;
  // The connection record is held apart from the database path, which
  // CheckRunning turns into a directory.
  const Text& record = connection_rd_;
  const Text connect = GetText(env_, record, u"Connect");
  const Text refused = ConnectSql(connect);
  const bool found = FindContactTable(connect);
  // A connection that never opened: the driver's reason (a refused login,
  // an unknown server) is the one thing that tells the person what to mend.
  if (!refused.empty()) {
    LogError(env_, MaskPasswords(refused, PasswordOf(connect)) + Text(tag));
  }
  Text reply;
  Trap(env_, tag, [&] {
    if (found) {
      reply = kSuccess;
    } else {
      reply = u"{Result=Fail}{Reason=Could not load connection: " +
              GetText(env_, record, u"ConnName", Variant(u"Database")) + u"}";
    }
  });
  return reply;
}

// Connects with the record's connect string. A data source that does not
// exist is registered from the record and tried once more. The first
// attempt's failure is returned when there was no second attempt.
Text SessionConnection::ConnectSql(const Text& connect) {
  const TextView tag = tags::kLoad;
  const Text& record = connection_rd_;
  // First attempt; a missing source is noted.
  bool register_source = false;
  Text first_failure;
  try {
    ConnectionRef conn = ThreadRdoEngine(env_)->OpenConnection(u"ODBC;", PromptMode::kNoPrompt,
                                                               false, connect, TimeLimit(session_));
    if (conn) database_ = std::move(conn);
  } catch (const Failure& f) {
    register_source = f.number() == kRdoDataSourceNotFound;
    first_failure = f.description();
  } catch (...) {
  }

  if (register_source) {
    Text name, driver, attributes;
    Trap(env_, tag, [&] {
      name = GetText(env_, record, u"ConnName", Variant(u"Database"));
      driver = GetText(env_, record, u"Driver");
      attributes = GetText(env_, record, u"Connect");
    });
    const Text secret = PasswordOf(attributes);
    Trap(env_, tag, Masked(secret, [&] {
           // A line break would let the record write other attributes, or a
           // whole other data source, into the data-source file.
           for (const Text* value : {&name, &driver, &attributes}) {
             for (char16_t c : *value) {
               if (c < 32 || c == 127) {
                 throw Failure(
                     u"The setting Connection holds a line break or another control character",
                     kInvalidProcedureCall);
               }
             }
           }
           ThreadDaoEngine(env_)->RegisterDatabase(name, driver, true, attributes);
         }));
    Trap(env_, tag, Masked(secret, [&] {
           ConnectionRef conn = ThreadRdoEngine(env_)->OpenConnection(
               u"ODBC;", PromptMode::kNoPrompt, false, attributes, TimeLimit(session_));
           if (conn) database_ = std::move(conn);
         }));
  }
  return register_source ? Text() : first_failure;
}

// The contact table is the first table whose name holds "Client" and that
// answers a query of its Client_Id column. Failures here are part of the
// search and are not logged, unless no table passes.
bool SessionConnection::FindContactTable(const Text& connect) {
  const TextView tag = tags::kLoad;
  ResultSetRef answer;  // of the table that passed
  Text search_failure;  // the last failure of the table search
  if (auto conn = std::dynamic_pointer_cast<Connection>(database_)) {
    int count = 0;
    try {
      count = conn->TableCount();
    } catch (...) {
      search_failure = DescribeCurrentException();
      count = 0;
    }
    for (int i = 0; i < count; ++i) {
      try {
        Text table = conn->TableName(i);
        if (FindNoCase(table, u"Client") == TextView::npos) continue;
        table_name_ = table;
        answer = conn->OpenResultSet(u"select Client_Id from " + table, false, TimeLimit(session_));
      } catch (...) {
        search_failure = DescribeCurrentException();
      }
      if (answer) break;
      env_.pump().DoEvents();
    }
  }
  // No table passed: a failure on the way (the table list unreadable, the
  // connection lost) is the reason, and the only place it can be read.
  if (!answer && !search_failure.empty()) {
    LogError(env_, MaskPasswords(search_failure, PasswordOf(connect)) + Text(tag));
  }
  return answer != nullptr;
}

void SessionConnection::Release() {
  Trap(env_, tags::kUnload, [&] { contacts_.reset(); });
  Trap(env_, tags::kUnload, [&] { database_.reset(); });
}

void SessionConnection::EnsureOpen() {
  const bool closed = settings_.use_sql ? !database_ : !contacts_;
  if (closed && !load_failed_) {
    Text empty;
    session_.LoadReal(empty);
  }
}

ResultSetRef SessionConnection::OpenContacts(TextView statement, double time_limit) {
  DatabaseRef db = database_;
  if (!db) throw Failure(u"Object variable or With block variable not set", 91);
  ResultSetRef rs;
  try {
    rs = db->OpenResultSet(statement, true, time_limit);
  } catch (const Failure& f) {
    // The connection still waits for an earlier statement that ran out of
    // time: the next search connects anew.
    if (f.number() == kTimeoutExpired && database_ == db) database_.reset();
    throw;
  }
  contacts_ = rs;
  return rs;
}

void SessionConnection::Abandon(const DatabaseRef& db, const ResultSetRef& contacts) {
  if (contacts_ == contacts) contacts_.reset();
  if (database_ == db) database_.reset();
}

}  // namespace pellory::crmdb
