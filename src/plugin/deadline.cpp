#include "plugin/deadline.h"

#include <algorithm>
#include <cmath>

#include "platform/failure.h"

namespace pellory {
namespace {

// What a call gets when the deadline has just passed: enough to start it,
// not to wait on it.
constexpr double kLeastLimit = 0.001;

}  // namespace

int TimeoutSeconds(const Variant& value) {
  const double d = value.ToDouble();
  if (std::isnan(d)) throw Failure(u"Type mismatch", 13);
  if (d <= 0) return 0;
  return static_cast<int>(std::ceil(std::min(d, static_cast<double>(kMaxTimeout))));
}

Text TimeoutText(int seconds) { return u"Timeout after " + IntegerText(seconds) + u" s"; }

Deadline::Deadline(Session& session)
    : session_(session), seconds_(session.timeout()), enclosing_(session.deadline()) {
  if (seconds_ > 0) end_ = session_.env().clock().MonotonicSeconds() + seconds_;
  session_.set_deadline(end_);
}

Deadline::~Deadline() { session_.set_deadline(enclosing_); }

bool Deadline::Passed() const {
  return seconds_ > 0 && session_.env().clock().MonotonicSeconds() >= end_;
}

double Deadline::Left() const {
  if (seconds_ <= 0) return 0;
  return std::max(end_ - session_.env().clock().MonotonicSeconds(), kLeastLimit);
}

double TimeLimit(Session& session) {
  if (session.deadline() <= 0) return session.timeout();
  return std::max(session.deadline() - session.env().clock().MonotonicSeconds(), kLeastLimit);
}

}  // namespace pellory
