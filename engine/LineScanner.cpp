#include "engine/LineScanner.h"

#include "platform/Localization.h"

namespace tarnwick::lineScanner {

// The receiver's type and the operation, as named in the range error text.
constexpr std::string_view kReceiverName = "std::string_view";
constexpr std::string_view kOperationName = "ZQ_getLineStart:end:contentsEnd:forRange:";

void throwRangeError()
{
    throw RangeError(formatText("*** -[%@ %@]: Range or index out of bounds", {kReceiverName, kOperationName}));
}

} // namespace tarnwick::lineScanner
