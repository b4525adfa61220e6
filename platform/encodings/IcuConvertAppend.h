#pragma once
// One ICU conversion call appended to the end of a buffer, shared by the whole-text
// codecs and the block streams.

#include <unicode/ucnv.h>

#include <cstddef>

namespace tarnwick::encoding {

/// Runs one ICU call (`ucnv_toUnicode` or `ucnv_fromUnicode`) over `source` into the end
/// of `out`, growing the room until it fits. With `flush` a sequence cut off at the end is
/// an error; without it, it stays in the converter for the next call. On failure `out`
/// is left as it was.
template <typename Out, typename In, typename Convert>
bool convertAppend(UConverter* converter, const In* source, const In* sourceEnd, std::size_t capacity, bool flush, Out& out,
                   Convert convert)
{
    const std::size_t old = out.size();
    std::size_t written = 0;
    for (;;) {
        out.resize(old + capacity);
        auto* base = out.data() + old;
        auto* target = base + written;
        UErrorCode status = U_ZERO_ERROR;
        convert(converter, &target, base + capacity, &source, sourceEnd, nullptr, flush, &status);
        written = static_cast<std::size_t>(target - base);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            capacity *= 2;
            continue;
        }
        if (U_FAILURE(status)) {
            out.resize(old);
            return false;
        }
        out.resize(old + written);
        return true;
    }
}

} // namespace tarnwick::encoding
