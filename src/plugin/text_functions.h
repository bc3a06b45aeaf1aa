// Normalisation of telephone numbers and search words.
#pragma once

#include "platform/text.h"

namespace pellory {

// The characters of "0123456789*#" in their order; everything else dropped.
Text DigitsOnly(TextView text);
// Upper-cased runs of A-Z and 0-9 joined by single commas. A first word that
// follows leading separators gets a comma before it.
Text WordsOnly(TextView text);
Text Reverse(TextView text);
// The same two, appending to `out`: a scan reuses one buffer row after row.
void AppendDigitsOnly(Text& out, TextView text);
void AppendWordsOnly(Text& out, TextView text);
// The reply key of phone `number` (1 to 4) with label `label`.
Text PhoneType(int number, TextView label);
// True when every comma-separated word of `words` begins some word of the
// comma-led `haystack` (exact comparison).
bool WordsMatch(TextView haystack, TextView words);

}  // namespace pellory
