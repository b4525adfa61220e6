// Fuzzes the byte line scanner with random bytes and random ranges: it must never read
// outside the bytes, must raise RangeError exactly for ranges that do not fit, and must agree with a plain reference scan for every other
// range.

#include "FuzzSupport.h"

#include "engine/mailbox/LineScanner.h"

namespace {

using tarnwick::ByteRange;
using tarnwick::fuzz::ExactBytes;
using tarnwick::fuzz::Picker;

bool isTerminator(char c) { return c == '\r' || c == '\n'; }

struct Line {
    std::uint64_t start, end, contentsEnd;
};

// The scan written the slow, obvious way, byte by byte.
Line reference(std::string_view b, ByteRange r)
{
    const std::uint64_t n = b.size();
    Line line{};
    std::uint64_t q = r.location;
    if (q >= 1 && q < n && b[q - 1] == '\r' && b[q] == '\n')
        q -= 1;
    line.start = 0;
    for (std::uint64_t i = q; i > 0; --i) {
        if (isTerminator(b[i - 1])) {
            line.start = i;
            break;
        }
    }
    std::uint64_t e = r.length == 0 ? r.location : r.location + r.length - 1;
    if (e >= 1 && e < n && b[e] == '\n' && b[e - 1] == '\r')
        e -= 1;
    line.contentsEnd = line.end = n;
    for (std::uint64_t t = e; t < n; ++t) {
        if (isTerminator(b[t])) {
            line.contentsEnd = t;
            line.end = (b[t] == '\r' && t + 1 < n && b[t + 1] == '\n') ? t + 2 : t + 1;
            break;
        }
    }
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Picker pick(data, size);
    const std::uint8_t mode = pick.byte();
    std::uint64_t location = pick.u64();
    std::uint64_t length = pick.u64();
    const ExactBytes bytes(pick.data(), pick.size());
    const std::uint64_t n = bytes.size();

    // Mostly ranges near the bytes, so that the valid paths get most of the time; the
    // rest keep the raw 64-bit values (overflowing sums included).
    switch (mode & 3) {
    case 0:
        location %= n + 1;
        length = length % (n - location + 1);
        break;
    case 1:
        location %= n + 2;
        length %= n + 2;
        break;
    case 2:
        location %= n + 1;
        length = 0;
        break;
    default:
        break;
    }
    const ByteRange range{location, length};
    const bool valid = location <= n && length <= n - location;

    tarnwick::LineBounds line;
    try {
        line = tarnwick::lineAround(bytes.view(), range);
    } catch (const tarnwick::RangeError&) {
        FUZZ_CHECK(!valid);
        return 0;
    }
    FUZZ_CHECK(valid);

    const Line expected = reference(bytes.view(), range);
    FUZZ_CHECK(line.start == expected.start && line.end == expected.end && line.contentsEnd == expected.contentsEnd);
    FUZZ_CHECK(expected.start <= location && expected.start <= expected.contentsEnd && expected.contentsEnd <= expected.end
               && expected.end <= n);
    return 0;
}
