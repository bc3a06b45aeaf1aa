#include "crmdb/crmdb.h"

#include "platform/odbc/connect_string.h"
#include "plugin/deadline.h"
#include "plugin/records.h"
#include "plugin/trace_log.h"
#include "plugin/trap.h"

namespace pellory {
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

Text LoadFile(Session& session) {
  using namespace crmdb;
  Env& env = session.env();
  SessionState& st = session.state();
  const TextView tag = tags::kLoad;

  if (!st.workspace) {
    Trap(env, tag, [&] {
      std::shared_ptr<DaoEngine> engine = ThreadDaoEngine(env);
      st.workspace = engine->CreateWorkspace(kWorkspaceName, u"admin", u"", kDbUseOdbc);
    });
  }
  if (!st.workspace) return kNoWorkspace;

  Text connect;
  const Text password = st.db_password;
  Trap(env, tag, [&] { connect = FileConnectString(st.instance_no, st.db_user, password); });
  Trap(env, tag, Masked(password, [&] {
         if (!st.data_source_failure.empty()) throw Failure(st.data_source_failure);
         DatabaseRef db = st.workspace->OpenDatabase(u"", true, connect, TimeLimit(session));
         if (db) st.database = std::move(db);
       }));
  if (!st.database) return kNoDatabase;

  Trap(env, tag, Masked(password, [&] {
         ResultSetRef rs = st.database->OpenResultSet(u"select * from " + st.table_name, false,
                                                      TimeLimit(session));
         if (rs) st.contact_rs = std::move(rs);
       }));
  Trap(env, tag, [&] {
    bool start = GetVar(env, st.user_rd, u"Start", Variant(int16_t{0})).ToBool();
    session.CheckRunning(start);
  });
  return st.contact_rs ? kSuccess : kNoTable;
}

Text LoadSql(Session& session) {
  using namespace crmdb;
  Env& env = session.env();
  SessionState& st = session.state();
  const TextView tag = tags::kLoad;
  // The connection record is held apart from the database path, which
  // CheckRunning turns into a directory.
  const Text& record = st.connection_rd;

  // First attempt; its failure is logged only when no connection opens in
  // the end (below), and a missing source is noted.
  bool register_source = false;
  Text connect = GetText(env, record, u"Connect");
  Text first_failure;
  try {
    ConnectionRef conn = ThreadRdoEngine(env)->OpenConnection(u"ODBC;", PromptMode::kNoPrompt,
                                                              false, connect, TimeLimit(session));
    if (conn) st.database = std::move(conn);
  } catch (const Failure& f) {
    register_source = f.number() == kRdoDataSourceNotFound;
    first_failure = f.description();
  } catch (...) {
  }

  if (register_source) {
    Text name, driver, attributes;
    Trap(env, tag, [&] {
      name = GetText(env, record, u"ConnName", Variant(u"Database"));
      driver = GetText(env, record, u"Driver");
      attributes = GetText(env, record, u"Connect");
    });
    Text secret;
    FindConnectAttribute(attributes, u"PWD", &secret) ||
        FindConnectAttribute(attributes, u"PASSWORD", &secret);
    Trap(env, tag, Masked(secret, [&] {
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
           ThreadDaoEngine(env)->RegisterDatabase(name, driver, true, attributes);
         }));
    Trap(env, tag, Masked(secret, [&] {
           ConnectionRef conn = ThreadRdoEngine(env)->OpenConnection(
               u"ODBC;", PromptMode::kNoPrompt, false, attributes, TimeLimit(session));
           if (conn) st.database = std::move(conn);
         }));
  }

  // Find the contact table: the first table whose name holds "Client" and
  // that answers a query of its Client_Id column. Failures here are part
  // of the search and are not logged. The table test starts from an empty
  // cache result set, so that a result set left from an earlier export
  // cannot pass for the test's own.
  st.cache_rs.reset();
  Text search_failure;  // the last failure of the table search
  if (auto conn = std::dynamic_pointer_cast<Connection>(st.database)) {
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
        st.table_name = table;
        ResultSetRef rs =
            conn->OpenResultSet(u"select Client_Id from " + table, false, TimeLimit(session));
        if (rs) st.cache_rs = std::move(rs);
      } catch (...) {
        search_failure = DescribeCurrentException();
      }
      if (st.cache_rs) break;
      env.pump().DoEvents();
    }
  }
  // No table passed: a failure on the way (the table list unreadable, the
  // connection lost) is the reason, and the only place it can be read.
  if (!st.cache_rs && !search_failure.empty()) {
    Text secret;
    FindConnectAttribute(connect, u"PWD", &secret) ||
        FindConnectAttribute(connect, u"PASSWORD", &secret);
    LogError(env, MaskPasswords(search_failure, secret) + Text(tag));
  }

  // A connection that never opened: the driver's reason (a refused login,
  // an unknown server) is the one thing that tells the person what to mend.
  if (!register_source && !first_failure.empty()) {
    Text secret;
    FindConnectAttribute(connect, u"PWD", &secret) ||
        FindConnectAttribute(connect, u"PASSWORD", &secret);
    LogError(env, MaskPasswords(first_failure, secret) + Text(tag));
  }

  Text reply;
  Trap(env, tag, [&] {
    if (st.cache_rs) {
      reply = kSuccess;
    } else {
      reply = u"{Result=Fail}{Reason=Could not load connection: " +
              GetText(env, record, u"ConnName", Variant(u"Database")) + u"}";
    }
  });
  Trap(env, tag, [&] { st.cache_rs.reset(); });
  return reply;
}

}  // namespace

Text LoadReal(Session& session, Text& /*rd*/) {
  SessionState& st = session.state();
  Text reply;
  Trap(session.env(), tags::kLoad, [&] { st.table_name = u"Client"; });
  Trap(session.env(), tags::kLoad,
       [&] { reply = st.use_sql ? LoadSql(session) : LoadFile(session); });
  return reply;
}

Text UnloadReal(Session& session) {
  Env& env = session.env();
  SessionState& st = session.state();
  Trap(env, tags::kUnload, [&] { st.app.reset(); });
  Trap(env, tags::kUnload, [&] { st.contact_rs.reset(); });
  Trap(env, tags::kUnload, [&] { st.database.reset(); });
  return Text();
}

}  // namespace pellory
