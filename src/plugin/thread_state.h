// What the plug-in keeps for each host thread: the instance numbers of the
// thread's live Sessions, the record the configuration dialogs edit, and
// the thread's database engines. One object per thread holds all of it
// (lookup keeps only two caches of its own per thread: the column map of
// the last result set and the export's record buffer).
#pragma once

#include <memory>
#include <set>

#include "platform/database.h"
#include "platform/text.h"

namespace pellory {

// The thread's DAO and RDO engines, made by the platform object that was in
// use when they were first needed (crmdb creates them on first use).
struct ThreadEngines {
  DatabaseEngines* source = nullptr;
  std::shared_ptr<DaoEngine> dao;
  std::shared_ptr<RdoEngine> rdo;
};

class ThreadState {
 public:
  // The calling thread's state, made on first use.
  static ThreadState& Current();

  // The lowest number, from 1, that no other live Session of the thread
  // holds: two of them never share a number (nor the data source named
  // after it), and the numbers never grow past the count of Sessions alive
  // at once.
  int TakeInstanceNumber();
  void ReturnInstanceNumber(int number) { held_.erase(number); }
  // The number of live Sessions of the thread.
  int session_count() const { return static_cast<int>(held_.size()); }

  // The record Configure hands to the configuration dialogs.
  Text& config_rd() { return config_rd_; }

  ThreadEngines& engines() { return engines_; }

 private:
  std::set<int> held_;
  Text config_rd_;
  ThreadEngines engines_;
};

}  // namespace pellory
