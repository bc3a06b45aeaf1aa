#include "crmdb/crmdb.h"

#include "platform/failure.h"
#include "plugin/thread_state.h"

namespace pellory {
namespace {

// The engines exist once per thread (in the thread's ThreadState), made by
// the platform object that was in use when they were first needed.
ThreadEngines& Engines(Env& env) {
  ThreadEngines& engines = ThreadState::Current().engines();
  DatabaseEngines* source = &env.databases();
  if (engines.source != source) {
    engines = ThreadEngines{};
    engines.source = source;
  }
  return engines;
}

[[noreturn]] void CannotCreate() { throw Failure(u"ActiveX component can't create object", 429); }

}  // namespace

std::shared_ptr<DaoEngine> ThreadDaoEngine(Env& env) {
  ThreadEngines& e = Engines(env);
  if (!e.dao) e.dao = env.databases().CreateDaoEngine();
  if (!e.dao) CannotCreate();
  return e.dao;
}

std::shared_ptr<RdoEngine> ThreadRdoEngine(Env& env) {
  ThreadEngines& e = Engines(env);
  if (!e.rdo) e.rdo = env.databases().CreateRdoEngine();
  if (!e.rdo) CannotCreate();
  return e.rdo;
}

void ReleaseThreadEngines() { ThreadState::Current().engines() = ThreadEngines{}; }

}  // namespace pellory
