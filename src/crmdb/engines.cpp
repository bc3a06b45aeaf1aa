#include "crmdb/crmdb.h"

#include "platform/failure.h"

namespace pellory {
namespace {

// The engines exist once per thread, made by the platform object that was
// in use when they were first needed.
struct ThreadEngines {
  DatabaseEngines* source = nullptr;
  std::shared_ptr<DaoEngine> dao;
  std::shared_ptr<RdoEngine> rdo;
};

ThreadEngines& Slot() {
  thread_local ThreadEngines engines;
  return engines;
}

ThreadEngines& Engines(Env& env) {
  ThreadEngines& engines = Slot();
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

void ReleaseThreadEngines() { Slot() = ThreadEngines{}; }

}  // namespace pellory
