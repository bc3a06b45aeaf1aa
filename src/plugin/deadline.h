// The opt-in time limit of lookups: the "Timeout" setting, whole seconds
// (0: none). A search runs under a deadline on the clock port's monotonic
// reading for its whole length; what it calls on the way, a reconnect say,
// gets only the time that is left of it.
#pragma once

#include "plugin/session.h"

namespace pellory {

// The largest Timeout setting taken; larger values are cut to it.
inline constexpr int kMaxTimeout = 86400;

// The setting's value as whole seconds: fractions rounded up, 0 and below
// meaning none. Throws Failure ("Type mismatch", 13) for a value that is
// not a number.
int TimeoutSeconds(const Variant& value);

// The trace text of a lookup that ran out of its time: "Timeout after N s".
Text TimeoutText(int seconds);

class Deadline {
 public:
  // Starts the deadline of `session`'s Timeout setting, if it has one. The
  // deadline of a search that encloses this one (a call that came in
  // through the message loop) is put back when this one ends.
  explicit Deadline(Session& session);
  ~Deadline();
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  int seconds() const { return seconds_; }
  // False without a deadline; the clock is not read then.
  bool Passed() const;
  // The limit for the next database call: the seconds left, at least a
  // moment; 0 (no limit) without a deadline.
  double Left() const;

 private:
  Session& session_;
  int seconds_;
  double end_ = 0;
  double enclosing_;
};

// The limit for a database call of `session` outside a search: the time
// left of the running search, else the Timeout setting; 0 for no limit.
double TimeLimit(Session& session);

}  // namespace pellory
