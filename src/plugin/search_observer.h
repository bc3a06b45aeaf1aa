// What a number search does, step by step, for a caller that shows it
// (pellory find --explain). The search reports to it when one is set; the
// reply never depends on it.
#pragma once

#include "platform/text.h"

namespace pellory {

class SearchObserver {
 public:
  virtual ~SearchObserver() = default;
  // The dialled number as the search in any format reads it ("+442079460018"),
  // or why that search takes no second step ("not a telephone number",
  // "fewer than 7 digits").
  virtual void Interpreted(TextView e164) = 0;
  virtual void NotInterpreted(TextView why) = 0;
  // A statement sent to the database.
  virtual void Statement(TextView text) = 0;
  // A row the search weighed: the contact's identifier, the stored number
  // that decided and its tier ("Exact", "Same", "Partial", "None").
  virtual void Candidate(TextView id, TextView number, TextView tier) = 0;
  // A step of the search ended ("exact", "any format") after `seconds`.
  virtual void StepDone(TextView step, double seconds) = 0;
};

}  // namespace pellory
