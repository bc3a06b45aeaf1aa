// Sessions of the whole plug-in over unixODBC with a configuration of the
// test's own (OdbcSandbox): the stand-in driver in file mode, SQLite and
// PostgreSQL in SQL mode.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "assembly.h"
#include "crmdb/crmdb.h"
#include "crmdb/session_connection.h"
#include "platform/odbc/odbc_engines.h"
#include "plugin/records.h"
#include "support/fake_env.h"
#include "support/odbc_sandbox.h"

namespace pellory::testing {

// A record of `entries`, in order (values written as AddVar writes them).
inline Text Record(std::initializer_list<std::pair<const char16_t*, Text>> entries) {
  FakeEnv scratch;
  Text rd;
  for (const auto& [name, value] : entries) AddVar(scratch, rd, name, Variant(value));
  return rd;
}

// The settings of SQL mode over the connection record `connection`.
inline Text SqlSettings(const Text& connection) {
  return Record({{u"UseSQL", u"True"}, {u"Connection", connection}});
}

inline crmdb::SessionConnection& Crm(Session& session) {
  return dynamic_cast<crmdb::SessionConnection&>(*session.crm());
}

class OdbcSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleaseThreadEngines();
    env.database_engines = std::make_unique<OdbcEngines>();
  }
  void TearDown() override {
    session.reset();
    ReleaseThreadEngines();
  }

  // Makes `session` anew, started on the records.
  void Start(Text data_rd, Text user_rd = Text()) {
    session = std::make_unique<Session>(env, WireSubsystems);
    ObjectRef callback;
    session->Initialize(data_rd, user_rd, callback);
  }
  // The same, then loaded: the reply to the Load.
  Text Open(Text data_rd, Text user_rd = Text()) {
    Start(std::move(data_rd), std::move(user_rd));
    Text vars;
    return session->Load(vars);
  }

  // The trace log's lines so far.
  std::string Trace() const {
    std::string all;
    for (const Text& line : env.trace_file.lines) all += U8(line) + "\n";
    return all;
  }

  OdbcSandbox sandbox;
  FakeEnv env;
  std::unique_ptr<Session> session;
};

}  // namespace pellory::testing
