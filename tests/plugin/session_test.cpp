#include "plugin/session.h"

#include <gtest/gtest.h>

#include "support/fake_env.h"

namespace pellory::testing {
namespace {

TEST(Session, CapabilitiesAndConfigureCancel) {
  FakeEnv env;
  SessionLogic logic;
  Session s(env, logic);
  EXPECT_EQ(s.Capabilities(),
            u"{Version=2.0}{Name=Maximizer}{Description=Maximizer Contacts}{Comments=}"
            u"{Client=1}{Server=1}{NeedContact=Show Contact,Show Contact Item}");
  Text rd = u"{A=1}", page = u"user";
  EXPECT_EQ(s.Configure(rd, page), u"{A=1}{Page(S4)=USER}");
}

}  // namespace
}  // namespace pellory::testing
