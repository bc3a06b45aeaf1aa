#include "plugin/trap.h"

#include <stdexcept>

namespace pellory {

Text DescribeCurrentException() {
  try {
    throw;
  } catch (const Failure& f) {
    return f.description();
  } catch (const std::bad_alloc&) {
    return u"Out of memory";
  } catch (const std::exception& e) {
    return FromUtf8(e.what());
  } catch (...) {
    return u"Unknown error";
  }
}

}  // namespace pellory
