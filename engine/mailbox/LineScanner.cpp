#include "engine/mailbox/LineScanner.h"

namespace tarnwick::lineScanner {

void throwRangeError() { throw RangeError("lineAround: range out of bounds"); }

} // namespace tarnwick::lineScanner
