// Failure numbers the ODBC adapter raises, besides kTimeoutExpired and
// kRdoDataSourceNotFound (platform/database.h). Every file of the adapter
// may include this one; it includes nothing of the adapter itself.
#pragma once

namespace pellory {

constexpr long kOdbcCallFailed = 3146;
constexpr long kInvalidArgument = 3001;
constexpr long kNameInCollection = 3367;
constexpr long kNoCurrentRecord = 3021;
constexpr long kItemNotFound = 3265;
constexpr long kOperationCancelled = 3059;

}  // namespace pellory
