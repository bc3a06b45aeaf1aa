// Links the whole core into one program, so that the Windows cross build
// proves every symbol resolves there too. Not run by the test command.
#include "assembly.h"
#include "plugin/records.h"
#include "support/fake_env.h"

int main() {
  pellory::testing::FakeEnv env;
  pellory::Session session(env, pellory::WireSubsystems);
  pellory::Text rd = session.Capabilities();
  pellory::AddVar(env, rd, u"Checked", pellory::Variant(true));
  return pellory::GetText(env, rd, u"Checked") == u"True" ? 0 : 1;
}
