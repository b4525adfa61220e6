#include "engine/header/FieldLength.h"

#include <algorithm>

namespace tarnwick {

bool HeaderFieldMeter::feed(std::string_view bytes)
{
    const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
    std::size_t i = 0;
    while (i < bytes.size() && !done_) {
        const char c = bytes[i];
        if (afterCR_) {
            afterCR_ = false;
            if (c == '\n') {
                ++field_;
                ++i;
                continue;
            }
        }
        if (lineStart_) {
            lineStart_ = false;
            if (isBreak(c) && line_ > 0) {
                done_ = true; // the empty line that ends the header
                break;
            }
            if (line_ == 0 || (c != ' ' && c != '\t'))
                field_ = 0;
        }
        if (isBreak(c)) {
            ++field_;
            afterCR_ = c == '\r';
            lineStart_ = true;
            ++line_;
            ++i;
            continue;
        }
        const auto end = std::find_if(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end(), isBreak);
        const auto run = static_cast<std::size_t>(end - bytes.begin()) - i;
        field_ += run;
        i += run;
        if (field_ > limit_)
            tooLong_ = done_ = true;
    }
    return !done_;
}

bool hasOverlongHeaderField(std::string_view message, std::uint64_t limit)
{
    HeaderFieldMeter meter(limit);
    meter.feed(message);
    return meter.tooLong();
}

} // namespace tarnwick
