// A Session over the in-memory contact table, with the lookup's working
// methods and a load that counts its calls.
#pragma once

#include <gtest/gtest.h>

#include "assembly.h"
#include "lookup/lookup.h"
#include "support/fake_db.h"
#include "support/fake_env.h"

namespace pellory::testing {

// "{name(S<length>)=value}", the entry AddVar writes for a text.
inline Text S(TextView name, TextView value) {
  return u"{" + Text(name) + u"(S" + IntegerText(static_cast<int64_t>(value.size())) + u")=" +
         Text(value) + u"}";
}
// The entry of a number.
inline Text N(TextView name, TextView digits) {
  return u"{" + Text(name) + u"(N" + IntegerText(static_cast<int64_t>(digits.size())) + u")=" +
         Text(digits) + u"}";
}

class LookupTest : public ::testing::Test {
 protected:
  LookupTest() {
    logic_ = FullSessionLogic();
    logic_.load_real = [](Session& s, Text&) -> Text {
      ++Loads();
      s.state().database = LoadTarget();
      if (!s.state().database) return u"{Result=Fail}{Reason=Could not load Database}";
      if (!s.state().use_sql) {
        s.state().contact_rs = LoadTarget()->OpenResultSet(u"select * from Client", false, 0);
      }
      return u"{Result=Success}";
    };
    session_ = std::make_unique<Session>(env, logic_);
    Loads() = 0;
    LoadTarget() = db;
  }

  static int& Loads() {
    static int loads = 0;
    return loads;
  }
  static std::shared_ptr<FakeDatabase>& LoadTarget() {
    static std::shared_ptr<FakeDatabase> target;
    return target;
  }

  // A loaded session in file mode with the given search switches.
  void FileMode(bool p1 = true, bool p2 = false, bool p3 = false, bool p4 = false) {
    SessionState& st = session().state();
    st.use_sql = false;
    bool switches[4] = {p1, p2, p3, p4};
    for (int i = 0; i < 4; ++i) st.search_phone[i] = switches[i];
    st.database = db;
    st.table_name = u"Client";
    st.contact_rs = std::make_shared<FakeResultSet>(db->table, std::vector<size_t>{}, 0);
  }

  void SqlMode(bool p1 = true, bool p2 = false, bool p3 = false, bool p4 = false) {
    FileMode(p1, p2, p3, p4);
    SessionState& st = session().state();
    st.use_sql = true;
    st.contact_rs.reset();
    st.table_name = u"dbo.Client";
  }

  Session& session() { return *session_; }
  FakeTable& table() { return *db->table; }

  FakeEnv env;
  std::shared_ptr<FakeDatabase> db = std::make_shared<FakeDatabase>();
  SessionLogic logic_;
  std::unique_ptr<Session> session_;
};

}  // namespace pellory::testing
